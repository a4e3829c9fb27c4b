// PNG through libpng's simplified reader and JPEG through libjpeg(-turbo), both
// straight into BGRA8. Decoder errors come back as results: libpng's reader
// catches its own, and libjpeg's error exit is redirected to a longjmp here, so
// corrupt input never ends the process.

#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <vector>

#include <jpeglib.h>
#include <png.h>

#include "platform/gfx/d3dx/image.h"

namespace d3dx {
namespace {

bool SizeAcceptable(std::uint64_t w, std::uint64_t h) {
  return w > 0 && h > 0 && w <= kMaxImageSide && h <= kMaxImageSide && w * h <= kMaxImagePixels;
}

// ---------------------------------------------------------------------------
// JPEG

struct JpegError {
  jpeg_error_mgr manager;
  std::jmp_buf jump;
  char message[JMSG_LENGTH_MAX];
  bool warned;
};

[[noreturn]] void JpegErrorExit(j_common_ptr info) {
  auto* err = reinterpret_cast<JpegError*>(info->err);
  (*info->err->format_message)(info, err->message);
  std::longjmp(err->jump, 1);
}

// Warnings mean damaged data (premature end, bad Huffman codes...): the picture
// would come out partly grey, so they count as failure. Trace messages are ignored.
void JpegEmitMessage(j_common_ptr info, int level) {
  auto* err = reinterpret_cast<JpegError*>(info->err);
  if (level < 0 && !err->warned) {
    err->warned = true;
    (*info->err->format_message)(info, err->message);
  }
}

// Separate function so that no C++ object with a destructor lives across the setjmp.
bool JpegRun(const std::uint8_t* data, std::size_t size, Image& out, bool headerOnly, std::string& error) {
  jpeg_decompress_struct info;
  JpegError err;
  std::memset(&info, 0, sizeof info);
  info.err = jpeg_std_error(&err.manager);
  err.manager.error_exit = JpegErrorExit;
  err.manager.emit_message = JpegEmitMessage;
  err.warned = false;
  err.message[0] = 0;
  std::uint8_t* pixels = nullptr;

  if (setjmp(err.jump)) {
    jpeg_destroy_decompress(&info);
    error = err.message;
    return false;
  }
  jpeg_create_decompress(&info);
  // Keep libjpeg's own working memory bounded as well.
  info.mem->max_memory_to_use = 256L * 1024 * 1024;
  jpeg_mem_src(&info, const_cast<unsigned char*>(data), static_cast<unsigned long>(size));
  if (jpeg_read_header(&info, TRUE) != JPEG_HEADER_OK) {
    jpeg_destroy_decompress(&info);
    error = "no JPEG image";
    return false;
  }
  if (!SizeAcceptable(info.image_width, info.image_height)) {
    jpeg_destroy_decompress(&info);
    error = "bad JPEG size";
    return false;
  }
  out.width = info.image_width;
  out.height = info.image_height;
  out.hasAlpha = false;
  if (headerOnly) {
    jpeg_destroy_decompress(&info);
    return true;
  }
  info.out_color_space = JCS_EXT_BGRA;
  jpeg_start_decompress(&info);
  if (info.output_width != out.width || info.output_height != out.height || info.output_components != 4) {
    jpeg_destroy_decompress(&info);
    error = "unexpected JPEG output";
    return false;
  }
  pixels = out.bgra.data();
  while (info.output_scanline < info.output_height && !err.warned) {
    JSAMPROW row = pixels + std::size_t(info.output_scanline) * out.width * 4;
    jpeg_read_scanlines(&info, &row, 1);
  }
  if (!err.warned) jpeg_finish_decompress(&info);
  jpeg_destroy_decompress(&info);
  if (err.warned) {
    error = err.message;
    return false;
  }
  return true;
}

bool JpegDecode(const std::uint8_t* data, std::size_t size, Image& out, bool headerOnly, std::string& error) {
  // The picture buffer is sized from the header, so read that first.
  Image header;
  if (!JpegRun(data, size, header, true, error)) return false;
  if (headerOnly) {
    out = header;
    return true;
  }
  out.Allocate(header.width, header.height);
  out.hasAlpha = false;
  if (!JpegRun(data, size, out, false, error)) {
    out = Image();
    return false;
  }
  // JpegRun fills 4 bytes per texel with alpha 255 (JCS_EXT_BGRA).
  return true;
}

// ---------------------------------------------------------------------------
// PNG

// libpng's simplified reader takes 16-bit samples of a file that says nothing of its colour space
// for linear light and encodes them to sRGB on the way to 8 bits, which brightens every picture
// (8-bit ones it takes for sRGB). A file without gAMA, sRGB, iCCP or cHRM is sRGB as every viewer
// shows it; for a 16-bit one that is said with an sRGB chunk after IHDR. Empty when nothing needs
// saying.
std::vector<std::uint8_t> WithColourSpaceSaid(const std::uint8_t* data, std::size_t size) {
  constexpr std::size_t kAfterIhdr = 8 + 8 + 13 + 4;
  if (size < kAfterIhdr || std::memcmp(data + 12, "IHDR", 4) != 0 || data[24] != 16) return {};
  for (std::size_t at = 8; at + 8 <= size;) {
    const std::uint32_t length = (std::uint32_t(data[at]) << 24) | (std::uint32_t(data[at + 1]) << 16) |
                                 (std::uint32_t(data[at + 2]) << 8) | data[at + 3];
    const char* type = reinterpret_cast<const char*>(data + at + 4);
    if (std::memcmp(type, "IDAT", 4) == 0) break;
    for (const char* said : {"gAMA", "sRGB", "iCCP", "cHRM"})
      if (std::memcmp(type, said, 4) == 0) return {};
    if (length > size) break;
    at += 12 + std::size_t(length);
  }
  // Length 1, "sRGB", rendering intent 0 (perceptual), and the chunk's CRC.
  static const std::uint8_t kSrgb[] = {0, 0, 0, 1, 's', 'R', 'G', 'B', 0, 0xAE, 0xCE, 0x1C, 0xE9};
  std::vector<std::uint8_t> said(data, data + kAfterIhdr);
  said.insert(said.end(), std::begin(kSrgb), std::end(kSrgb));
  said.insert(said.end(), data + kAfterIhdr, data + size);
  return said;
}

bool PngDecode(const std::uint8_t* data, std::size_t size, Image& out, bool headerOnly, std::string& error) {
  const std::vector<std::uint8_t> said = headerOnly ? std::vector<std::uint8_t>() : WithColourSpaceSaid(data, size);
  if (!said.empty()) {
    data = said.data();
    size = said.size();
  }
  png_image image;
  std::memset(&image, 0, sizeof image);
  image.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_memory(&image, data, size)) {
    error = image.message;
    png_image_free(&image);
    return false;
  }
  if (!SizeAcceptable(image.width, image.height)) {
    png_image_free(&image);
    error = "bad PNG size";
    return false;
  }
  const bool alpha = (image.format & PNG_FORMAT_FLAG_ALPHA) != 0;
  if (headerOnly) {
    out.width = image.width;
    out.height = image.height;
    out.hasAlpha = alpha;
    png_image_free(&image);
    return true;
  }
  image.format = PNG_FORMAT_BGRA;
  out.Allocate(image.width, image.height);
  out.hasAlpha = alpha;
  if (!png_image_finish_read(&image, nullptr, out.bgra.data(), 0, nullptr)) {
    error = image.message;
    png_image_free(&image);
    out = Image();
    return false;
  }
  png_image_free(&image);
  return true;
}

}  // namespace

