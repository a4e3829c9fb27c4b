#include <cctype>

#include "platform/video/video.h"

namespace video {

bool ContainerOf(const std::string& path, Container& container) {
  const auto dot = path.find_last_of('.');
  const auto slash = path.find_last_of('/');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return false;
  std::string ext = path.substr(dot + 1);
  for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (ext == "mp4") container = Container::Mp4;
  else if (ext == "mkv") container = Container::Mkv;
  else if (ext == "webm") container = Container::Webm;
  else return false;
  return true;
}

}  // namespace video
