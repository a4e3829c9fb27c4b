// The writer of a build without FFmpeg's libraries (the browser build): it never opens, and says
// why, so --capture ends with a clear message before anything is rendered.

#include "platform/video/video.h"

namespace video {

struct Writer::Impl {
  std::string temporary;
};

Writer::Writer(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
Writer::~Writer() = default;

std::unique_ptr<Writer> Writer::Open(const Settings&, std::string& error) {
  error = "this build writes no video files (it has no video encoders)";
  return nullptr;
}

std::uint8_t* Writer::AcquireFrame() { return nullptr; }
void Writer::SubmitFrame() {}
void Writer::SubmitAudio(const std::int16_t*, std::size_t) {}
bool Writer::Finish(std::string& error) {
  error = "no video file was written";
  return false;
}
void Writer::Abort() {}
bool Writer::Failed() const { return true; }
std::uint64_t Writer::FramesSubmitted() const { return 0; }
const std::string& Writer::TemporaryPath() const { return impl_->temporary; }

}  // namespace video