FileKind DetectFileKind(const std::uint8_t* data, std::size_t size) {
  if (!data) return FileKind::Unknown;
  if (size >= 2 && data[0] == 'B' && data[1] == 'M') return FileKind::Bmp;
  if (size >= 3 && data[0] == 0xFF && data[1] == 0xD8 && data[2] == 0xFF) return FileKind::Jpeg;
  static const std::uint8_t kPng[8] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
  if (size >= 8 && std::memcmp(data, kPng, 8) == 0) return FileKind::Png;
  if (size >= 4 && std::memcmp(data, "DDS ", 4) == 0) return FileKind::Dds;
  return FileKind::Unknown;
}

bool DecodePng(const std::uint8_t* data, std::size_t size, Image& out, std::string& error) {
  return PngDecode(data, size, out, false, error);
}

bool DecodeJpeg(const std::uint8_t* data, std::size_t size, Image& out, std::string& error) {
  return JpegDecode(data, size, out, false, error);
}

bool DecodeImage(const std::uint8_t* data, std::size_t size, Image& out, FileKind& kind, std::string& error) {
  kind = DetectFileKind(data, size);
  switch (kind) {
    case FileKind::Bmp: return DecodeBmp(data, size, out, error);
    case FileKind::Png: return DecodePng(data, size, out, error);
    case FileKind::Jpeg: return DecodeJpeg(data, size, out, error);
    case FileKind::Dds: {
      DdsFile dds;
      if (!DecodeDds(data, size, dds, error)) return false;
      if (dds.cube) {
        error = "cube map where a 2D picture was expected";
        return false;
      }
      out = std::move(dds.faces[0][0]);
      return true;
    }
    case FileKind::Unknown: break;
  }
  error = "unknown image file format";
  return false;
}

