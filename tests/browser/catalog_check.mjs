// Opens a catalogue folder's index.html in headless Chromium, as a person would from the
// file system, and checks what they would see against the folder's maps.json: the count,
// the rows, the filter, the deathmatch toggle, sorting, the pictures, a clean console and a
// fast first paint. maps.json is also held against doc/maps.schema.json.
//
//   node catalog_check.mjs CATALOG_DIR [--screenshot FILE]
//
// Prints one line per check and "checks: N passed, M failed"; exits 1 when a check fails,
// 2 on a usage error. CHROMIUM names another browser than /usr/bin/chromium.
import { readFile } from 'node:fs/promises';
import path from 'node:path';
import { fileURLToPath, pathToFileURL } from 'node:url';
import { isDeepStrictEqual } from 'node:util';
import puppeteer, { TimeoutError } from 'puppeteer-core';

const SCHEMA = fileURLToPath(new URL('../../doc/maps.schema.json', import.meta.url));
const FIRST_PAINT_LIMIT_MS = 1000;
const VIEWPORT = { width: 1440, height: 1000 };

class CheckFailure extends Error {}

function expect(condition, message) {
  if (!condition) throw new CheckFailure(message);
}

function parseArguments(args) {
  const options = { folder: null, screenshot: null };
  for (let i = 0; i < args.length; ++i) {
    if (args[i] === '--screenshot' && i + 1 < args.length) {
      options.screenshot = args[++i];
    } else if (options.folder === null && !args[i].startsWith('-')) {
      options.folder = args[i];
    } else {
      return null;
    }
  }
  return options.folder === null ? null : options;
}

// ---- The schema: the part of JSON Schema that maps.schema.json uses, and nothing more.
// A keyword outside that part is an error, so the schema cannot outgrow the validator
// unnoticed.

const SCHEMA_KEYWORDS = new Set(['$schema', 'title', 'description', 'type', 'properties',
  'required', 'additionalProperties', 'items', 'enum', 'minimum', 'pattern']);

const isObject = (value) => typeof value === 'object' && value !== null && !Array.isArray(value);

function hasType(value, type) {
  switch (type) {
    case 'null': return value === null;
    case 'boolean': return typeof value === 'boolean';
    case 'string': return typeof value === 'string';
    case 'number': return typeof value === 'number' && Number.isFinite(value);
    case 'integer': return Number.isInteger(value);
    case 'array': return Array.isArray(value);
    case 'object': return isObject(value);
    default: throw new Error(`the schema names the unknown type "${type}"`);
  }
}

function validateObject(schema, value, where, errors) {
  for (const key of schema.required ?? []) {
    if (!Object.hasOwn(value, key)) errors.push(`${where}: "${key}" is missing`);
  }
  const properties = schema.properties ?? {};
  for (const [key, item] of Object.entries(value)) {
    if (Object.hasOwn(properties, key)) {
      validate(properties[key], item, `${where}.${key}`, errors);
    } else if (schema.additionalProperties === false) {
      errors.push(`${where}: "${key}" is not allowed`);
    }
  }
}

