#include "report/png_image.h"

#include <zlib.h>

#include <algorithm>
#include <array>
#include <new>
#include <stdexcept>

namespace tsl {

namespace {

constexpr std::array<unsigned char, 8> kPngSignature = {0x89, 'P',  'N',  'G',
                                                        '\r', '\n', 0x1a, '\n'};
constexpr unsigned char kBitDepth = 8;
constexpr unsigned char kColourTypeGrey = 0;
constexpr unsigned char kFilterNone = 0;
// Carpet images are mostly noise: the highest level makes them no smaller
// (measured on synthetic carpets), only slower.
constexpr int kCompressionLevel = Z_DEFAULT_COMPRESSION;
constexpr std::size_t kDeflateBlock = 1 << 16;

void appendBigEndian32(std::string& out, std::uint32_t value) {
  for (int shift = 24; shift >= 0; shift -= 8) {
    out.push_back(static_cast<char>((value >> shift) & 0xffU));
  }
}

// Appends the chunk of type with data; the CRC covers the type and the data.
void appendChunk(std::string& out, const char (&type)[5], std::string_view data) {
  if (data.size() > kPngMaxDimension) {
    throw std::length_error("PNG image: a chunk of " + std::to_string(data.size()) +
                            " bytes is too long");
  }
  appendBigEndian32(out, static_cast<std::uint32_t>(data.size()));
  const std::size_t typeStart = out.size();
  out.append(type, 4);
  out.append(data);
  const auto* bytes = reinterpret_cast<const Bytef*>(out.data() + typeStart);
  const uLong crc = crc32(crc32(0L, Z_NULL, 0), bytes, static_cast<uInt>(4 + data.size()));
  appendBigEndian32(out, static_cast<std::uint32_t>(crc));
}

// Owns a deflate stream writing zlib's format, the one IDAT holds.
class Deflater {
 public:
  Deflater() {
    if (deflateInit(&stream_, kCompressionLevel) != Z_OK) throw std::bad_alloc();
  }
  ~Deflater() { deflateEnd(&stream_); }
  Deflater(const Deflater&) = delete;
  Deflater& operator=(const Deflater&) = delete;

  // Compresses size bytes at data into out; with finish, ends the stream.
  void feed(const std::uint8_t* data, std::size_t size, bool finish, std::string& out) {
    // zlib's counts are 32 bits wide on Windows; a row is at most
    // kPngMaxDimension + 1 bytes, so it is fed in blocks.
    for (;;) {
      const std::size_t now = std::min(size, kDeflateBlock);
      stream_.next_in = const_cast<Bytef*>(data);
      stream_.avail_in = static_cast<uInt>(now);
      data += now;
      size -= now;
      const int flush = finish && size == 0 ? Z_FINISH : Z_NO_FLUSH;
      int status = Z_OK;
      do {
        std::array<Bytef, kDeflateBlock> buffer;
        stream_.next_out = buffer.data();
        stream_.avail_out = static_cast<uInt>(buffer.size());
        status = deflate(&stream_, flush);
        if (status == Z_STREAM_ERROR) throw std::logic_error("PNG image: deflate failed");
        out.append(reinterpret_cast<const char*>(buffer.data()), buffer.size() - stream_.avail_out);
      } while (flush == Z_FINISH ? status != Z_STREAM_END : stream_.avail_out == 0);
      if (size == 0) return;
    }
  }

 private:
  z_stream stream_{};
};

}  // namespace

std::string encodePng(const GreyImage& image) {
  if (image.width == 0 || image.height == 0 || image.width > kPngMaxDimension ||
      image.height > kPngMaxDimension) {
    throw std::invalid_argument("PNG image: " + std::to_string(image.width) + " x " +
                                std::to_string(image.height) +
                                " pixels; width and height must be 1 to 2147483647");
  }
  if (image.pixels.size() / image.width != image.height || image.pixels.size() % image.width != 0) {
    throw std::invalid_argument("PNG image: " + std::to_string(image.pixels.size()) +
                                " pixels given for " + std::to_string(image.width) + " x " +
                                std::to_string(image.height));
  }

  std::string header;
  appendBigEndian32(header, static_cast<std::uint32_t>(image.width));
  appendBigEndian32(header, static_cast<std::uint32_t>(image.height));
  header.push_back(static_cast<char>(kBitDepth));
  header.push_back(static_cast<char>(kColourTypeGrey));
  // Compression method 0 (deflate), filter method 0, no interlace.
  header.append(3, '\0');

  std::string compressed;
  Deflater deflater;
  for (std::size_t row = 0; row < image.height; ++row) {
    deflater.feed(&kFilterNone, 1, false, compressed);
    deflater.feed(image.pixels.data() + row * image.width, image.width, row + 1 == image.height,
                  compressed);
  }

  std::string png(reinterpret_cast<const char*>(kPngSignature.data()), kPngSignature.size());
  appendChunk(png, "IHDR", header);
  appendChunk(png, "IDAT", compressed);
  appendChunk(png, "IEND", {});
  return png;
}

std::string base64Of(std::string_view bytes) {
  static constexpr char kAlphabet[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  out.reserve((bytes.size() + 2) / 3 * 4);
  for (std::size_t i = 0; i < bytes.size(); i += 3) {
    const std::size_t n = std::min<std::size_t>(3, bytes.size() - i);
    std::uint32_t group = 0;
    for (std::size_t k = 0; k < 3; ++k) {
      group = (group << 8) | (k < n ? static_cast<unsigned char>(bytes[i + k]) : 0U);
    }
    for (std::size_t k = 0; k < 4; ++k) {
      out.push_back(k <= n ? kAlphabet[(group >> (18 - 6 * k)) & 0x3fU] : '=');
    }
  }
  return out;
}

std::string pngDataUrl(std::string_view png) { return "data:image/png;base64," + base64Of(png); }

}  // namespace tsl
