#include "app/layout_png.h"

#include <cstdint>
#include <limits>
#include <new>
#include <utility>
#include <vector>

// Debian's libstb-dev: the encoder's code lives in this one file, its functions kept
// private to it, without the variants that write files themselves (the runtime writes
// every file the program makes). The include directory is a system one, so that the
// header's own warnings stay out of ours.
#include <zlib.h>

#include <cstdlib>

namespace mapsweep {
namespace {

// One compressor serves every picture: setting one up allocates and clears about a quarter
// of a megabyte, which for tens of thousands of small pictures cost more than compressing
// them. Pictures are drawn and written by the scan's thread alone; thread_local keeps that
// an assumption nothing else depends on.
struct Compressor {
  z_stream stream{};
  bool ready = false;
  Compressor() { ready = deflateInit(&stream, 1) == Z_OK; }
  ~Compressor() {
    if (ready) deflateEnd(&stream);
  }
  Compressor(const Compressor&) = delete;
  Compressor& operator=(const Compressor&) = delete;
};

// The encoder's own deflate tries hard and slowly: zlib at its fastest level compresses the
// rows of a picture (mostly background) many times faster, for about the same size. Its
// buffer is the encoder's to free, so it comes from malloc as the encoder's own would.
unsigned char* zlib_compress(unsigned char* data, int length, int* out_length, int /*quality*/) {
  thread_local Compressor compressor;
  z_stream& stream = compressor.stream;
  if (!compressor.ready || length < 0 || deflateReset(&stream) != Z_OK) return nullptr;
  const uLong bound = deflateBound(&stream, static_cast<uLong>(length));
  auto* out = static_cast<unsigned char*>(std::malloc(bound));
  if (out == nullptr) return nullptr;
  stream.next_in = data;
  stream.avail_in = static_cast<uInt>(length);
  stream.next_out = out;
  stream.avail_out = static_cast<uInt>(bound);
  if (deflate(&stream, Z_FINISH) != Z_STREAM_END) {
    std::free(out);
    return nullptr;
  }
  *out_length = static_cast<int>(stream.total_out);
  return out;
}

}  // namespace
}  // namespace mapsweep

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
  const std::vector<std::uint8_t> grey = formats::layout_grey(picture);
  PngOutput output;
  // Rows as they are: the picture is flat colour and thin lines, which the filters that
  // predict from neighbours do not make smaller, and choosing among them per row costs
  // five encodings of every row.
  stbi_write_force_png_filter = 0;
  const int width = static_cast<int>(side);
  const int written = stbi_write_png_to_func(append_output, &output, width, width, kChannels,
                                             grey.data(), width * kChannels);
  if (written == 0 || output.failed) return {};
  return std::move(output.bytes);
}

}  // namespace mapsweep
