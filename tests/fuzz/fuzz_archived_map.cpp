// Fuzzes the way from a map inside an archive to its title with well-formed archives the
// input describes: a map of any layout whose entity text (0 bytes to 1 MiB, LF or CR LF,
// tabs, comments) usually makes it playable, in a PACK or a zip (stored or deflated at any
// level, with a data descriptor or not, ZIP64 or not), among other files, sometimes
// thousands of them so that the directory is read in several pieces. The archive must
// read whole, offer that one map, and give exactly what the bare map file gives; a map
// left as built must give the title of its world's message.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "formats/archive_maps.h"
#include "formats/map_title.h"
#include "fuzz_check.h"
#include "map_maker.h"
#include "support/zip_writer.h"
#include "tools/map_archive_writer.h"

using namespace mapsweep;
using formats::ArchiveKind;
using fuzz::check;

namespace {

struct OtherFile {
  std::string path;
  std::string data;
};

// Files that are not maps, and paths that look like maps but are not ("maps/sub/x.bsp"):
// a few, or once in a while enough to fill more than one piece of the directory.
std::vector<OtherFile> other_files(FuzzedDataProvider& input, std::size_t longest_path) {
  const bool many = input.ConsumeIntegralInRange(0, 31) == 0;
  const std::size_t count = many ? input.ConsumeIntegralInRange<std::size_t>(1000, 3000)
                                 : input.ConsumeIntegralInRange<std::size_t>(0, 4);
  const std::size_t path_length = input.ConsumeIntegralInRange<std::size_t>(16, longest_path);
  const std::string data = input.ConsumeRandomLengthString(64);
  std::vector<OtherFile> files;
  for (std::size_t i = 0; i < count; ++i) {
    std::string path = (i % 7 == 3 ? "maps/sub/" : "sound/") + std::to_string(i);
    path.resize(path_length - 4, 'w');
    path += i % 7 == 3 ? ".bsp" : ".wav";
    files.push_back({std::move(path), data.substr(0, i % (data.size() + 1))});
  }
  return files;
}

// The map's path: a name of letters and digits, the folder and extension in either case.
std::string map_path(FuzzedDataProvider& input, std::string& name) {
  name = input.ConsumeRandomLengthString(20);
  for (char& c : name) c = "abcdefghijklmnopqrstuvwxyz0123456789_"[static_cast<unsigned char>(c) % 37];
  if (name.empty()) name = "start";
  return (input.ConsumeBool() ? "maps/" : "MAPS/") + name + (input.ConsumeBool() ? ".bsp" : ".BSP");
}

std::string pack_with(const std::vector<OtherFile>& others, std::size_t map_at,
                      const std::string& path, const std::string& map) {
  std::vector<tools::PackFile> files;
  for (const OtherFile& other : others) files.push_back({other.path, other.data});
  files.insert(files.begin() + static_cast<std::ptrdiff_t>(map_at), tools::PackFile{path, map});
  return tools::pack_archive(files);
}

std::string zip_with(FuzzedDataProvider& input, const std::vector<OtherFile>& others,
                     std::size_t map_at, const std::string& path, const std::string& map) {
  std::vector<testing::ZipMember> members;
  for (const OtherFile& other : others) {
    testing::ZipMember member;
    member.name = other.path;
    member.data = other.data;
    // A few deflated ones; thousands would spend the time on deflating.
    member.deflated = members.size() < 8 && other.data.size() % 2 == 1;
    members.push_back(std::move(member));
  }
  testing::ZipMember member;
  member.name = path;
  member.data = map;
  member.deflated = input.ConsumeBool();
  member.level = input.ConsumeIntegralInRange(0, 9);
  member.data_descriptor = input.ConsumeBool();
  members.insert(members.begin() + static_cast<std::ptrdiff_t>(map_at), std::move(member));
  testing::ZipOptions options;
  options.zip64 = input.ConsumeBool();
  options.comment = input.ConsumeRandomLengthString(300);
  return testing::zip_archive(members, options);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, std::size_t size) {
  FuzzedDataProvider input(data, size);
  const ArchiveKind kind = input.ConsumeBool() ? ArchiveKind::kZip : ArchiveKind::kPack;
  const fuzz::MadeMap made = fuzz::make_map(input);

  formats::MemorySource bare(made.bytes);
  std::optional<formats::LayoutPicture> loose_picture;
  const formats::MapRead loose = formats::read_loose_map(bare, &loose_picture);
  check(loose.outcome == formats::MapOutcome::kTitled || loose.outcome == formats::MapOutcome::kNoMap);
  if (made.as_built) {
    check(loose.outcome == formats::MapOutcome::kTitled);
    check(loose.title == formats::display_title(made.message));
  }

  std::string name;
  const std::string path = map_path(input, name);
  // PACK paths hold 55 bytes.
  const std::vector<OtherFile> others = other_files(input, kind == ArchiveKind::kPack ? 55 : 120);
  const std::size_t map_at = input.ConsumeIntegralInRange<std::size_t>(0, others.size());
  const std::string archive = kind == ArchiveKind::kPack
                                  ? pack_with(others, map_at, path, made.bytes)
                                  : zip_with(input, others, map_at, path, made.bytes);

  formats::MemorySource source(archive);
  int offered = 0;
  const formats::ArchiveOutcome outcome =
      formats::read_archive_maps(source, kind, [&](const formats::ArchivedMap& map) {
        ++offered;
        check(map.path == path && map.name == name && map.position == map_at);
        check(map.read->outcome == loose.outcome && map.read->title == loose.title);
        // Stored or deflated, the map draws the picture its own bytes draw.
        check((map.picture != nullptr) == loose_picture.has_value());
        check(map.picture == nullptr || map.picture->levels == loose_picture->levels);
      },
      true);
  check(outcome == formats::ArchiveOutcome::kWhole && offered == 1);
  return 0;
}