// Adds a line to `errors` for each way `value` breaks `schema`; `where` names the value.
function validate(schema, value, where, errors) {
  for (const key of Object.keys(schema)) {
    if (!SCHEMA_KEYWORDS.has(key)) {
      throw new Error(`the schema uses "${key}" at ${where}, which this check does not know`);
    }
  }
  if (schema.additionalProperties !== undefined && typeof schema.additionalProperties !== 'boolean') {
    throw new Error(`additionalProperties at ${where} must be true or false for this check`);
  }
  if (schema.type !== undefined) {
    const types = Array.isArray(schema.type) ? schema.type : [schema.type];
    if (!types.some((type) => hasType(value, type))) {
      errors.push(`${where}: ${JSON.stringify(value)?.slice(0, 60)} is not of type ${types.join(' or ')}`);
      return;
    }
  }
  if (schema.enum !== undefined && !schema.enum.some((allowed) => isDeepStrictEqual(allowed, value))) {
    errors.push(`${where}: ${JSON.stringify(value)} is not one of ${JSON.stringify(schema.enum)}`);
  }
  if (schema.minimum !== undefined && typeof value === 'number' && value < schema.minimum) {
    errors.push(`${where}: ${value} is below ${schema.minimum}`);
  }
  const pattern = schema.pattern === undefined ? null : new RegExp(schema.pattern, 'u');
  if (pattern !== null && typeof value === 'string' && !pattern.test(value)) {
    errors.push(`${where}: ${JSON.stringify(value)} does not match ${schema.pattern}`);
  }
  if (isObject(value)) validateObject(schema, value, where, errors);
  if (Array.isArray(value) && schema.items !== undefined) {
    value.forEach((item, i) => validate(schema.items, item, `${where}[${i}]`, errors));
  }
}

// ---- What the page should show, worked out from maps.json alone.

// The page shows control characters as their Control Pictures.
const shown = (text) => text.replace(/[\u0000-\u001f\u007f]/g,
  (c) => String.fromCharCode(c === '\u007f' ? 0x2421 : 0x2400 + c.charCodeAt(0)));

function indicesWhere(maps, predicate) {
  const indices = [];
  maps.forEach((map, i) => { if (predicate(map)) indices.push(i); });
  return indices;
}

function matchingFilter(maps, query) {
  const needle = query.toLowerCase();
  return indicesWhere(maps, (map) => [map.title, map.name, map.folder]
    .some((field) => field.toLowerCase().includes(needle)));
}

// A title to type: one a keyboard can type. Of the first few such titles, the one that
// matches the most maps short of all of them, so that the filter shows it keeps every map
// that contains the text, not only the one it came from, and hides the others.
function titleToType(maps) {
  const typeable = /^[\x20-\x7e]{4,40}$/;
  let best = null;
  let bestMatches = -1;
  for (let k = 0, tried = 0; k < maps.length && tried < 25; ++k) {
    const title = maps[(Math.floor(maps.length / 2) + k) % maps.length].title;
    if (!typeable.test(title) || title.trim() !== title) continue;
    ++tried;
    const matches = matchingFilter(maps, title).length;
    const rank = matches < maps.length ? matches : 0;  // matching all hides nothing
    if (rank > bestMatches) [best, bestMatches] = [title, rank];
  }
  return best;
}

// Text that no map's title, name or folder contains.
function textMatchingNothing(maps) {
  let text = 'zq';
  while (matchingFilter(maps, text).length > 0) text += 'x';
  return text;
}

function describeDifference(expected, actual) {
  const want = new Set(expected);
  const have = new Set(actual);
  const missing = expected.filter((i) => !have.has(i)).slice(0, 5);
  const extra = actual.filter((i) => !want.has(i)).slice(0, 5);
  return `expected ${expected.length} rows, ${actual.length} shown; ` +
         `missing maps ${JSON.stringify(missing)}, extra maps ${JSON.stringify(extra)}`;
}

// ---- The page, seen through the browser.

async function launch() {
  const args = [];
  if (process.getuid?.() === 0) args.push('--no-sandbox');  // Chromium refuses root otherwise
  return puppeteer.launch({
    executablePath: process.env.CHROMIUM ?? '/usr/bin/chromium',
    headless: true,
    args,
    defaultViewport: VIEWPORT,
    protocolTimeout: 600_000,
  });
}

// The rows in the order of the maps they show, noted before anything moves them.
async function noteRowsInDataOrder(page) {
  await page.evaluate(() => {
    window.catalogCheckRows = Array.from(document.querySelectorAll('#maps > tbody > tr'));
  });
}

async function shownCount(page) {
  const text = await page.$eval('#count', (count) => count.textContent);
  const digits = /^[\d,]+/.exec(text);
  return digits === null ? NaN : Number(digits[0].replaceAll(',', ''));
}

