#include "support/zip_writer.h"

#include <zlib.h>

#include <stdexcept>

namespace mapsweep::testing {
namespace {

void put(std::string& out, std::uint64_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
}

constexpr std::uint32_t kSaturated = 0xFFFFFFFF;

}  // namespace

std::string raw_deflate(std::string_view data, int level) {
  z_stream stream{};
  if (deflateInit2(&stream, level, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) != Z_OK) {
    throw std::runtime_error("deflateInit2 failed");
  }
  std::string out(deflateBound(&stream, static_cast<uLong>(data.size())), '\0');
  stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
  stream.avail_in = static_cast<uInt>(data.size());
  stream.next_out = reinterpret_cast<Bytef*>(out.data());
  stream.avail_out = static_cast<uInt>(out.size());
  const int result = deflate(&stream, Z_FINISH);
  deflateEnd(&stream);
  if (result != Z_STREAM_END) throw std::runtime_error("deflate did not finish");
  out.resize(stream.total_out);
  return out;
}

std::string zip_archive(const std::vector<ZipMember>& members, const ZipOptions& options) {
  std::string archive;
  std::string directory;
  for (const ZipMember& member : members) {
    const std::string stored = member.deflated ? raw_deflate(member.data, member.level) : member.data;
    const std::uint16_t method = member.method.value_or(member.deflated ? 8 : 0);
    const std::uint64_t data_size = member.size.value_or(member.data.size());
    const auto crc = crc32(0, reinterpret_cast<const Bytef*>(member.data.data()),
                           static_cast<uInt>(member.data.size()));
    const std::uint64_t local_offset = archive.size();
    const std::string local_name = member.local_name.value_or(member.name);
    std::string local_extra = member.local_extra;
    if (options.zip64) {
      std::string sizes;
      put(sizes, 1, 2);
      put(sizes, 16, 2);
      put(sizes, data_size, 8);
      put(sizes, stored.size(), 8);
      local_extra = sizes + local_extra;
    }
    const std::uint16_t flags = member.flags | (member.data_descriptor ? 8 : 0);
    const bool later = member.data_descriptor;
    put(archive, 0x04034b50, 4);
    put(archive, options.zip64 ? 45 : 20, 2);
    put(archive, flags, 2);
    put(archive, method, 2);
    put(archive, 0, 4);  // time and date
    put(archive, later ? 0 : crc, 4);
    put(archive, later ? 0 : options.zip64 ? kSaturated : stored.size(), 4);
    put(archive, later ? 0 : options.zip64 ? kSaturated : data_size, 4);
    put(archive, local_name.size(), 2);
    put(archive, local_extra.size(), 2);
    archive += local_name + local_extra + stored;
    if (later) {
      put(archive, 0x08074b50, 4);
      put(archive, crc, 4);
      put(archive, stored.size(), options.zip64 ? 8 : 4);
      put(archive, data_size, options.zip64 ? 8 : 4);
    }

    std::string extra;
    if (options.zip64) {
      put(extra, 1, 2);
      put(extra, 24, 2);
      put(extra, data_size, 8);
      put(extra, stored.size(), 8);
      put(extra, local_offset, 8);
    }
    put(directory, 0x02014b50, 4);
    put(directory, 0x031E, 2);  // made by: version 3.0 on Unix
    put(directory, options.zip64 ? 45 : 20, 2);
    put(directory, flags, 2);
    put(directory, method, 2);
    put(directory, 0, 4);
    put(directory, crc, 4);
    put(directory, options.zip64 ? kSaturated : stored.size(), 4);
    put(directory, options.zip64 ? kSaturated : data_size, 4);
    put(directory, member.name.size(), 2);
    put(directory, extra.size(), 2);
    put(directory, 0, 2);  // comment length
    put(directory, 0, 2);  // disk
    put(directory, 0, 2);  // internal attributes
    put(directory, 0, 4);  // external attributes
    put(directory, options.zip64 ? kSaturated : local_offset, 4);
    directory += member.name + extra;
  }

  const std::uint64_t directory_offset = archive.size();
  archive += directory;
  if (options.zip64) {
    const std::uint64_t record_offset = archive.size();
    put(archive, 0x06064b50, 4);
    put(archive, 44, 8);
    put(archive, 45, 2);
    put(archive, 45, 2);
    put(archive, 0, 4);
    put(archive, 0, 4);
    put(archive, members.size(), 8);
    put(archive, members.size(), 8);
    put(archive, directory.size(), 8);
    put(archive, directory_offset, 8);
    put(archive, 0x07064b50, 4);
    put(archive, 0, 4);
    put(archive, record_offset, 8);
    put(archive, 1, 4);
  }
  put(archive, 0x06054b50, 4);
  put(archive, 0, 2);
  put(archive, 0, 2);
  put(archive, options.zip64 ? 0xFFFF : members.size(), 2);
  put(archive, options.zip64 ? 0xFFFF : members.size(), 2);
  put(archive, options.zip64 ? kSaturated : directory.size(), 4);
  put(archive, options.zip64 ? kSaturated : directory_offset, 4);
  put(archive, options.comment.size(), 2);
  return archive + options.comment;
}

}  // namespace mapsweep::testing
