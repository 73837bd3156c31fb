#include "app/catalog_page_assets.h"

namespace mapsweep {

// The page's script. The rows are written by the generator in the order of the embedded
// maps, so row i shows maps[i]; the script never builds a row. Filtering only toggles a
// class on the rows whose state changes, and sorting moves the existing rows in an order
// computed once per column from precomputed keys: with 40,000 rows, rebuilding or
// re-reading the table would cost seconds. The rows stand in groups (one <tbody> each) that
// the browser skips while off screen; each group's --rows says how many of its rows are
// shown, so that a skipped group takes about the room its rows would.
std::string_view catalog_page_script() {
  return R"js('use strict';
(() => {
  const MODES = ['single', 'coop', 'deathmatch', 'team'];
  const data = JSON.parse(document.getElementById('maps-data').textContent);
  const maps = data.maps;
  const table = document.getElementById('maps');
  const groups = Array.from(table.tBodies);
  const rows = groups.flatMap((group) => Array.from(group.rows));
  if (rows.length !== maps.length) {
    console.error(`The table has ${rows.length} rows for ${maps.length} maps: ` +
                  'filtering and sorting are off.');
    return;
  }
  const filter = document.getElementById('filter');
  const toggles = Array.from(document.querySelectorAll('#modes input[data-mode]'));
  const count = document.getElementById('count');
  const header = document.querySelector('body > header');

  // The column heads stick below the header, whose height changes as it wraps.
  const noteHeaderHeight = () =>
    document.documentElement.style.setProperty('--head', `${header.offsetHeight}px`);
  new ResizeObserver(noteHeaderHeight).observe(header);

  document.getElementById('footer').textContent = `Catalogue written by ${data.generator}`;

  // Filtering. A line feed cannot be typed into the filter, so it separates the fields
  // and a query never matches across two of them.
  const haystacks = maps.map((map) => `${map.title}\n${map.name}\n${map.folder}`.toLowerCase());
  const modeBits = Uint8Array.from(maps, (map) =>
    MODES.reduce((bits, mode, k) => (map.modes[mode] ? bits | (1 << k) : bits), 0));
  const hidden = new Uint8Array(maps.length);
  // Which group each row stands in (sorting moves rows between groups), and how many of
  // each group's rows are shown.
  const groupOf = new Uint32Array(rows.length);
  const groupSizes = groups.map((group) => group.rows.length);
  groupSizes.reduce((first, size, g) => {
    groupOf.fill(g, first, first + size);
    return first + size;
  }, 0);
  const shownInGroup = Uint32Array.from(groupSizes);

  function noteGroupSizes() {
    const shown = new Uint32Array(groups.length);
    for (let i = 0; i < rows.length; ++i) shown[groupOf[i]] += 1 - hidden[i];
    groups.forEach((group, g) => {
      if (shown[g] !== shownInGroup[g]) group.style.setProperty('--rows', String(shown[g]));
    });
    shownInGroup.set(shown);
  }

  const grouped = (n) => n.toLocaleString('en-US');
  function showCount(shown) {
    const noun = maps.length === 1 ? 'map' : 'maps';
    count.textContent = shown === maps.length
      ? `${grouped(shown)} ${noun}`
      : `${grouped(shown)} of ${grouped(maps.length)} ${noun}`;
  }

  function requiredModes() {
    let bits = 0;
    for (const toggle of toggles) {
      if (toggle.checked) bits |= 1 << MODES.indexOf(toggle.dataset.mode);
    }
    return bits;
  }

  let pendingFilter = 0;
  function applyFilter() {
    clearTimeout(pendingFilter);
    const query = filter.value.toLowerCase();
    const required = requiredModes();
    let shown = 0;
    for (let i = 0; i < rows.length; ++i) {
      const hide = (modeBits[i] & required) !== required ||
                   (query !== '' && !haystacks[i].includes(query));
      if (hide !== (hidden[i] === 1)) {
        rows[i].classList.toggle('hidden', hide);
        hidden[i] = hide ? 1 : 0;
      }
      if (!hide) ++shown;
    }
    noteGroupSizes();
    showCount(shown);
  }

  // Typing waits for a pause, longer where each pass over the rows costs more.
  const typingPause = maps.length > 5000 ? 200 : 60;
  filter.addEventListener('input', () => {
    clearTimeout(pendingFilter);
    pendingFilter = setTimeout(applyFilter, typingPause);
  });
  for (const toggle of toggles) toggle.addEventListener('change', applyFilter);
  document.addEventListener('keydown', (event) => {
    if (event.key === '/' && document.activeElement !== filter) {
      event.preventDefault();
      filter.focus();
    }
  });

  // Sorting. Names such as e1m2 and e1m10 sort by their numbers: digit runs are padded
  // to one width. Modes sort single-player first, then co-op, deathmatch and team.
  const naturalKey = (text) => text.toLowerCase().replace(/\d+/g, (run) => run.padStart(20, '0'));
  const sortKeys = {
    picture: (map) => (map.picture === null ? 1 : 0),
    title: (map) => naturalKey(map.title),
    name: (map) => naturalKey(map.name),
    folder: (map) => naturalKey(map.folder),
    modes: (map) => MODES.reduce((key, mode) => key * 2 + (map.modes[mode] ? 0 : 1), 0),
    monsters: (map) => map.monsters,
    secrets: (map) => map.secrets,
    size: (map) => map.size,
  };

  const ascendingOrders = new Map();
  function ascendingOrder(column) {
    let order = ascendingOrders.get(column);
    if (order === undefined) {
      const keys = maps.map(sortKeys[column]);
      order = Array.from(maps, (_, i) => i);
      order.sort((a, b) => (keys[a] < keys[b] ? -1 : keys[a] > keys[b] ? 1 : a - b));
      ascendingOrders.set(column, order);
    }
    return order;
  }

  let sorted = { column: null, descending: false };
  function sortBy(column) {
    const descending = sorted.column === column && !sorted.descending;
    const ascending = ascendingOrder(column);
    const order = descending ? Array.from(ascending).reverse() : ascending;
    // The rows move while their groups are out of the document: moved one by one in the
    // document, each move costs the browser work for every row (minutes for 40,000).
    for (const group of groups) group.remove();
    let next = 0;
    groups.forEach((group, g) => {
      for (const end = next + groupSizes[g]; next < end; ++next) {
        group.appendChild(rows[order[next]]);
        groupOf[order[next]] = g;
      }
    });
    table.append(...groups);  // the groups are the table's last children
    noteGroupSizes();
    sorted = { column, descending };
    for (const cell of table.tHead.rows[0].cells) {
      const own = cell.querySelector('button').dataset.key === column;
      cell.setAttribute('aria-sort', own ? (descending ? 'descending' : 'ascending') : 'none');
    }
  }
  table.tHead.addEventListener('click', (event) => {
    const button = event.target.closest('button[data-key]');
    if (button !== null) sortBy(button.dataset.key);
  });

  // A reload may bring back what was typed or ticked before: show the rows to match.
  applyFilter();
})();
)js";
}

}  // namespace mapsweep