// The rows whose style shows them. The row groups off screen are unskipped while the styles
// are read: the browser would otherwise bring each group's styles up to date on its own, at
// a cost of half a minute for 40,000 rows.
async function visibleRowIndices(page) {
  return page.evaluate(() => {
    const unskip = document.createElement('style');
    unskip.textContent = '#maps > tbody { content-visibility: visible !important; }';
    document.head.append(unskip);
    try {
      return window.catalogCheckRows.flatMap(
        (row, i) => (getComputedStyle(row).display === 'none' ? [] : [i]));
    } finally {
      unskip.remove();
    }
  });
}

// Waits for the count to say `expected` rows, then compares the rows left visible.
async function expectVisibleRows(page, expected, what) {
  try {
    await page.waitForFunction((n) => {
      const digits = /^[\d,]+/.exec(document.getElementById('count').textContent);
      return digits !== null && Number(digits[0].replaceAll(',', '')) === n;
    }, { timeout: 15_000 }, expected.length);
  } catch {
    throw new CheckFailure(`${what}: the count shows ${await shownCount(page)}, expected ${expected.length}`);
  }
  const actual = await visibleRowIndices(page);
  expect(isDeepStrictEqual(actual, expected), `${what}: ${describeDifference(expected, actual)}`);
}

async function clearFilter(page) {
  await page.click('#filter');
  await page.keyboard.down('Control');
  await page.keyboard.press('KeyA');
  await page.keyboard.up('Control');
  await page.keyboard.press('Backspace');
}

// The pictures inside the viewport, once each has finished loading or failing. Only the
// row groups in view are looked into: a row's box in a group off screen costs a layout.
async function picturesInView(page) {
  const pictures = await page.waitForFunction(() => {
    const inView = [];
    const within = (element) => {
      const box = element.getBoundingClientRect();
      return box.height > 0 && box.bottom > 0 && box.top < innerHeight;
    };
    for (const group of document.getElementById('maps').tBodies) {
      if (!within(group)) continue;
      for (const row of group.rows) if (within(row)) inView.push(...row.querySelectorAll('img'));
    }
    return inView.every((img) => img.complete) &&
      inView.map((img) => ({ src: img.getAttribute('src'), width: img.naturalWidth }));
  }, { timeout: 20_000, polling: 100 });
  return pictures.jsonValue();
}

async function scrollTo(page, y) {
  await page.evaluate((top) => new Promise((resolve) => {
    window.scrollTo(0, top);
    requestAnimationFrame(() => requestAnimationFrame(resolve));
  }), y);
}

// ---- The checks. Each gets what it needs and throws a CheckFailure to fail.

function checkSchema(schema, catalog) {
  const errors = [];
  validate(schema, catalog, 'maps.json', errors);
  expect(errors.length === 0,
    `${errors.length} schema violations:\n    ${errors.slice(0, 15).join('\n    ')}`);
  return `maps.json matches ${path.basename(SCHEMA)} (${catalog.maps.length} maps)`;
}

async function checkEmbeddedData(page, catalog) {
  const text = await page.$eval('#maps-data', (script) => script.textContent);
  expect(isDeepStrictEqual(JSON.parse(text), catalog),
    'the data embedded in the page differs from maps.json');
  return 'the page embeds the same data as maps.json';
}

async function checkRows(page, maps) {
  const rows = await page.evaluate(() => window.catalogCheckRows.map((row) => ({
    // Selectors of one class each: a descendant selector, run on 40,000 rows, makes the
    // browser search the whole table for every row.
    title: row.querySelector('.t')?.textContent,
    name: row.querySelector('.c-name')?.firstChild?.textContent,
    folder: row.querySelector('.c-folder')?.textContent,
    pictures: row.querySelectorAll('img').length,
  })));
  expect(rows.length === maps.length, `${rows.length} rows for ${maps.length} maps`);
  rows.forEach((row, i) => {
    const map = maps[i];
    const want = { title: map.title === '' ? 'untitled' : shown(map.title), name: shown(map.name),
      folder: shown(map.folder), pictures: map.picture === null ? 0 : 1 };
    expect(isDeepStrictEqual(row, want),
      `row ${i} shows ${JSON.stringify(row)}, expected ${JSON.stringify(want)}`);
  });
  return `one row per map, each showing its map's title, name, folder and picture`;
}

