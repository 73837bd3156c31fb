#include "app/layout_png.h"

#include <zlib.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <new>
#include <utility>
#include <vector>

namespace mapsweep {

// Eight zero bytes at a time add nothing to the first sum, and eight times the first sum to
// the second.
std::uint32_t sparse_adler32(std::span<const unsigned char> bytes) {
  constexpr std::uint64_t kModulus = 65521;
  // Sums over this many bytes stay far below 2^64 before they are reduced.
  constexpr std::size_t kBlock = std::size_t{1} << 16;
  constexpr std::size_t kWord = sizeof(std::uint64_t);
  std::uint64_t a = 1;
  std::uint64_t b = 0;
  for (std::size_t start = 0; start < bytes.size(); start += kBlock) {
    const std::size_t end = std::min(bytes.size(), start + kBlock);
    std::size_t at = start;
    for (; at + kWord <= end; at += kWord) {
      std::uint64_t word;
      std::memcpy(&word, bytes.data() + at, kWord);
      if (word == 0) {
        b += kWord * a;
        continue;
      }
      for (std::size_t i = at; i < at + kWord; ++i) b += (a += bytes[i]);
    }
    for (; at < end; ++at) b += (a += bytes[at]);
    a %= kModulus;
    b %= kModulus;
  }
  return static_cast<std::uint32_t>(b << 16 | a);
}

namespace {

// One compressor serves every picture: setting one up allocates and clears its tables,
// which for tens of thousands of small pictures cost more than compressing them. Pictures
// are encoded by one thread at a time each; thread_local keeps that an assumption nothing
// else depends on. The stream is raw deflate: the zlib wrapper around it is written here,
// with a checksum that passes over the background (sparse_adler32).
//
// Matches are looked for only as runs of one byte (Z_RLE), which is what a picture of
// background and lines holds: on the many-folders plans that gives files a fifth smaller
// than zlib's fastest search for earlier copies, in the same time, and on a picture dense
// with lines (bench/picture_bench) a third of the time. The default memory level keeps a
// dense picture's symbols in few blocks, each of which costs a tree of codes.
struct Compressor {
  z_stream stream{};
  bool ready = false;
  Compressor() { ready = deflateInit2(&stream, 1, Z_DEFLATED, -15, 8, Z_RLE) == Z_OK; }
  ~Compressor() {
    if (ready) deflateEnd(&stream);
  }
  Compressor(const Compressor&) = delete;
  Compressor& operator=(const Compressor&) = delete;
};

// The zlib header for deflate at its fastest level with a 32 KiB window and no dictionary.
constexpr std::array<unsigned char, 2> kZlibHeader = {0x78, 0x01};
constexpr std::size_t kZlibTrailer = 4;  // the checksum, most significant byte first
// zlib keeps twice its window of input and, once the input reaches the end of that, moves
// the second half down and renumbers both its tables: for the 65,792 bytes of a 256 x 256
// picture's rows that move cost more than all the rest of compressing them. So the rows go
// in pieces of at most this many bytes, each after a full flush, which starts the window
// afresh; the price is a few bytes a piece.
constexpr std::size_t kLongestPiece = 60000;
// What a full flush may add to the output: an empty stored block, after the bits pending.
constexpr std::size_t kFlushBytes = 6;

// The encoder's own deflate tries hard and slowly: zlib as set up above compresses the rows
// of a picture (mostly background) many times faster, for about the same size. The buffer
// is the encoder's to free, so it comes from malloc as the encoder's own would.
unsigned char* zlib_compress(unsigned char* data, int length, int* out_length, int /*quality*/) {
  thread_local Compressor compressor;
  z_stream& stream = compressor.stream;
  if (!compressor.ready || length < 0 || deflateReset(&stream) != Z_OK) return nullptr;
  const auto size = static_cast<std::size_t>(length);
  const std::size_t pieces = std::max<std::size_t>(1, (size + kLongestPiece - 1) / kLongestPiece);
  const std::size_t piece = (size + pieces - 1) / pieces;
  const std::size_t bound =
      deflateBound(&stream, static_cast<uLong>(length)) + pieces * kFlushBytes;
  auto* out = static_cast<unsigned char*>(std::malloc(kZlibHeader.size() + bound + kZlibTrailer));
  if (out == nullptr) return nullptr;
  std::memcpy(out, kZlibHeader.data(), kZlibHeader.size());
  stream.next_out = out + kZlibHeader.size();
  stream.avail_out = static_cast<uInt>(bound);
  int status = Z_OK;
  for (std::size_t piece_number = 0; piece_number < pieces; ++piece_number) {
    const std::size_t at = piece_number * piece;
    const bool last = piece_number + 1 == pieces;
    stream.next_in = data + at;
    stream.avail_in = static_cast<uInt>(std::min(piece, size - at));
    status = deflate(&stream, last ? Z_FINISH : Z_FULL_FLUSH);
    if (!last && status != Z_OK) break;
  }
  if (status != Z_STREAM_END) {
    std::free(out);
    return nullptr;
  }
  unsigned char* end = out + kZlibHeader.size() + stream.total_out;
  const std::uint32_t checksum = sparse_adler32({data, size});
  for (int shift = 24; shift >= 0; shift -= 8) {
    *end++ = static_cast<unsigned char>(checksum >> shift);
  }
  *out_length = static_cast<int>(end - out);
  return out;
}

}  // namespace
}  // namespace mapsweep

