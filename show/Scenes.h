#pragma once
// What the scene units share beyond the timeline: the ticket streams of scenes two and four
// (exposed for the tests) and the render routine they have in common.

#include "show/TicketStream.h"

class TzanObject;

TTicketStream& Part2Stream();
TTicketStream& Part4Stream();

// Prologue, black, the tickets, the fog planes, the two layers, epilogue.
void RenderTicketStream(const TTicketStream& Tickets);

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
