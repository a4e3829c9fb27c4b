#pragma once
// GL's side of debug output (diagnostics.h): the driver's debug-message callback
// and GL errors, each reported with the backend call that caused it.

namespace gx {

// Installs the debug-message callback on the current context when debug output is
// on and the context offers it (KHR_debug); synchronous, so a message names its call.
void InstallGlDebugOutput();

// Marks a backend call ("Draw", "CreateTexture" ...) for the messages it causes and,
// with debug output on, reports every GL error left when it ends. Costs one flag test
// otherwise.
class GlCallScope {
 public:
  explicit GlCallScope(const char* call);
  ~GlCallScope();
  GlCallScope(const GlCallScope&) = delete;
  GlCallScope& operator=(const GlCallScope&) = delete;

 private:
  const char* previous_ = nullptr;
  bool checking_ = false;
};

}  // namespace gx
