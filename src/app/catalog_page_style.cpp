#include "app/catalog_page_assets.h"

namespace mapsweep {

// The table keeps its HTML elements, so it reads as a table without styles, but its parts
// are laid out as blocks and its rows as grids: content-visibility, which lets the browser
// skip what is off screen, has no effect on table parts. It is set on the row groups, a
// hundred rows each, rather than on the rows: with tens of thousands of lazy pictures the
// browser then passes over whole groups while it loads the page, which halves the time to
// the last row. A group not laid out counts as its rows times the typical row height
// (--rows is set by the page and by the script as rows are filtered).
std::string_view catalog_page_style() {
  return R"css(:root {
  --bg: #111317;
  --panel: #171a1f;
  --line: #262b33;
  --text: #e3e5e9;
  --dim: #8c939e;
  --accent: #e9a84c;
  --pic: 176px;
  --row: 201px;
  --head: 0px;
  --columns: calc(var(--pic) + 28px) minmax(15rem, 3fr) minmax(8rem, 1.3fr)
    minmax(7rem, 1.1fr) minmax(10rem, 1.3fr) 6.5rem 6rem 6.5rem;
}
* { box-sizing: border-box; }
html {
  background: var(--bg);
  color: var(--text);
  font: 15px/1.45 system-ui, -apple-system, "Segoe UI", Roboto, "Noto Sans", "DejaVu Sans",
    sans-serif;
}
body { margin: 0; min-width: 68rem; }

header {
  position: sticky;
  top: 0;
  z-index: 2;
  display: flex;
  flex-wrap: wrap;
  align-items: center;
  gap: 12px 32px;
  padding: 16px 24px;
  background: rgba(17, 19, 23, 0.97);
  border-bottom: 1px solid var(--line);
}
.heading { display: flex; align-items: baseline; gap: 16px; }
h1 { margin: 0; font-size: 24px; font-weight: 700; letter-spacing: 0.02em; color: var(--accent); }
#count { margin: 0; color: var(--dim); font-variant-numeric: tabular-nums; }
.controls { display: flex; flex-wrap: wrap; align-items: center; gap: 12px 24px; }
#filter {
  width: 24rem;
  padding: 8px 12px;
  font: inherit;
  color: var(--text);
  background: var(--panel);
  border: 1px solid var(--line);
  border-radius: 8px;
  outline: none;
}
#filter:focus { border-color: var(--accent); }
#modes { display: flex; align-items: center; gap: 8px; margin: 0; padding: 0; border: 0; }
#modes legend { float: left; margin-right: 4px; color: var(--dim); font-size: 13px; }
.toggle {
  display: inline-flex;
  align-items: center;
  gap: 6px;
  padding: 4px 12px 4px 8px;
  font-size: 13px;
  border: 1px solid var(--line);
  border-radius: 999px;
  cursor: pointer;
  user-select: none;
}
.toggle input { margin: 0; accent-color: var(--accent); }
.toggle:has(input:checked) { border-color: currentColor; background: var(--panel); }

table { display: block; width: 100%; border-collapse: collapse; }
thead, tbody { display: block; }
tr { display: grid; grid-template-columns: var(--columns); align-items: start; }
thead {
  position: sticky;
  top: var(--head);
  z-index: 1;
  background: var(--panel);
  border-bottom: 1px solid var(--line);
}
th { padding: 8px 12px; text-align: left; font-size: 12px; font-weight: 600; }
th button {
  all: unset;
  cursor: pointer;
  color: var(--dim);
  text-transform: uppercase;
  letter-spacing: 0.08em;
}
th button:hover, th button:focus-visible { color: var(--text); }
th[aria-sort="ascending"] button, th[aria-sort="descending"] button { color: var(--accent); }
th[aria-sort="ascending"] button::after { content: " \25B2"; }
th[aria-sort="descending"] button::after { content: " \25BC"; }
.c-monsters, .c-secrets, .c-size { text-align: right; }

tbody {
  content-visibility: auto;
  contain-intrinsic-size: calc(var(--rows, 100) * var(--row));
}
tbody tr { border-bottom: 1px solid var(--line); }
tbody tr:hover { background: rgba(255, 255, 255, 0.025); }
tbody tr.hidden { display: none; }
td { padding: 12px; overflow-wrap: anywhere; }
td.c-picture { padding: 12px 14px; }
td.c-picture img, .nopic {
  display: block;
  width: var(--pic);
  height: var(--pic);
  border-radius: 10px;
  background: #0a0b0d;
  box-shadow: 0 0 0 1px var(--line), 0 4px 14px rgba(0, 0, 0, 0.45);
}
.nopic {
  display: flex;
  align-items: center;
  justify-content: center;
  color: var(--dim);
  font-size: 13px;
  background: repeating-linear-gradient(45deg, #15181c 0 10px, #121418 10px 20px);
}
.t { font-size: 18px; font-weight: 600; line-height: 1.3; color: #f4f5f7; }
.untitled { color: var(--dim); font-style: italic; font-weight: 400; }
.src { margin-top: 6px; color: var(--dim); font-size: 12.5px; }
details { margin-top: 8px; font-size: 12.5px; color: var(--dim); }
summary { cursor: pointer; color: var(--accent); }
details ol { margin: 6px 0 0; padding-left: 20px; }
td.c-name {
  font-family: ui-monospace, "DejaVu Sans Mono", "Liberation Mono", monospace;
  font-size: 14px;
}
td.c-name small {
  display: block;
  margin-top: 6px;
  font-family: system-ui, "DejaVu Sans", sans-serif;
  font-size: 11.5px;
  color: var(--dim);
}
td.c-folder { color: #c9ced6; }
.c-modes span {
  display: inline-block;
  margin: 0 4px 6px 0;
  padding: 2px 9px;
  font-size: 12px;
  border-radius: 999px;
}
.m-single { color: #8fdcaa; }
.m-coop { color: #8fbdf0; }
.m-deathmatch { color: #f29a8e; }
.m-team { color: #c9a3f0; }
.c-modes .m-single { background: #1b3326; }
.c-modes .m-coop { background: #1a2b41; }
.c-modes .m-deathmatch { background: #3d1f1c; }
.c-modes .m-team { background: #2e2142; }
td.c-monsters, td.c-secrets, td.c-size {
  font-variant-numeric: tabular-nums;
  font-size: 16px;
  padding-top: 14px;
}
td.c-size { color: #c9ced6; }
footer { padding: 24px; color: var(--dim); font-size: 12.5px; text-align: center; }
)css";
}

}  // namespace mapsweep