bool DecodeCube(const std::uint8_t* data, std::size_t size, DdsFile& out, std::string& error) {
  if (DetectFileKind(data, size) == FileKind::Dds) {
    if (!DecodeDds(data, size, out, error)) return false;
    if (out.cube) return true;
    error = "not a cube map";
    return false;
  }
  Image strip;
  FileKind kind;
  if (!DecodeImage(data, size, strip, kind, error)) return false;
  const std::uint32_t edge = strip.width;
  if (std::uint64_t(edge) * 6 != strip.height) {
    error = "a cube map picture is six square faces tall";
    return false;
  }
  out = DdsFile();
  out.cube = true;
  out.hasAlpha = strip.hasAlpha;
  out.width = out.height = edge;
  out.faces.resize(6);
  const std::size_t faceBytes = std::size_t(edge) * edge * 4;
  for (std::size_t f = 0; f < 6; ++f) {
    Image face;
    face.Allocate(edge, edge);
    face.hasAlpha = strip.hasAlpha;
    std::memcpy(face.bgra.data(), strip.bgra.data() + f * faceBytes, faceBytes);
    out.faces[f].push_back(std::move(face));
  }
  return true;
}

bool PeekImage(const std::uint8_t* data, std::size_t size, FileKind& kind, std::uint32_t& width,
               std::uint32_t& height, bool& hasAlpha, std::string& error) {
  kind = DetectFileKind(data, size);
  Image header;
  bool ok = false;
  switch (kind) {
    case FileKind::Png: ok = PngDecode(data, size, header, true, error); break;
    case FileKind::Jpeg: ok = JpegDecode(data, size, header, true, error); break;
    case FileKind::Bmp: ok = DecodeBmp(data, size, header, error); break;
    case FileKind::Dds: {
      DdsFile dds;
      ok = DecodeDds(data, size, dds, error);
      if (ok) {
        header.width = dds.width;
        header.height = dds.height;
        header.hasAlpha = dds.hasAlpha;
      }
      break;
    }
    case FileKind::Unknown: error = "unknown image file format"; break;
  }
  if (!ok) return false;
  width = header.width;
  height = header.height;
  hasAlpha = header.hasAlpha;
  return true;
}

}  // namespace d3dx
