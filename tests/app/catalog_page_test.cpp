#include "app/catalog_page.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/catalog_json.h"
#include "app/catalog_page_assets.h"
#include "app/html_text.h"

namespace mapsweep {
namespace {

CatalogMap map_named(std::string folder, std::string name, std::string title) {
  CatalogMap map;
  map.picture = "pictures/" + name + ".png";
  map.folder = std::move(folder);
  map.name = std::move(name);
  map.title = std::move(title);
  map.source = {"id1/pak0.pak", "maps/" + map.name + ".bsp"};
  map.family = "29";
  map.size = 123456;
  map.modes.single = true;
  return map;
}

std::size_t occurrences(std::string_view text, std::string_view part) {
  std::size_t count = 0;
  for (std::size_t at = text.find(part); at != text.npos; at = text.find(part, at + 1)) ++count;
  return count;
}

std::string between(std::string_view text, std::string_view open, std::string_view close) {
  const std::size_t start = text.find(open);
  if (start == text.npos) return "(missing " + std::string(open) + ")";
  const std::size_t end = text.find(close, start + open.size());
  return std::string(text.substr(start + open.size(), end - start - open.size()));
}

// The table's row groups, each with its rows.
std::string table_body(std::string_view page) {
  return between(page, "</thead>\n", "</table>");
}

// The table's rows, one string per <tr>, across all groups.
std::vector<std::string> rows_of(std::string_view page) {
  const std::string body = table_body(page);
  std::vector<std::string> rows;
  for (std::size_t at = body.find("<tr>"); at != body.npos; at = body.find("<tr>", at + 1))
    rows.push_back(body.substr(at, body.find("</tr>\n", at) - at));
  return rows;
}

std::string page_of(const CatalogMaps& maps) {
  return catalog_page(maps, catalog_json(maps, "mapsweep test", true));
}

// Every '<' in the table opens or closes one of the elements the generator writes: a
// record's text never adds markup of its own.
void expect_only_generated_markup(std::string_view table) {
  static const std::vector<std::string_view> kTags = {
      "tbody ", "tbody>", "tr>",      "td ",      "td>", "img ", "span ", "span>",
      "div ",   "div>",   "details>", "summary>", "ol>", "li>",  "small>"};
  for (std::size_t at = table.find('<'); at != table.npos; at = table.find('<', at + 1)) {
    std::string_view tag = table.substr(at + 1);
    if (!tag.empty() && tag[0] == '/') tag.remove_prefix(1);
    bool known = false;
    for (const std::string_view name : kTags) known = known || tag.substr(0, name.size()) == name;
    EXPECT_TRUE(known) << "unexpected markup: " << table.substr(at, 40);
  }
}

TEST(CatalogPage, EscapesEveryTextOfARecordWhereverItAppears) {
  const std::vector<std::string> hostile = {
      "<script>alert(1)</script>",  "\" onmouseover=\"alert(2)", "</td></tr><tr><td>x",
      "&lt;already&gt; & 'quoted'", "</script><!--<script>",     "\xE9t\xE9 \x01<b>"};
  CatalogMaps maps;
  for (const std::string& text : hostile) {
    CatalogMap map = map_named(text + " folder", text + " name", text + " title");
    map.source = {text + ".pak", "maps/" + text + ".bsp"};
    map.shadows = {{"", "maps/" + text + " loose.bsp"}, {text + " old.pak", text + " entry"}};
    map.family = text;
    maps.push_back(map);
  }
  const std::string page = page_of(maps);
  expect_only_generated_markup(table_body(page));
  for (const std::string& text : hostile) {
    for (const std::string& shown :
         {text + " folder", text + " name", text + " title", text + ".pak: maps/" + text + ".bsp",
          "maps/" + text + " loose.bsp", text + " old.pak: " + text + " entry"})
      EXPECT_NE(page.find(html_text(shown)), std::string::npos) << shown;
  }
  // The data and the script are the page's only scripts, each closed once.
  EXPECT_EQ(occurrences(page, "<script"), 2u);
  EXPECT_EQ(occurrences(page, "</script"), 2u);
  EXPECT_EQ(occurrences(page, "<!--"), 0u);
}

TEST(CatalogPage, WritesOneRowPerMapWithItsCopiesInside) {
  for (const std::size_t count : {0u, 1u, 3u, 250u}) {
    CatalogMaps maps;
    for (std::size_t i = 0; i < count; ++i) {
      CatalogMap map = map_named("mod" + std::to_string(i % 4), "m" + std::to_string(i), "T");
      map.shadows.assign(i % 3, MapSource{"id1/pak1.pak", "maps/shadowed" + std::to_string(i)});
      maps.push_back(map);
    }
    const std::string page = page_of(maps);
    const std::vector<std::string> rows = rows_of(page);
    ASSERT_EQ(rows.size(), count);
    EXPECT_EQ(between(page, "<p id=\"count\" aria-live=\"polite\">", "</p>"),
              map_count_text(count));
    for (std::size_t i = 0; i < count; ++i) {
      // Row i is map i: the script relies on the order.
      EXPECT_NE(rows[i].find(">m" + std::to_string(i) + "<small>"), std::string::npos) << i;
      EXPECT_EQ(occurrences(rows[i], "<td"), 8u) << i;
      EXPECT_EQ(occurrences(rows[i], "<li>"), i % 3) << i;
      EXPECT_EQ(occurrences(rows[i], "maps/shadowed" + std::to_string(i) + "<"), i % 3) << i;
      EXPECT_EQ(occurrences(rows[i], "<details>"), i % 3 == 0 ? 0u : 1u) << i;
    }
    // Rows stand in groups of at most a hundred, each saying how many it holds.
    const std::string body = table_body(page);
    std::size_t grouped = 0;
    for (std::size_t at = body.find("<tbody"); at != body.npos; at = body.find("<tbody", at + 1)) {
      const std::string group = between(body.substr(at), ">\n", "</tbody>");
      const std::size_t held = occurrences(group, "<tr>");
      EXPECT_EQ(
          body.substr(at, 30).rfind("<tbody style=\"--rows:" + std::to_string(held) + "\">", 0),
          0u);
      EXPECT_GE(held, 1u);
      EXPECT_LE(held, 100u);
      grouped += held;
    }
    EXPECT_EQ(grouped, count);
  }
}

TEST(CatalogPage, EmbedsTheDataItWasGivenAndNothingCanEndItsElement) {
  const CatalogMaps maps = {map_named("id1", "e1m1", "</script><script>alert(1)")};
  const std::string json = catalog_json(maps, "mapsweep test", true);
  const std::string open = "<script type=\"application/json\" id=\"maps-data\">";
  EXPECT_EQ(between(catalog_page(maps, json), open, "</script>"), json);

  // JSON not made for HTML still cannot close the element or open a comment in it; the
  // only change is '<' written as the escape that means the same character.
  const std::string unsafe = "{\"t\":\"</script><!-- <script>\",\"u\":\"</SCRIPT\"}";
  const std::string embedded = between(catalog_page({}, unsafe), open, "</script>");
  EXPECT_EQ(embedded.find('<'), std::string::npos);
  std::string restored = embedded;
  for (std::size_t at = restored.find("\\u003c"); at != restored.npos;
       at = restored.find("\\u003c", at))
    restored.replace(at, 6, "<");
  EXPECT_EQ(restored, unsafe);
}

TEST(CatalogPage, LinksEachPictureLazilyAtItsSizeAndNoneForAMapWithout) {
  CatalogMap drawn = map_named("id1", "a #1%41", "Drawn");
  CatalogMap undrawn = map_named("id1", "b", "Undrawn");
  undrawn.picture.clear();
  const std::vector<std::string> rows = rows_of(page_of({drawn, undrawn}));
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(occurrences(rows[0], "<img"), 1u);
  EXPECT_NE(rows[0].find("<img loading=\"lazy\" decoding=\"async\" width=\"256\" height=\"256\" "
                         "alt=\"\" src=\"pictures/a%20%231%2541.png\">"),
            std::string::npos)
      << rows[0];
  EXPECT_EQ(occurrences(rows[1], "<img"), 0u);
  EXPECT_NE(rows[1].find("no picture"), std::string::npos);
}

TEST(CatalogPage, StyleAndScriptCannotEndTheirElements) {
  for (const std::string_view asset : {catalog_page_style(), catalog_page_script()}) {
    EXPECT_EQ(asset.find("</"), std::string_view::npos);
    EXPECT_EQ(asset.find("<!--"), std::string_view::npos);
  }
}

TEST(CatalogPage, CountsAndSizesReadAsPeopleWriteThem) {
  EXPECT_EQ(map_count_text(0), "0 maps");
  EXPECT_EQ(map_count_text(1), "1 map");
  EXPECT_EQ(map_count_text(40000), "40,000 maps");
  EXPECT_EQ(map_count_text(1234567), "1,234,567 maps");
  EXPECT_EQ(size_text(0), "0 B");
  EXPECT_EQ(size_text(1023), "1,023 B");
  EXPECT_EQ(size_text(1024), "1.0 KiB");
  EXPECT_EQ(size_text(4608), "4.5 KiB");
  EXPECT_EQ(size_text(10188), "9.9 KiB");
  EXPECT_EQ(size_text(10230), "10 KiB");  // 9.99 rounds up to the next whole number
  EXPECT_EQ(size_text(1536 * 1024), "1.5 MiB");
  EXPECT_EQ(size_text(23ull << 30), "23 GiB");
  EXPECT_EQ(size_text(~0ull), "16,777,216 TiB");
}

}  // namespace
}  // namespace mapsweep
