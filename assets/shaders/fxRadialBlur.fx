// Radial blur: the picture smeared along the lines running out from a centre, as if the
// camera rushed towards it. tTex transforms the texture coordinates of the full-screen quad
// (identity unless somebody moves or zooms the source); tFrame is the picture to blur.

matrix tTex;
texture tFrame;
float fRadialLevel = 0.12;
float2 vCentre = {0.5, 0.54};

pixelshader RadialBlurPS
{
    void main()
    {
        vec2 uv = (tTex * vec4(gx_Tex0.xy, 0.0, 1.0)).xy;
        vec2 toCentre = vCentre - uv;
        vec3 sum = vec3(0.0);
        float weight = 0.0;
        for (int i = 0; i < 12; i++) {
            float t = float(i) / 11.0;
            // nearer samples count more, so the picture stays readable under its streaks
            float w = 1.0 - 0.7 * t;
            sum += texture(tFrame, uv + toCentre * t * fRadialLevel).rgb * w;
            weight += w;
        }
        gx_FragColor = vec4(sum / weight, 1.0);
    }
}

technique RadialBlur
{
    requires ps_2_0;
    pass P0
    {
        texture[0] = tFrame;
        pixelshader = RadialBlurPS;
        minfilter[0] = linear;
        magfilter[0] = linear;
        addressu[0] = clamp;
        addressv[0] = clamp;
        cullmode = none;
        zenable = false;
        zwriteenable = false;
        alphablendenable = false;
    }
}

// Without pixel shaders: the picture through the transform, unblurred.
technique RadialBlurFixed
{
    pass P0
    {
        texture[0] = tFrame;
        texturetransform[0] = tTex;
        texturetransformflags[0] = count2;
        colorop[0] = selectarg1;
        colorarg1[0] = texture;
        alphaop[0] = selectarg1;
        alphaarg1[0] = texture;
        cullmode = none;
        zenable = false;
        zwriteenable = false;
        alphablendenable = false;
    }
}
