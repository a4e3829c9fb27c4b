#pragma once
// Where the song cuts, in bars from the show's first moment: the bar each scene of the show starts
// on, in show order, and the song's length. The soundtrack is written around these bars (fills
// into them, a hit on each), so a scene whose length changes needs the song changed with it; the
// scene tests hold the show's table against this list and name the scene that no longer fits.

namespace musicgen {

constexpr double kBpm = 130.0;
constexpr double kBeatSeconds = 60.0 / kBpm;
constexpr int kBeatsPerBar = 4;

// Water intro, first ticket stream, slide show, second stream, the end picture.
constexpr int kSceneStartBar[] = {0, 10, 26, 34, 50};
constexpr int kSongBars = 57;  // about 105 s: the show's whole run

}  // namespace musicgen
