#pragma once
// What the scene units share beyond the timeline: the ticket streams of scenes two and four
// (exposed for the tests) and the render routine they have in common.

#include <optional>

#include "show/SceneTable.h"
#include "show/TicketStream.h"

class TzanObject;

TTicketStream& Part2Stream();
TTicketStream& Part4Stream();

// Prologue, black, the tickets, the fog planes, the two layers, epilogue.
void RenderTicketStream(const TTicketStream& Tickets);

// A ticket stream's share of the warm-up: before the pass a copy goes to Kept and one ticket is
// put in view, so the stream's draws are part of the pass; after it the copy comes back.
void WarmUpTicketStream(TTicketStream& Stream, std::optional<TTicketStream>& Kept, TWarmUpPhase Phase);

// A white material whose ambient is AmbientShare times its diffuse colour, used when drawn.
void SetWhiteMaterial(TzanObject& Object, float AmbientShare);

// Scene three's slide show, for the tests.
struct TSlideShowState {
  uint32_t BeatStart;
  int BeatCount;
  int TicketIndex;
  float SlideA;
  float SlideB;
};
TSlideShowState Part3State();

// Scene five's start of the final fade (0 = not begun).
uint32_t Part5FadeOutStart();
