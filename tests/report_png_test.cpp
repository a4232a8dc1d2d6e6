#include "report/png_image.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "tests/support/test_helpers.h"

namespace tsl::testing {
namespace {

struct Chunk {
  std::string type;
  std::string data;
  std::uint32_t crc = 0;
};

std::uint32_t bigEndianAt(const std::string& bytes, std::size_t at) {
  std::uint32_t value = 0;
  for (std::size_t i = 0; i < 4; ++i)
    value = (value << 8) | static_cast<unsigned char>(bytes[at + i]);
  return value;
}

// The chunks after the signature, as their lengths lay them out.
std::vector<Chunk> chunksOf(const std::string& png) {
  std::vector<Chunk> chunks;
  std::size_t at = 8;
  while (at + 12 <= png.size()) {
    const std::uint32_t length = bigEndianAt(png, at);
    chunks.push_back(
        {png.substr(at + 4, 4), png.substr(at + 8, length), bigEndianAt(png, at + 8 + length)});
    at += 12 + length;
  }
  EXPECT_EQ(at, png.size()) << "bytes after the last whole chunk";
  return chunks;
}

std::string inflated(const std::string& stream, std::size_t size) {
  std::string out(size + 1, '\0');
  uLongf length = static_cast<uLongf>(out.size());
  EXPECT_EQ(
      uncompress(reinterpret_cast<Bytef*>(out.data()), &length,
                 reinterpret_cast<const Bytef*>(stream.data()), static_cast<uLong>(stream.size())),
      Z_OK);
  out.resize(length);
  return out;
}

TEST(PngImage, ChunksHeaderCrcsAndRowsOfAnOddSizedImage) {
  GreyImage image{5, 3, {}};
  for (std::uint8_t i = 0; i < 15; ++i)
    image.pixels.push_back(static_cast<std::uint8_t>(i * 17 + 3));
  const std::string png = encodePng(image);

  EXPECT_EQ(png.substr(0, 8), std::string("\x89PNG\r\n\x1a\n", 8));
  const std::vector<Chunk> chunks = chunksOf(png);
  ASSERT_EQ(chunks.size(), 3u);
  EXPECT_EQ(chunks[0].type, "IHDR");
  EXPECT_EQ(chunks[0].data, std::string("\0\0\0\5\0\0\0\3\x08\0\0\0\0", 13));
  EXPECT_EQ(chunks[1].type, "IDAT");
  EXPECT_EQ(chunks[2].type, "IEND");
  EXPECT_EQ(chunks[2].data, "");
  // Every PNG file ends in the same IEND chunk, whose CRC is well known.
  EXPECT_EQ(chunks[2].crc, 0xAE426082u);
  for (const Chunk& chunk : chunks) {
    const std::string covered = chunk.type + chunk.data;
    EXPECT_EQ(chunk.crc, crc32(0, reinterpret_cast<const Bytef*>(covered.data()),
                               static_cast<uInt>(covered.size())))
        << chunk.type;
  }
  // Each row after its filter byte 0.
  std::string rows;
  for (std::size_t r = 0; r < 3; ++r) {
    rows += '\0';
    for (std::size_t x = 0; x < 5; ++x) rows += static_cast<char>(image.pixels[r * 5 + x]);
  }
  EXPECT_EQ(inflated(chunks[1].data, rows.size()), rows);
}

TEST(PngImage, RowsLongerThanTheCompressorsBlocksDecodeWhole) {
  // 3 rows of 70001 pixels, more than one 64 KiB block each, in a pattern
  // that does not repeat within a row.
  GreyImage image{70001, 3, {}};
  std::uint32_t state = 12345;
  for (std::size_t i = 0; i < image.width * image.height; ++i) {
    state = state * 1103515245u + 12345u;
    image.pixels.push_back(static_cast<std::uint8_t>(state >> 24));
  }
  const std::vector<Chunk> chunks = chunksOf(encodePng(image));
  ASSERT_EQ(chunks.size(), 3u);
  const std::string rows = inflated(chunks[1].data, 3 * 70002);
  ASSERT_EQ(rows.size(), 3u * 70002u);
  for (std::size_t r = 0; r < 3; ++r) {
    EXPECT_EQ(rows[r * 70002], '\0');
    EXPECT_EQ(rows.compare(r * 70002 + 1, 70001,
                           reinterpret_cast<const char*>(image.pixels.data()) + r * 70001, 70001),
              0)
        << "row " << r;
  }
}

TEST(PngImage, RefusesEmptyAndMismatchedImages) {
  EXPECT_THROW_MSG(encodePng(GreyImage{0, 3, {}}), std::invalid_argument,
                   "PNG image: 0 x 3 pixels; width and height must be 1 to 2147483647");
  EXPECT_THROW_MSG(encodePng(GreyImage{4, 0, {}}), std::invalid_argument,
                   "PNG image: 4 x 0 pixels; width and height must be 1 to 2147483647");
  EXPECT_THROW_MSG(encodePng(GreyImage{2147483648u, 1, {}}), std::invalid_argument,
                   "PNG image: 2147483648 x 1 pixels; width and height must be 1 to 2147483647");
  EXPECT_THROW_MSG(encodePng(GreyImage{4, 3, std::vector<std::uint8_t>(11)}), std::invalid_argument,
                   "PNG image: 11 pixels given for 4 x 3");
  EXPECT_THROW_MSG(encodePng(GreyImage{4, 3, std::vector<std::uint8_t>(16)}), std::invalid_argument,
                   "PNG image: 16 pixels given for 4 x 3");
}

TEST(PngImage, Base64AndDataUrl) {
  // RFC 4648's test vectors, then every bit set and bytes above 127.
  EXPECT_EQ(base64Of(""), "");
  EXPECT_EQ(base64Of("f"), "Zg==");
  EXPECT_EQ(base64Of("fo"), "Zm8=");
  EXPECT_EQ(base64Of("foo"), "Zm9v");
  EXPECT_EQ(base64Of("foob"), "Zm9vYg==");
  EXPECT_EQ(base64Of("fooba"), "Zm9vYmE=");
  EXPECT_EQ(base64Of("foobar"), "Zm9vYmFy");
  EXPECT_EQ(base64Of(std::string_view("\xff\xfe\xfd\x00\x80", 5)), "//79AIA=");
  EXPECT_EQ(pngDataUrl("\x89PNG"), "data:image/png;base64,iVBORw==");
}

}  // namespace
}  // namespace tsl::testing