async function checkCount(page, maps) {
  const count = await shownCount(page);
  expect(count === maps.length, `the page says ${count} maps, maps.json has ${maps.length}`);
  return `the count says ${count} maps`;
}

async function checkFirstPaint(page) {
  // A small page can fire its load event before its first frame is presented.
  await page.waitForFunction(() => performance.getEntriesByType('paint').length > 0, { timeout: 10_000 })
    .catch(() => {});
  const paints = await page.evaluate(() => performance.getEntriesByType('paint')
    .map((entry) => ({ name: entry.name, startTime: entry.startTime })));
  const first = paints.find((entry) => entry.name === 'first-paint');
  expect(first !== undefined, `no first-paint entry among ${JSON.stringify(paints)}`);
  expect(first.startTime < FIRST_PAINT_LIMIT_MS,
    `first paint after ${first.startTime.toFixed(0)} ms, over ${FIRST_PAINT_LIMIT_MS} ms`);
  return `first paint after ${first.startTime.toFixed(0)} ms`;
}

// Scrolls through the page (at most 40 stops, spread over all of it) and requires every
// picture in view to have loaded.
async function checkPictures(page, screenshot) {
  const { height, viewport } = await page.evaluate(
    () => ({ height: document.documentElement.scrollHeight, viewport: innerHeight }));
  const stops = Math.min(40, Math.max(1, Math.ceil(height / viewport)));
  let seen = 0;
  for (let stop = 0; stop < stops; ++stop) {
    await scrollTo(page, Math.round((stop * (height - viewport)) / Math.max(1, stops - 1)));
    const pictures = await picturesInView(page);
    const broken = pictures.filter((picture) => picture.width === 0).map((picture) => picture.src);
    expect(broken.length === 0, `pictures that did not load: ${broken.slice(0, 5).join(', ')}`);
    seen += pictures.length;
    if (stop === 0 && screenshot !== null) await page.screenshot({ path: screenshot });
  }
  await scrollTo(page, 0);
  return `${seen} pictures in view at ${stops} scroll positions all loaded`;
}

async function checkFilter(page, maps) {
  if (maps.length === 0) return 'no maps: nothing to filter';
  const title = titleToType(maps);
  expect(title !== null, 'maps.json has no title that can be typed to filter by');
  await page.type('#filter', title);
  await expectVisibleRows(page, matchingFilter(maps, title), `filter "${title}"`);
  await clearFilter(page);
  await expectVisibleRows(page, maps.map((_, i) => i), 'the cleared filter');
  const nothing = textMatchingNothing(maps);
  await page.type('#filter', nothing);
  await expectVisibleRows(page, [], `filter "${nothing}"`);
  await clearFilter(page);
  await expectVisibleRows(page, maps.map((_, i) => i), 'the cleared filter');
  const matches = matchingFilter(maps, title).length;
  return `typing "${title}" leaves the ${matches} maps that contain it, "${nothing}" none; ` +
         'clearing shows all';
}

async function checkDeathmatchToggle(page, maps) {
  const expected = indicesWhere(maps, (map) => map.modes.deathmatch);
  await page.click('#mode-deathmatch');
  await expectVisibleRows(page, expected, 'deathmatch toggle');
  await page.click('#mode-deathmatch');
  await expectVisibleRows(page, maps.map((_, i) => i), 'deathmatch toggle off');
  return `the deathmatch toggle leaves the ${expected.length} deathmatch maps`;
}

