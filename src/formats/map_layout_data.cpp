#include "formats/map_layout_data.h"

#include <algorithm>
#include <string>
#include <vector>

#include "formats/bounded_inflate.h"
#include "formats/map_geometry.h"

namespace mapsweep::formats {
namespace {

// The map's own bytes where they lie stored, read through the metered reader.
class StoredMapSource final : public ByteSource {
 public:
  StoredMapSource(MeteredReader& reader, const MapData& data) : reader_(reader), data_(data) {}
  std::uint64_t size() const override { return data_.size; }
  bool read(std::uint64_t offset, std::size_t count, std::string& into) override {
    if (offset > data_.size || count > data_.size - offset) return false;
    return reader_.read_at(data_.offset + offset, count, into);
  }

 private:
  MeteredReader& reader_;
  const MapData& data_;
};

// The ranges of a map's bytes captured while inflating it; a read outside them fails.
class CapturedSource final : public ByteSource {
 public:
  explicit CapturedSource(std::uint64_t size) : size_(size) {}
  void add(std::uint64_t offset, std::string bytes) {
    pieces_.push_back({offset, std::move(bytes)});
  }
  std::uint64_t size() const override { return size_; }
  bool read(std::uint64_t offset, std::size_t count, std::string& into) override {
    for (const Piece& piece : pieces_) {
      if (offset >= piece.offset && offset - piece.offset <= piece.bytes.size() &&
          count <= piece.bytes.size() - (offset - piece.offset)) {
        into.assign(piece.bytes, static_cast<std::size_t>(offset - piece.offset), count);
        return true;
      }
    }
    return false;
  }

 private:
  struct Piece {
    std::uint64_t offset;
    std::string bytes;
  };
  std::uint64_t size_;
  std::vector<Piece> pieces_;
};

// Inflates until the kept part is whole or the data ends, starting with what the inflater
// holds from before; false when it cannot be had (damaged data, a failed read, the budget
// spent).
bool inflate_kept(MeteredReader& reader, const MapData& data, BoundedInflate& inflater,
                  std::uint64_t& fed) {
  std::uint64_t before = inflater.produced();
  inflater.feed({});
  if (!reader.charge(inflater.produced() - before)) return false;
  while (inflater.status() == BoundedInflate::Status::kNeedsInput) {
    if (fed >= data.stored_size) return false;
    const auto piece =
        static_cast<std::size_t>(std::min<std::uint64_t>(kCompressedPiece, data.stored_size - fed));
    std::string compressed;
    if (!reader.read_at(data.offset + fed, piece, compressed)) return false;
    fed += piece;
    before = inflater.produced();
    inflater.feed(compressed);
    if (!reader.charge(inflater.produced() - before)) return false;
  }
  return inflater.status() == BoundedInflate::Status::kDone;
}

// Keeps `range` of the inflated map; false when the data gives less.
bool capture(MeteredReader& reader, const MapData& data, BoundedInflate& inflater,
             std::uint64_t& fed, ByteRange range, CapturedSource& captured) {
  inflater.keep(range.offset, range.offset + range.length);
  if (!inflate_kept(reader, data, inflater, fed)) return false;
  if (inflater.kept().size() < range.length) return false;
  captured.add(range.offset, std::string(inflater.kept()));
  return true;
}

std::optional<LayoutPicture> read_deflated_layout(MeteredReader& reader, const MapData& data) {
  BoundedInflate inflater(std::min(data.size, kInflateLimit));
  std::uint64_t fed = 0;
  CapturedSource captured(data.size);
  const ByteRange header{0, std::min<std::uint64_t>(data.size, kGeometryHeaderBytes)};
  if (!capture(reader, data, inflater, fed, header, captured)) return std::nullopt;
  std::string first_bytes;
  captured.read(0, static_cast<std::size_t>(header.length), first_bytes);
  const std::optional<std::vector<ByteRange>> ranges = layout_lumps(first_bytes, data.size);
  if (!ranges) return std::nullopt;
  std::uint64_t total = 0;
  for (const ByteRange& range : *ranges) {
    total += range.length;
    if (total > kLayoutCaptureLimit || range.offset + range.length > kInflateLimit) {
      return std::nullopt;
    }
  }
  for (const ByteRange& range : *ranges) {
    if (range.offset + range.length <= header.length) continue;  // the header, kept already
    if (!capture(reader, data, inflater, fed, range, captured)) return std::nullopt;
  }
  return draw_map_layout(captured);
}

}  // namespace

std::optional<LayoutPicture> read_map_layout(MeteredReader& reader, const MapData& data) {
  if (!data.deflated) {
    StoredMapSource source(reader, data);
    return draw_map_layout(source);
  }
  return read_deflated_layout(reader, data);
}

}  // namespace mapsweep::formats
