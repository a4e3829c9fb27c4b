// Placeholder radial blur effect: one technique, one fixed-function pass, the matrix "tTex".
matrix tTex;

technique RadialBlur
{
    pass P0
    {
    }
}
