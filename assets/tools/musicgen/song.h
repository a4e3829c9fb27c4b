#pragma once
// The show's soundtrack: 130 BPM, bars of four beats, laid out so that the
// scene and step cuts fall on downbeats (with a fill into them) and the
// picture's white beat flashes, on the "and" after beats one and three, on the
// hardest hit of the bar.

#include <vector>

#include "cuts.h"

namespace musicgen {

// Renders the song, interleaved stereo floats at kRate, normalised.
// `seconds` < 0 renders all of it; otherwise the song is cut there.
std::vector<float> RenderSong(double seconds = -1.0);

}  // namespace musicgen
