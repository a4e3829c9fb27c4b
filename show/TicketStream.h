#pragma once
// The stream of tickets through the fog layers. Scenes two and four show it with the same
// rules, each with its own stream: tickets spawn every 210 ms at Z = 70 and fly towards the
// camera, every ticket is drawn three times side by side, the camera target shakes, and the
// fog planes drift and turn around the stream.

#include <array>
#include <cstdint>

#include "platform/gfx/d3dx/d3dx9.h"
#include "show/Timeline.h"

class TvokD3D;

struct TTicket {
  bool Active = false;
  D3DXVECTOR3 Pos{0, 0, 0};
  float StartZ = 0;
  float Angle = 0;  // pitch, radians
  int Image = 1;    // 1..11, index into TexTickets
  uint32_t Born = 0;
};

class TTicketStream {
 public:
  static constexpr int Capacity = 100;
  static constexpr uint32_t SpawnInterval = 210;
  static constexpr uint32_t ShakeInterval = 20;

  std::array<TTicket, Capacity> Tickets{};  // entry i + 1 of the stream lives at index i
  uint32_t SpawnTime = 0;
  uint32_t ShakeTime = 0;
  timeline::TBeatFlash Beat;
  float LaneY;  // height of every new ticket

  explicit TTicketStream(float LaneY) : LaneY(LaneY) {}

  // Every entry inactive and the timers and the beat grid as at start-up.
  void Clear();
  // Ten tickets from Z = 70 down to Z = 7, so the stream is full from the first frame.
  void FirstTickets(uint32_t Time);
  // The scene's first frame: the first tickets, and the spawn and shake timers start now.
  void Start(uint32_t Time);
  // One frame of the stream: spawn, move, then shake the camera target.
  void Advance(uint32_t Time, TvokD3D& D3D);
  // At most one new ticket per frame, in the lowest free entry; a slot with no free entry is lost.
  void Spawn(uint32_t Time);
  // Moves every live ticket towards negative Z at 1/30 unit per ms; retires it below Z = -50.
  void Move(uint32_t Time);
  // Moves the camera target a little on a 20 ms grid, catching up one slot per frame.
  void Shake(uint32_t Time, TvokD3D& D3D);
  // Every live ticket in entry order, three times: straight in the middle, tilted at the sides.
  void Draw() const;
  int ActiveCount() const;
};

// The 95 additive fog planes: 3 units apart, drifting towards negative Z with the scene time
// and turning together with the engine time.
void DrawFogPlanes(uint32_t SceneTime, uint32_t Time);
