#pragma once
// Every picture of the archive, each drawn from scratch (no input files).

#include "assets/tools/picgen/canvas.h"

namespace picgen {

Image Ticket(int n, Image* landscape = nullptr);  // n = 1..11, 256 x 512
constexpr int kEndWidth = 1920, kEndHeight = 1080;
constexpr int kSkyFace = 512;
Image EndPicture();                                // kEndWidth x kEndHeight, title and credits
Image ShowDown();                                  // 512 x 512, the stage emblem on the pool platform
Image PoolFloor();                                 // 256 x 256, tiles under the water
Image Floor();                                     // 256 x 256, one stone tile of the slide-show floor
Image Fog();                                       // 256 x 256, soft cloud with alpha, black at the edges
Image EnvMap();                                    // 256 x 256, sphere map of a lit studio
Image Eye();                                       // 256 x 256
Image InvSpot();                                   // 128 x 128, dark soft spot on white
Image Particle();                                  // 64 x 64, soft white glow with alpha
void SkyCube(int size, Image faces[6]);            // +X, -X, +Y, -Y, +Z, -Z

}  // namespace picgen
