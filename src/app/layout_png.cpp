#include "app/layout_png.h"

#include <limits>
#include <new>
#include <utility>

// Debian's libstb-dev: the encoder's code lives in this one file, its functions kept
// private to it, without the variants that write files themselves (the runtime writes
// every file the program makes). The include directory is a system one, so that the
// header's own warnings stay out of ours.
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
  constexpr int kChannels = 3;
  const std::size_t side = picture.side;
  // The encoder takes int sizes: a row of bytes must fit one.
  if (side == 0 || side > static_cast<std::size_t>(std::numeric_limits<int>::max() / kChannels) ||
      picture.rgb.size() != side * side * kChannels) {
    return {};
  }
  PngOutput output;
  const int width = static_cast<int>(side);
  const int written = stbi_write_png_to_func(append_output, &output, width, width, kChannels,
                                             picture.rgb.data(), width * kChannels);
  if (written == 0 || output.failed) return {};
  return std::move(output.bytes);
}

}  // namespace mapsweep
