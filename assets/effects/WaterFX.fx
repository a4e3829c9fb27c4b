// The pool's water. Each surface vertex brings its refracted floor coordinates
// (texture coordinate 0, computed on the CPU from the bowl under the water) and,
// in its diffuse alpha, the share of light the surface reflects (a Fresnel term:
// nearly nothing when looked at straight down, most of it at grazing angles).
// The floor is seen through the water, tinted; the sky cube is reflected on top.
// Techniques go from the richest to one that any device can run.

texture2D tFLR;    // the pool floor
texture2D tCAU;    // light focused on the floor by the waves, rendered from above
textureCube tENV;  // the sky
matrix mENV;       // turns camera-space reflection vectors into cube-map directions
matrix mID;        // identity

common
{
    varying vec2 vFloor;
    varying vec3 vSky;
    varying float vReflect;

    // How deep water colours what is seen through it, and the sky when no cube is there.
    const vec3 WaterTint = vec3(0.72, 0.90, 0.97);
    const vec3 SkyLow = vec3(0.55, 0.68, 0.80);
    const vec3 SkyHigh = vec3(0.20, 0.40, 0.75);
}

vertexshader SurfaceVS
{
    uniform vec4 gx_FogParams;  // fog start, end, density: the device fills it in

    void main()
    {
        vec4 world = gx_World * gx_Position;
        vec4 eye = gx_View * world;
        gx_ClipPos = gx_Projection * eye;

        vec3 n = normalize(mat3(gx_View) * (mat3(gx_World) * gx_Normal));
        vec3 r = reflect(normalize(eye.xyz), n);
        vSky = (mENV * vec4(r, 1.0)).xyz;
        vFloor = gx_TexCoord0.xy;
        vReflect = gx_Diffuse.a;

        // Linear range fog, as the frame sets it up; the device applies it when fog is on.
        float span = gx_FogParams.y - gx_FogParams.x;
        gx_Fog = span > 0.0 ? clamp((gx_FogParams.y - length(eye.xyz)) / span, 0.0, 1.0) : 1.0;
        gx_Color0 = gx_Diffuse;
        gx_Color1 = vec4(0.0);
        gx_Tex0 = gx_TexCoord0;
        gx_Tex1 = gx_Tex0;
        gx_Tex2 = gx_Tex0;
        gx_Tex3 = gx_Tex0;
    }
}

pixelshader CausticsPS
{
    void main()
    {
        vec3 below = texture(tFLR, vFloor).rgb * WaterTint + texture(tCAU, vFloor).rgb;
        vec3 sky = texture(tENV, vSky).rgb;
        gx_FragColor = vec4(mix(below, sky, vReflect), 1.0);
    }
}

pixelshader ClearPS
{
    void main()
    {
        vec3 below = texture(tFLR, vFloor).rgb * WaterTint;
        vec3 sky = texture(tENV, vSky).rgb;
        gx_FragColor = vec4(mix(below, sky, vReflect), 1.0);
    }
}

pixelshader NoCubePS
{
    void main()
    {
        vec3 below = texture(tFLR, vFloor).rgb * WaterTint;
        vec3 sky = mix(SkyLow, SkyHigh, clamp(normalize(vSky).y, 0.0, 1.0));
        gx_FragColor = vec4(mix(below, sky, vReflect), 1.0);
    }
}

technique RefractReflectCaustics
{
    requires cubemap, vs_2_0, ps_2_0;
    pass P0
    {
        vertexshader = SurfaceVS;
        pixelshader = CausticsPS;
        texture[0] = tFLR;
        texture[1] = tCAU;
        texture[2] = tENV;
        addressu[0] = wrap;
        addressv[0] = wrap;
        minfilter[0] = linear;
        magfilter[0] = linear;
        mipfilter[0] = linear;
        addressu[1] = clamp;
        addressv[1] = clamp;
        minfilter[1] = linear;
        magfilter[1] = linear;
        mipfilter[1] = none;
        minfilter[2] = linear;
        magfilter[2] = linear;
        mipfilter[2] = linear;
        alphablendenable = false;
        cullmode = none;
    }
}

technique RefractReflect
{
    requires cubemap, vs_2_0, ps_2_0;
    pass P0
    {
        vertexshader = SurfaceVS;
        pixelshader = ClearPS;
        texture[0] = tFLR;
        texture[1] = tENV;
        addressu[0] = wrap;
        addressv[0] = wrap;
        minfilter[0] = linear;
        magfilter[0] = linear;
        mipfilter[0] = linear;
        minfilter[1] = linear;
        magfilter[1] = linear;
        mipfilter[1] = linear;
        alphablendenable = false;
        cullmode = none;
    }
}

technique Refract
{
    requires vs_2_0, ps_2_0;
    pass P0
    {
        vertexshader = SurfaceVS;
        pixelshader = NoCubePS;
        texture[0] = tFLR;
        addressu[0] = wrap;
        addressv[0] = wrap;
        minfilter[0] = linear;
        magfilter[0] = linear;
        mipfilter[0] = linear;
        alphablendenable = false;
        cullmode = none;
    }
}

// Fixed function: the floor through the vertex coordinates, blended towards a sky
// colour by the reflection share in the vertex alpha.
technique Fixed
{
    pass P0
    {
        vertexshader = null;
        pixelshader = null;
        lighting = false;
        texture[0] = tFLR;
        texcoordindex[0] = passthru;
        texturetransformflags[0] = disable;
        colorop[0] = selectarg1;
        colorarg1[0] = texture;
        alphaop[0] = selectarg1;
        alphaarg1[0] = diffuse;
        texture[1] = null;
        colorop[1] = blenddiffusealpha;
        colorarg1[1] = tfactor;
        colorarg2[1] = current;
        alphaop[1] = selectarg1;
        alphaarg1[1] = current;
        colorop[2] = disable;
        alphaop[2] = disable;
        texturefactor = 0xFF6E93C4;
        addressu[0] = wrap;
        addressv[0] = wrap;
        minfilter[0] = linear;
        magfilter[0] = linear;
        mipfilter[0] = linear;
        alphablendenable = false;
        cullmode = none;
    }
}
