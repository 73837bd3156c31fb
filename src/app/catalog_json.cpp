#include "app/catalog_json.h"

#include "app/json_text.h"

namespace mapsweep {
namespace {

class RecordWriter {
 public:
  RecordWriter(std::string& out, bool for_html) : out_(out), for_html_(for_html) {}

  void begin() { out_ += '{'; first_ = true; }
  void end() { out_ += '}'; }
  void key(std::string_view name) {
    if (!first_) out_ += ',';
    first_ = false;
    out_ += '"';
    out_ += name;
    out_ += "\":";
  }
  void text(std::string_view name, std::string_view value) {
    key(name);
    out_ += json_string(value, for_html_);
  }
  // An empty value is written as null: "none", not an empty name.
  void text_or_null(std::string_view name, std::string_view value) {
    if (value.empty()) {
      key(name);
      out_ += "null";
    } else {
      text(name, value);
    }
  }
  void number(std::string_view name, std::uint64_t value) {
    key(name);
    out_ += std::to_string(value);
  }
  void flag(std::string_view name, bool value) {
    key(name);
    out_ += value ? "true" : "false";
  }
  void source(std::string_view name, const MapSource& source) {
    key(name);
    source_value(source);
  }
  void source_value(const MapSource& source) {
    RecordWriter inner(out_, for_html_);
    inner.begin();
    inner.text_or_null("archive", source.archive);
    inner.text("path", source.path);
    inner.end();
  }
  void modes(const PlayModes& modes) {
    key("modes");
    RecordWriter inner(out_, for_html_);
    inner.begin();
    inner.flag("single", modes.single);
    inner.flag("coop", modes.coop);
    inner.flag("deathmatch", modes.deathmatch);
    inner.flag("team", modes.team);
    inner.end();
  }
  void shadows(const std::vector<MapSource>& shadows) {
    key("shadows");
    out_ += '[';
    for (std::size_t i = 0; i < shadows.size(); ++i) {
      if (i != 0) out_ += ',';
      source_value(shadows[i]);
    }
    out_ += ']';
  }

 private:
  std::string& out_;
  bool for_html_;
  bool first_ = true;
};

void write_map(std::string& out, const CatalogMap& map, bool for_html) {
  RecordWriter record(out, for_html);
  record.begin();
  record.text("folder", map.folder);
  record.text("name", map.name);
  record.text("title", map.title);
  record.text("message", map.message);
  record.source("source", map.source);
  record.shadows(map.shadows);
  record.text("family", map.family);
  record.number("size", map.size);
  record.modes(map.modes);
  record.number("monsters", map.monsters);
  record.number("secrets", map.secrets);
  record.text_or_null("nextmap", map.nextmap);
  record.text_or_null("picture", map.picture);
  record.end();
}

}  // namespace

bool write_catalog_json(const CatalogMaps& maps, std::string_view generator,
                        bool for_html, const TextSink& sink) {
  constexpr std::size_t kPiece = 64 * 1024;
  std::string out = "{\"format\":" + std::to_string(kCatalogFormat) +
                    ",\"generator\":" + json_string(generator, for_html) + ",\"maps\":[\n";
  for (std::size_t i = 0; i < maps.size(); ++i) {
    write_map(out, maps[i], for_html);
    out += i + 1 < maps.size() ? ",\n" : "\n";
    if (out.size() >= kPiece) {
      if (!sink(out)) return false;
      out.clear();
    }
  }
  out += "]}\n";
  return sink(out);
}

std::string catalog_json(const CatalogMaps& maps, std::string_view generator,
                         bool for_html) {
  std::string document;
  write_catalog_json(maps, generator, for_html, [&](std::string_view piece) {
    document += piece;
    return true;
  });
  return document;
}

}  // namespace mapsweep
