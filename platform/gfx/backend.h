#pragma once
// Backend selection, fault injection and the layer's own extensions (Gx...).
// None of this is Direct3D 9; tests, the capture options, debug output and the
// start-up warm-up use it.

#include <cstdint>
#include <string>
#include <vector>

#include "platform/gfx/d3d9.h"
#include "platform/gfx/device_state.h"

namespace gx {

enum class BackendKind { Gl, Recording };

// Takes effect for the next Direct3DCreate9. The default is Gl.
void SetBackendKind(BackendKind kind);
BackendKind GetBackendKind();

// Faults the next calls meet. Meant for the recording backend (tests of every
// failure path); the checks sit in the shared device front end, so they also
// apply to gl. Counters count down as the faults fire.
struct Faults {
  bool failDirect3DCreate = false;
  int failCreateDevice = 0;                      // this many CreateDevice calls fail
  HRESULT createDeviceError = D3DERR_NOTAVAILABLE;
  std::vector<D3DFORMAT> unsupportedDepthFormats;  // depth-stencil probes of CheckDeviceFormat that fail
  bool failGetDeviceCaps = false;
  int failBeginScene = 0;                        // this many BeginScene calls fail
  int presentDeviceLost = 0;                     // this many Present calls lose the device
  // TestCooperativeLevel results while lost, one per call; the last one repeats.
  // Empty means D3DERR_DEVICENOTRESET straight away.
  std::vector<HRESULT> lostCooperativeLevels;
  int failReset = 0;                             // this many Reset calls fail with D3DERR_DEVICELOST
  int failLock = 0;                              // this many Lock / LockRect calls fail
  int failCreateResource = 0;                    // this many Create... (texture, buffer, shader) calls fail
};
Faults& InjectedFaults();
void ClearFaults();
// Counts one of the counted faults down: true when it fires now.
bool FaultFires(int Faults::*counter);

// A lost graphics context, as the browser reports it (WebGL's context-lost and -restored events)
// or as a test makes it (natively the context is replaced by a fresh one when it comes back, so
// every GL name held before is abandoned). From the loss on, Present and TestCooperativeLevel
// report D3DERR_DEVICELOST; once the context is back, TestCooperativeLevel reports
// D3DERR_DEVICENOTRESET and Reset brings the device back: textures and buffers come back from
// their system copies, render targets come back transparent black.
void GxContextLost(IDirect3DDevice9* device);
HRESULT GxContextRestored(IDirect3DDevice9* device);

// Debug output: the GL driver's debug messages, GL errors with the call that caused
// them, and why a call was rejected or a fixed-function setting not handled (each
// said once), on standard error as "graphics: ...". On by default in debug builds
// (without NDEBUG) or with GX_GFX_DEBUG=1; takes effect for GL at the next CreateDevice.
void SetDebugOutput(bool on);
bool DebugOutput();
// Every message said so far (kept whether or not debug output is on), and a fresh start.
std::vector<std::string> GxReportedMessages();
void GxClearReportedMessages();

// The display modes adapter 0 reports (tests). An empty list restores the
// default: SDL's modes of display 0, or a fixed list when headless.
void GxSetDisplayModes(const std::vector<D3DDISPLAYMODE>& modes, const D3DDISPLAYMODE& desktop);
void GxResetDisplayModes();

// One draw as the recording backend saw it, with the whole state in force.
struct DrawRecord {
  enum class Kind { Primitive, IndexedPrimitive, PrimitiveUP, IndexedPrimitiveUP } kind;
  D3DPRIMITIVETYPE type;
  UINT primitiveCount;
  UINT startVertex;      // first vertex (non-indexed) or base vertex index (indexed)
  UINT startIndex;
  UINT vertexCount;      // vertices read
  UINT stride;
  std::vector<std::uint8_t> vertices;  // the vertices read, copied (vertexCount * stride bytes)
  std::vector<std::uint16_t> indexes;  // the 16-bit indexes read, for indexed draws
  std::uint64_t programKey;            // hash of the fixed-function key in force
  DeviceState state;
};

// The recording log. Calls are named as the device method plus its main
// arguments, e.g. "SetRenderState 27 1", "Clear 1 ff000000", "Present".
const std::vector<DrawRecord>& GxRecordedDraws(IDirect3DDevice9* device);
const std::vector<std::string>& GxRecordedCalls(IDirect3DDevice9* device);
void GxClearRecording(IDirect3DDevice9* device);

struct Stats {
  std::uint64_t draws = 0;
  std::uint64_t frames = 0;             // Presents
  std::uint64_t programsCompiled = 0;   // GLSL programs linked (gl)
  std::uint64_t shadersCompiled = 0;    // vertex and fragment shader objects compiled for them (gl)
  std::uint64_t glCalls = 0;            // GL calls issued by the gl backend, the sum of:
  std::uint64_t glStateCalls = 0;       //   state the cache let through
  std::uint64_t glUniformCalls = 0;     //   uniform uploads
  std::uint64_t glUploadCalls = 0;      //   buffer and texture data
  std::uint64_t glDrawCalls = 0;        //   draws and clears
  std::uint64_t glObjectCalls = 0;      //   creating and attaching GL objects
  std::uint64_t glFrameCalls = 0;       //   present and read-back
  std::uint64_t stateChanges = 0;       // Set... calls that changed a value and reached the backend
  std::uint64_t redundantStates = 0;    // Set... calls with an unchanged value, filtered out
};
Stats GxGetStats(IDirect3DDevice9* device);
void GxResetStats(IDirect3DDevice9* device);

// The current back buffer as RGBA8, top row first (screenshots, tests).
HRESULT GxReadBackBuffer(IDirect3DDevice9* device, std::vector<std::uint8_t>& rgba, UINT& width, UINT& height);
// Asynchronous read-back of the back buffer (capture): Queue starts copying the current back
// buffer into pixel buffer `slot` (0..7) without waiting for it; Take, a few frames later, waits
// for that copy and writes its RGBA8 rows (top row first, width * height * 4 bytes) to `rgba`.
// D3DERR_NOTAVAILABLE where the backend cannot (recording): read with GxReadBackBuffer instead.
HRESULT GxQueueBackBufferRead(IDirect3DDevice9* device, unsigned slot);
HRESULT GxTakeBackBufferRead(IDirect3DDevice9* device, unsigned slot, std::uint8_t* rgba, std::size_t size);
// Any render-target surface (or a texture level) as RGBA8, top row first.
HRESULT GxReadSurface(IDirect3DSurface9* surface, std::vector<std::uint8_t>& rgba, UINT& width, UINT& height);

// Program precompilation (see docs/gfx.md): a warm-up pass through the scenes.
// While warm-up is on, draws prepare their programs and GL state but draw
// nothing: a start-up pass through the scenes compiles what the show needs.
void GxSetWarmUp(IDirect3DDevice9* device, bool on);

}  // namespace gx