// Debian's libstb-dev: the encoder's code lives in this one file, its functions kept
// private to it, without the variants that write files themselves (the runtime writes
// every file the program makes). The include directory is a system one, so that the
// header's own warnings stay out of ours.
#define STBIW_ZLIB_COMPRESS mapsweep::zlib_compress
#define STB_IMAGE_WRITE_IMPLEMENTATION
#define STB_IMAGE_WRITE_STATIC
#define STBI_WRITE_NO_STDIO
#include <stb_image_write.h>

namespace mapsweep {
namespace {

// Where the encoder's output goes. A failed append is noted rather than thrown through the
// encoder, which would leak the buffer it holds.
struct PngOutput {
  std::string bytes;
  bool failed = false;
};

void append_output(void* context, void* data, int size) {
  auto& output = *static_cast<PngOutput*>(context);
  if (output.failed) return;
  try {
    output.bytes.append(static_cast<const char*>(data), static_cast<std::size_t>(size));
  } catch (const std::bad_alloc&) {
    output.failed = true;
  }
}

}  // namespace

std::string layout_png(const formats::LayoutPicture& picture) {
  constexpr int kChannels = 1;
  const std::size_t side = picture.side;
  // The encoder takes int sizes: a row of bytes must fit one.
  if (side == 0 || side > static_cast<std::size_t>(std::numeric_limits<int>::max() / kChannels) ||
      picture.levels.size() != side * side) {
    return {};
  }
  // The greys of one picture after another, in one buffer per encoding thread.
  thread_local std::vector<std::uint8_t> grey;
  formats::fill_grey(picture, grey);
  PngOutput output;
  // Rows as they are: the picture is flat colour and thin lines, which the filters that
  // predict from neighbours do not make smaller, and choosing among them per row costs
  // five encodings of every row. The setting is the encoder's global, read by every
  // thread that encodes: it is set once, before any of them reads it.
  static const bool unfiltered_rows = [] {
    stbi_write_force_png_filter = 0;
    return true;
  }();
  static_cast<void>(unfiltered_rows);
  const int width = static_cast<int>(side);
  const int written = stbi_write_png_to_func(append_output, &output, width, width, kChannels,
                                             grey.data(), width * kChannels);
  if (written == 0 || output.failed) return {};
  return std::move(output.bytes);
}

}  // namespace mapsweep
