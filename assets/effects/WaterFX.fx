// The pool's water, worked out per pixel from the simulated heights (tHGT): a smooth
// surface laid through them gives the normal, and with it the share of light the surface
// reflects (a Fresnel term: nearly nothing when looked at straight down, most of it at
// grazing angles) and the floor seen through it, refracted into the bowl under the water,
// so that the grid of the mesh never shows however large the picture. The floor is seen
// tinted; the sky cube is reflected on top. Techniques go from the richest to one that any
// device can run; that last one takes what the mesh carries per vertex (its floor
// coordinates and, in its diffuse alpha, the reflected share).

texture2D tFLR;    // the pool floor
texture2D tCAU;    // light focused on the floor by the waves, rendered from above
textureCube tENV;  // the sky
texture2D tHGT;    // the heights of the 64 x 64 cells (see CellPair)
matrix mENV;       // turns camera-space reflection vectors into cube-map directions
matrix mID;        // identity
float4 vEYE = { 1, 5, 1, 1 };  // the viewer the floor is refracted for, in the pool's coordinates
float fSIZE = 100;             // edge length of the pool
float fHMAX = 8;               // the heights the texture holds run from -fHMAX to +fHMAX

common
{
    varying vec3 vPool;     // the point of the surface in the pool's own coordinates
    varying vec3 vEyePos;   // the same point in view space
    varying mat3 vToView;   // pool directions to view space

    // How deep water colours what is seen through it, and the sky when no cube is there.
    const vec3 WaterTint = vec3(0.72, 0.90, 0.97);
    const vec3 SkyLow = vec3(0.55, 0.68, 0.80);
    const vec3 SkyHigh = vec3(0.20, 0.40, 0.75);

    // The heights of cells (x, y) and (x + 1, y), each a 16-bit fixed-point number in two
    // bytes, high byte first, as a share of the range: 0 is -limit, 1 is +limit. The grid
    // wraps both ways, as the simulation's does.
    vec2 CellPair(sampler2D heights, ivec2 cell)
    {
        vec4 bytes = texelFetch(heights, cell & 63, 0);
        const vec2 word = vec2(255.0 * 256.0, 255.0) / 65535.0;
        return vec2(dot(bytes.rg, word), dot(bytes.ba, word));
    }

    // The weights a uniform cubic B-spline gives the four cells around a point f (0..1) past
    // the second of them, and the weights of its slope.
    void SplineWeights(float f, out vec4 weight, out vec4 slope)
    {
        const vec4 a = vec4(-1.0, 3.0, -3.0, 1.0) / 6.0;
        const vec4 b = vec4(3.0, -6.0, 3.0, 0.0) / 6.0;
        const vec4 c = vec4(-3.0, 0.0, 3.0, 0.0) / 6.0;
        const vec4 d = vec4(1.0, 4.0, 1.0, 0.0) / 6.0;
        weight = ((a * f + b) * f + c) * f + d;
        slope = (3.0 * a * f + 2.0 * b) * f + c;
    }

    // The surface through the cells as a uniform cubic B-spline, at a point given in cells:
    // its slope, and so the light, bends without a crease from one cell to the next.
    // Returns the slope along x, the height and the slope along y, per cell.
    vec3 SmoothSurface(sampler2D heights, vec2 at, float limit)
    {
        vec2 base = floor(at);
        vec4 wx, dx, wy, dy;
        SplineWeights(at.x - base.x, wx, dx);
        SplineWeights(at.y - base.y, wy, dy);
        // Each column of cells weighed down the rows, for the height and for the slope along y.
        ivec2 corner = ivec2(base) - 1;
        vec4 down = vec4(0.0), downSlope = vec4(0.0);
        for (int j = 0; j < 4; ++j) {
            ivec2 c = corner + ivec2(0, j);
            vec4 row = vec4(CellPair(heights, c), CellPair(heights, c + ivec2(2, 0)));
            down += wy[j] * row;
            downSlope += dy[j] * row;
        }
        vec3 share = vec3(dot(dx, down), dot(wx, down), dot(wx, downSlope));
        return share * (2.0 * limit) - vec3(0.0, limit, 0.0);
    }

    // The normal of the surface at a point of the pool: the slopes taken six times over,
    // as the mesh's normals (a 3 x 3 difference over the cells) always made them.
    vec3 SurfaceNormal(sampler2D heights, vec3 pool, float size, float limit, out float height)
    {
        vec3 s = SmoothSurface(heights, (pool.xz / size + 0.5) * 63.0, limit);
        height = s.y;
        return normalize(vec3(-6.0 * s.x, 1.0, -6.0 * s.z));
    }

    struct WaterLook
    {
        vec2 floorAt;        // where the floor is seen through the water
        vec3 skyAt;          // the sky direction the surface reflects
        float reflectShare;  // how much of the sky against the floor
    };

    // Per pixel what the mesh carries per vertex: the reflected share and the refracted
    // floor for the viewer `eye`, and the sky reflected towards the camera.
    WaterLook LookAt(sampler2D heights, vec4 eye, float size, float limit, mat4 env)
    {
        float height;
        vec3 n = SurfaceNormal(heights, vPool, size, limit, height);
        vec3 p = vec3(vPool.x, height, vPool.z);
        vec3 e = normalize(eye.xyz - p);
        float c = clamp(dot(e, n), 0.0, 1.0);
        WaterLook look;
        look.reflectShare = 0.9922 * (1.0 - c) * (1.0 - c) * (1.0 - c);
        // Into the water (refractive index 1.333) ...
        float cosBelow = sqrt(1.0 - (1.0 - c * c) / (1.333 * 1.333));
        vec3 t = (n * (1.333 * cosBelow - c) + e) * (-1.0 / 1.333);
        // ... down to the floor, the inside of a sphere of radius 50 whose centre is 20 units
        // above the middle of the surface; beyond its rim the floor is seen straight down.
        vec3 q = p - vec3(0.0, 20.0, 0.0);
        float k = dot(q, q) - 2500.0;
        float b = 2.0 * dot(t, q);
        float along = k < 0.0 ? (sqrt(b * b - 4.0 * k) - b) * 0.5 : 0.0;
        look.floorAt = (q.xz + t.xz * along) / size + 0.5;
        vec3 r = reflect(normalize(vEyePos), normalize(vToView * n));
        look.skyAt = (env * vec4(r, 1.0)).xyz;
        return look;
    }
}

