// 8-bit greyscale images as PNG files, and as data: URLs that a page can show
// without loading anything. Only the chunks are written here; the image data
// are compressed by zlib.
#ifndef TESSEL_REPORT_PNG_IMAGE_H
#define TESSEL_REPORT_PNG_IMAGE_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tsl {

// width x height grey levels, row by row from the top, 0 black ... 255 white.
struct GreyImage {
  std::size_t width = 0;
  std::size_t height = 0;
  std::vector<std::uint8_t> pixels;
};

// The largest width or height a PNG file can state.
inline constexpr std::size_t kPngMaxDimension = 0x7fffffff;

// The bytes of a PNG file of image: the signature, IHDR (bit depth 8, colour
// type 0 greyscale, no interlace), one IDAT holding the zlib stream of the
// rows, each preceded by filter type 0, and IEND; every chunk with its CRC.
// Throws std::invalid_argument when a dimension is 0 or above
// kPngMaxDimension, or when pixels does not hold width x height values; and
// std::length_error when the compressed rows would not fit one chunk.
std::string encodePng(const GreyImage& image);

// bytes in base64 (RFC 4648, with "=" padding, no line breaks).
std::string base64Of(std::string_view bytes);

// "data:image/png;base64," followed by the base64 of png.
std::string pngDataUrl(std::string_view png);

}  // namespace tsl

#endif
