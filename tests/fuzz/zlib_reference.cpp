#include "zlib_reference.h"

#include <zlib.h>

#include <climits>
#include <new>

namespace mapsweep::fuzz {

ReferenceInflate reference_inflate(std::string_view compressed, std::size_t limit) {
  ReferenceInflate result;
  z_stream stream{};
  if (inflateInit2(&stream, -MAX_WBITS) != Z_OK) throw std::bad_alloc();
  // Fuzz inputs are far below 4 GiB, so one call sees all the input and all the room.
  result.output.assign(limit, '\0');
  stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(compressed.data()));
  stream.avail_in = static_cast<uInt>(compressed.size());
  stream.next_out = reinterpret_cast<Bytef*>(result.output.data());
  stream.avail_out = static_cast<uInt>(limit);
  for (;;) {
    const uInt in_before = stream.avail_in;
    const uInt out_before = stream.avail_out;
    const int status = inflate(&stream, Z_NO_FLUSH);
    if (status == Z_STREAM_END) {
      result.ended = true;
      break;
    }
    if (status == Z_MEM_ERROR) {
      inflateEnd(&stream);
      throw std::bad_alloc();
    }
    if (status != Z_OK && status != Z_BUF_ERROR) {
      result.damaged = true;
      break;
    }
    if (stream.avail_out == 0) {
      result.full = true;
      break;
    }
    if (stream.avail_in == 0) break;  // the data stops short: neither end nor damage
    if (stream.avail_in == in_before && stream.avail_out == out_before) {
      result.damaged = true;  // zlib makes no progress with input and room left
      break;
    }
  }
  result.output.resize(limit - stream.avail_out);
  inflateEnd(&stream);
  return result;
}

}  // namespace mapsweep::fuzz
