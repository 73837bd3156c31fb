#include "app/catalog_page.h"

#include <algorithm>
#include <array>
#include <functional>
#include <cstdint>
#include <utility>

#include "app/catalog_page_assets.h"
#include "app/html_text.h"

namespace mapsweep {
namespace {

struct ModeLabel {
  bool PlayModes::*flag;
  std::string_view css_class;
  std::string_view text;
};

constexpr std::array<ModeLabel, 4> kModeLabels = {{
    {&PlayModes::single, "single", "single"},
    {&PlayModes::coop, "coop", "co-op"},
    {&PlayModes::deathmatch, "deathmatch", "deathmatch"},
    {&PlayModes::team, "team", "team"},
}};

std::string grouped_digits(std::uint64_t value) {
  const std::string digits = std::to_string(value);
  std::string out;
  for (std::size_t i = 0; i < digits.size(); ++i) {
    if (i != 0 && (digits.size() - i) % 3 == 0) out += ',';
    out += digits[i];
  }
  return out;
}

std::string source_text(const MapSource& source) {
  if (source.archive.empty()) return html_text(source.path);
  return html_text(source.archive) + ": " + html_text(source.path);
}

// The format numbers 29 and 30 read better as BSP29 and BSP30; the other families carry
// their own magic as their name.
std::string family_text(const std::string& family) {
  const bool numeric = !family.empty() && family.find_first_not_of("0123456789") == family.npos;
  return html_text(numeric ? "BSP" + family : family);
}

void append_head(std::string& out, std::size_t count) {
  out +=
      "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
      "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n"
      "<meta name=\"color-scheme\" content=\"dark\">\n<title>Maps (";
  out += grouped_digits(count);
  out += ")</title>\n<style>\n";
  out += catalog_page_style();
  // Without the script the filter and the toggles would do nothing, so they are not shown,
  // and the header scrolls away: only the script learns its height, which the sticky column
  // heads need to stand below it.
  out +=
      "</style>\n<noscript><style>.needs-script{display:none}header{position:static}</style>"
      "</noscript>\n</head>\n";
}

void append_controls(std::string& out) {
  out +=
      "<div class=\"controls needs-script\">\n"
      "<input type=\"search\" id=\"filter\" placeholder=\"Filter by title, name or folder\" "
      "aria-label=\"Filter by title, name or folder\" autocomplete=\"off\" spellcheck=\"false\">\n"
      "<fieldset id=\"modes\"><legend>Only maps for</legend>\n";
  for (const ModeLabel& mode : kModeLabels) {
    out += "<label class=\"toggle m-";
    out += mode.css_class;
    out += "\"><input type=\"checkbox\" id=\"mode-";
    out += mode.css_class;
    out += "\" data-mode=\"";
    out += mode.css_class;
    out += "\"> ";
    out += mode.text;
    out += "</label>\n";
  }
  out += "</fieldset>\n</div>\n";
}

void append_header(std::string& out, std::size_t count) {
  out +=
      "<body>\n<header>\n<div class=\"heading\"><h1>Maps</h1>\n<p id=\"count\" "
      "aria-live=\"polite\">";
  out += map_count_text(count);
  out += "</p></div>\n";
  append_controls(out);
  out += "</header>\n";
}

void append_table_head(std::string& out) {
  static constexpr std::array<std::pair<std::string_view, std::string_view>, 8> kColumns = {{
      {"picture", "Picture"},
      {"title", "Title"},
      {"name", "Name"},
      {"folder", "Folder"},
      {"modes", "Play"},
      {"monsters", "Monsters"},
      {"secrets", "Secrets"},
      {"size", "Size"},
  }};
  out += "<main>\n<table id=\"maps\">\n<thead><tr>";
  for (const auto& [key, label] : kColumns) {
    out += "<th scope=\"col\" class=\"c-";
    out += key;
    out += "\" aria-sort=\"none\"><button type=\"button\" data-key=\"";
    out += key;
    out += "\">";
    out += label;
    out += "</button></th>";
  }
  out += "</tr></thead>\n";
}

void append_picture_cell(std::string& out, const CatalogMap& map) {
  out += "<td class=\"c-picture\">";
  if (map.picture.empty()) {
    out += "<span class=\"nopic\">no picture</span>";
  } else {
    // The size is given so that rows keep their height while the pictures load.
    out += "<img loading=\"lazy\" decoding=\"async\" width=\"256\" height=\"256\" alt=\"\" src=\"";
    out += url_path(map.picture);
    out += "\">";
  }
  out += "</td>";
}

void append_shadows(std::string& out, const std::vector<MapSource>& shadows) {
  if (shadows.empty()) return;
  out += "<details><summary>";
  out += grouped_digits(shadows.size());
  out += shadows.size() == 1 ? " hidden copy" : " hidden copies";
  out += "</summary><ol>";
  for (const MapSource& shadow : shadows) {
    out += "<li>";
    out += source_text(shadow);
    out += "</li>";
  }
  out += "</ol></details>";
}

void append_title_cell(std::string& out, const CatalogMap& map) {
  out += "<td class=\"c-title\"><div class=\"t\">";
  out += map.title.empty() ? "<span class=\"untitled\">untitled</span>" : html_text(map.title);
  out += "</div><div class=\"src\">";
  out += source_text(map.source);
  out += "</div>";
  append_shadows(out, map.shadows);
  out += "</td>";
}

void append_modes_cell(std::string& out, const PlayModes& modes) {
  out += "<td class=\"c-modes\">";
  for (const ModeLabel& mode : kModeLabels) {
    if (!(modes.*mode.flag)) continue;
    out += "<span class=\"m-";
    out += mode.css_class;
    out += "\">";
    out += mode.text;
    out += "</span> ";
  }
  out += "</td>";
}

void append_number_cell(std::string& out, std::string_view column, std::uint64_t value) {
  out += "<td class=\"c-";
  out += column;
  out += "\">";
  out += grouped_digits(value);
  out += "</td>";
}

void append_row(std::string& out, const CatalogMap& map) {
  out += "<tr>";
  append_picture_cell(out, map);
  append_title_cell(out, map);
  out += "<td class=\"c-name\">";
  out += html_text(map.name);
  out += "<small>";
  out += family_text(map.family);
  out += "</small></td><td class=\"c-folder\">";
  out += html_text(map.folder);
  out += "</td>";
  append_modes_cell(out, map.modes);
  append_number_cell(out, "monsters", map.monsters);
  append_number_cell(out, "secrets", map.secrets);
  out += "<td class=\"c-size\" title=\"";
  out += grouped_digits(map.size);
  out += " bytes\">";
  out += size_text(map.size);
  out += "</td></tr>\n";
}

// JSON never holds '<' outside a string, and inside one "\u003c" is the same character: so
// writing every '<' that way keeps the value and leaves nothing that could end the element
// or open a comment in it, even when the caller passed JSON not made for HTML.
// JSON text made safe inside <script>: no '<' can start "</script>" or a comment.
void append_script_safe(std::string& out, std::string_view json) {
  for (const char c : json) {
    if (c == '<') {
      out += "\\u003c";
    } else {
      out += c;
    }
  }
}

// Hands the page out in pieces of about this many bytes: the page of tens of thousands of
// maps never stands whole in memory.
constexpr std::size_t kPagePiece = 64 * 1024;
constexpr std::size_t kRowsPerGroup = 100;

// The page, `embed` giving the data through the sink it is handed.
bool write_page(const CatalogMaps& maps,
                const std::function<bool(const TextSink&)>& embed, const TextSink& sink) {
  std::string out;
  out.reserve(kPagePiece + 4096);
  const auto flush = [&](std::size_t above) {
    if (out.size() <= above) return true;
    const bool written = sink(out);
    out.clear();
    return written;
  };
  append_head(out, maps.size());
  append_header(out, maps.size());
  append_table_head(out);
  // The rows in groups of kRowsPerGroup, each group a <tbody> that tells the style sheet
  // how many rows it holds (see the style sheet for why).
  std::size_t in_group = 0;
  for (std::size_t i = 0; i < maps.size(); ++i) {
    if (in_group == 0) {
      out += "<tbody style=\"--rows:";
      out += std::to_string(std::min(kRowsPerGroup, maps.size() - i));
      out += "\">\n";
    }
    append_row(out, maps[i]);
    if (++in_group == kRowsPerGroup || i + 1 == maps.size()) {
      out += "</tbody>\n";
      in_group = 0;
    }
    if (!flush(kPagePiece)) return false;
  }
  out += "</table>\n</main>\n<footer id=\"footer\"></footer>\n";
  out += "<script type=\"application/json\" id=\"maps-data\">";
  const bool embedded = embed([&](std::string_view json) {
    append_script_safe(out, json);
    return flush(kPagePiece);
  });
  if (!embedded) return false;
  out += "</script>\n<script>\n";
  out += catalog_page_script();
  out += "</script>\n</body>\n</html>\n";
  return flush(0);
}

}  // namespace

std::string map_count_text(std::size_t count) {
  return grouped_digits(count) + (count == 1 ? " map" : " maps");
}

std::string size_text(std::uint64_t bytes) {
  static constexpr std::array<std::string_view, 5> kUnits = {"B", "KiB", "MiB", "GiB", "TiB"};
  std::size_t unit_index = 0;
  std::uint64_t unit = 1;
  while (unit_index + 1 < kUnits.size() && bytes / unit >= 1024) {
    unit *= 1024;
    ++unit_index;
  }
  const std::uint64_t whole = bytes / unit;
  const std::uint64_t rest = bytes % unit;  // below 2^40, so ten times it cannot overflow
  if (unit_index > 0) {
    // Below ten units one decimal says more; rounding may carry it to ten.
    const std::uint64_t tenths = whole * 10 + (rest * 10 + unit / 2) / unit;
    if (tenths < 100) {
      return std::to_string(tenths / 10) + '.' + std::to_string(tenths % 10) + ' ' +
             std::string(kUnits[unit_index]);
    }
  }
  const std::uint64_t rounded = whole + (unit_index > 0 && rest * 2 >= unit ? 1 : 0);
  const std::string number = grouped_digits(rounded);
  return number + ' ' + std::string(kUnits[unit_index]);
}

std::string catalog_page(const CatalogMaps& maps, std::string_view embedded_json) {
  std::string page;
  write_page(
      maps, [&](const TextSink& data) { return data(embedded_json); },
      [&](std::string_view piece) {
        page += piece;
        return true;
      });
  return page;
}

bool write_catalog_page(const CatalogMaps& maps, std::string_view generator,
                        const TextSink& sink) {
  return write_page(
      maps,
      [&](const TextSink& data) { return write_catalog_json(maps, generator, true, data); },
      sink);
}

}  // namespace mapsweep
