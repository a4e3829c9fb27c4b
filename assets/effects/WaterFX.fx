// Placeholder water effect: draws the surface with the fixed-function pipeline.
matrix mID;
matrix mENV;
texture tFLR;
texture tCAU;
texture tENV;

technique Fallback
{
    pass P0
    {
    }
}