vertexshader SurfaceVS
{
    uniform vec4 gx_FogParams;  // fog start, end, density: the device fills it in

    void main()
    {
        vec4 world = gx_World * gx_Position;
        vec4 eye = gx_View * world;
        gx_ClipPos = gx_Projection * eye;

        vPool = gx_Position.xyz;
        vEyePos = eye.xyz;
        vToView = mat3(gx_View) * mat3(gx_World);

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
        WaterLook look = LookAt(tHGT, vEYE, fSIZE, fHMAX, mENV);
        vec3 below = texture(tFLR, look.floorAt).rgb * WaterTint + texture(tCAU, look.floorAt).rgb;
        vec3 sky = texture(tENV, look.skyAt).rgb;
        gx_FragColor = vec4(mix(below, sky, look.reflectShare), 1.0);
    }
}

pixelshader ClearPS
{
    void main()
    {
        WaterLook look = LookAt(tHGT, vEYE, fSIZE, fHMAX, mENV);
        vec3 below = texture(tFLR, look.floorAt).rgb * WaterTint;
        vec3 sky = texture(tENV, look.skyAt).rgb;
        gx_FragColor = vec4(mix(below, sky, look.reflectShare), 1.0);
    }
}

pixelshader NoCubePS
{
    void main()
    {
        WaterLook look = LookAt(tHGT, vEYE, fSIZE, fHMAX, mENV);
        vec3 below = texture(tFLR, look.floorAt).rgb * WaterTint;
        vec3 sky = mix(SkyLow, SkyHigh, clamp(normalize(look.skyAt).y, 0.0, 1.0));
        gx_FragColor = vec4(mix(below, sky, look.reflectShare), 1.0);
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
        texture[3] = tHGT;
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
        minfilter[3] = point;
        magfilter[3] = point;
        mipfilter[3] = none;
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
        texture[2] = tHGT;
        addressu[0] = wrap;
        addressv[0] = wrap;
        minfilter[0] = linear;
        magfilter[0] = linear;
        mipfilter[0] = linear;
        minfilter[1] = linear;
        magfilter[1] = linear;
        mipfilter[1] = linear;
        minfilter[2] = point;
        magfilter[2] = point;
        mipfilter[2] = none;
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
        texture[1] = tHGT;
        addressu[0] = wrap;
        addressv[0] = wrap;
        minfilter[0] = linear;
        magfilter[0] = linear;
        mipfilter[0] = linear;
        minfilter[1] = point;
        magfilter[1] = point;
        mipfilter[1] = none;
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