async function checkSorting(page, maps) {
  const order = () => page.evaluate(() => {
    const index = new Map(window.catalogCheckRows.map((row, i) => [row, i]));
    return Array.from(document.querySelectorAll('#maps > tbody > tr'), (row) => index.get(row));
  });
  const inOrder = (indices, sign) => indices.every((i, k) => k === 0 ||
    sign * (maps[i].monsters - maps[indices[k - 1]].monsters) >= 0);
  await page.click('th.c-monsters button');
  const ascending = await order();
  expect(isDeepStrictEqual([...ascending].sort((a, b) => a - b), maps.map((_, i) => i)),
    'sorting lost or repeated rows');
  expect(inOrder(ascending, 1), 'a click on Monsters does not sort by monsters, fewest first');
  await page.click('th.c-monsters button');
  expect(inOrder(await order(), -1), 'a second click on Monsters does not reverse the order');
  return 'a click on Monsters sorts by monsters, a second click reverses';
}

async function runChecks(options, catalog, schema) {
  const results = [];
  const record = async (name, check) => {
    const start = performance.now();
    try {
      results.push({ name, ok: true, detail: await check() });
    } catch (error) {
      if (!(error instanceof CheckFailure) && !(error instanceof TimeoutError)) throw error;
      results.push({ name, ok: false, detail: error.message });
    }
    results.at(-1).seconds = (performance.now() - start) / 1000;
  };
  await record('schema', () => checkSchema(schema, catalog));
  const browser = await launch();
  try {
    const page = await browser.newPage();
    const problems = [];
    page.on('console', (message) => {
      if (message.type() === 'error') problems.push(`console: ${message.text()}`);
    });
    page.on('pageerror', (error) => problems.push(`page error: ${error.message}`));
    page.on('requestfailed', (request) => problems.push(`failed to load ${request.url()}`));
    const url = pathToFileURL(path.resolve(options.folder, 'index.html')).href;
    const loadStart = performance.now();
    await page.goto(url, { waitUntil: 'load', timeout: 180_000 });
    console.log(`loaded ${url} in ${((performance.now() - loadStart) / 1000).toFixed(1)} s`);
    await noteRowsInDataOrder(page);
    await record('first paint', () => checkFirstPaint(page));
    await record('count', () => checkCount(page, catalog.maps));
    await record('embedded data', () => checkEmbeddedData(page, catalog));
    await record('rows', () => checkRows(page, catalog.maps));
    await record('pictures', () => checkPictures(page, options.screenshot));
    await record('filter', () => checkFilter(page, catalog.maps));
    await record('deathmatch', () => checkDeathmatchToggle(page, catalog.maps));
    await record('sorting', () => checkSorting(page, catalog.maps));
    await record('console', () => {
      expect(problems.length === 0, problems.slice(0, 10).join('\n    '));
      return 'no console error, page error or failed load';
    });
  } finally {
    await browser.close();
  }
  return results;
}

async function readJson(file) {
  try {
    return JSON.parse(await readFile(file, 'utf8'));
  } catch (error) {
    throw new CheckFailure(`cannot read ${file}: ${error.message}`);
  }
}

async function main() {
  const options = parseArguments(process.argv.slice(2));
  if (options === null) {
    console.error('usage: node catalog_check.mjs CATALOG_DIR [--screenshot FILE]');
    return 2;
  }
  let results;
  try {
    const catalog = await readJson(path.join(options.folder, 'maps.json'));
    results = await runChecks(options, catalog, await readJson(SCHEMA));
  } catch (error) {
    console.error(`catalog check: ${error instanceof CheckFailure ? error.message : error.stack}`);
    return 1;
  }
  for (const result of results) {
    const seconds = result.seconds.toFixed(1);
    console.log(`${result.ok ? 'ok  ' : 'FAIL'} ${result.name} (${seconds} s): ${result.detail}`);
  }
  const failed = results.filter((result) => !result.ok).length;
  console.log(`checks: ${results.length - failed} passed, ${failed} failed`);
  return failed === 0 ? 0 : 1;
}

process.exitCode = await main();
