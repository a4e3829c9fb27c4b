#include "engine/vokShadow.h"

TShadowVolume::TShadowVolume(TvokD3D* D3D) : D3D(D3D) {}

// Nothing was taken from the device, so there is nothing to give back.
TShadowVolume::~TShadowVolume() = default;
