// The studio in a real browser: Debian's Chromium, headless, driven by playwright-core,
// against `kstroke studio` on a free port. Pen events go in through the DevTools
// protocol, with pressure and tilt, as a tablet's would.
//
//   KSTROKE=build/kstroke node --test tests/studio/browser/studio.test.mjs
import { after, before, test } from 'node:test';
import assert from 'node:assert/strict';
import { execFileSync, spawn } from 'node:child_process';
import { existsSync, mkdtempSync, readFileSync, rmSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { dirname, join } from 'node:path';
import { fileURLToPath } from 'node:url';
import { chromium } from 'playwright-core';

const here = dirname(fileURLToPath(import.meta.url));
const source = join(here, '..', '..', '..');
const kstroke = process.env.KSTROKE || join(source, 'build', 'kstroke');
const chromiumPath = process.env.CHROMIUM || '/usr/bin/chromium';

let server, serverExit, origin, folder, browser;
let serverOut = '';

before(async () => {
  folder = mkdtempSync(join(tmpdir(), 'kstroke-studio-test-'));
  server = spawn(kstroke, ['studio', '--port', '0', '--dir', folder, '--max-tabs', '5'],
    { stdio: ['ignore', 'pipe', 'inherit'] });
  serverExit = new Promise((resolve) => server.on('exit', (code, signal) => resolve({ code, signal })));
  origin = await new Promise((resolve, reject) => {
    const timer = setTimeout(() => reject(new Error(`no address from the studio: ${serverOut}`)), 10000);
    server.stdout.on('data', (chunk) => {
      serverOut += chunk;
      const found = /http:\/\/127\.0\.0\.1:(\d+)\//.exec(serverOut);
      if (found) {
        clearTimeout(timer);
        resolve(found[0].slice(0, -1));
      }
    });
  });
  browser = await chromium.launch({ executablePath: chromiumPath, args: ['--no-sandbox', '--no-proxy-server'] });
});

after(async () => {
  if (browser) await browser.close();
  // Ctrl-C stops the studio cleanly, and it saves nothing on the way out.
  server.kill('SIGINT');
  const exit = await serverExit;
  assert.deepEqual(exit, { code: 0, signal: null });
  assert.match(serverOut, /kstroke studio: stopped\n$/);
  rmSync(folder, { recursive: true, force: true });
});

// A page of the studio with its document and presets in.
async function openStudio() {
  const page = await browser.newPage({ viewport: { width: 1280, height: 860 } });
  page.on('pageerror', (e) => { throw e; });
  await page.goto(`${origin}/`);
  await page.waitForFunction(() => window.studio && window.studio.state && window.studio.replies.includes('tool'));
  page.cdp = await page.context().newCDPSession(page);
  return page;
}

// Pen events at fractions of the canvas; each point is [x, y, pressure, tiltX, tiltY].
async function penStroke(page, points, { modifiers = 0, pointerType = 'pen' } = {}) {
  const box = await page.locator('#picture').boundingBox();
  const ended = await page.evaluate(() => window.studio.strokesEnded);
  const send = (type, [x, y, force, tiltX = 0, tiltY = 0]) => page.cdp.send('Input.dispatchMouseEvent', {
    type, x: box.x + x * box.width, y: box.y + y * box.height, button: 'left',
    buttons: type === 'mouseReleased' ? 0 : 1, clickCount: 1, pointerType, force, tiltX, tiltY, modifiers,
  });
  await send('mousePressed', points[0]);
  for (const p of points.slice(1)) await send('mouseMoved', p);
  await send('mouseReleased', points[points.length - 1]);
  return ended;
}

// A wave across the canvas with the pen's pressure and tilt changing along it.
function wave(y0, { n = 40, x0 = 0.1, x1 = 0.8, tilt = 0 } = {}) {
  return Array.from({ length: n + 1 }, (_, i) => i / n).map((f) =>
    [x0 + (x1 - x0) * f, y0 + 0.12 * Math.sin(f * 7), 0.15 + 0.8 * f, tilt * Math.cos(f * 3), tilt * f]);
}

async function paint(page, points, options) {
  const before = await penStroke(page, points, options);
  await page.waitForFunction((n) => window.studio.strokesEnded > n, before);
}

const replyCount = (page, type) => page.evaluate((t) => window.studio.replies.filter((r) => r === t).length, type);

// Waits for the next text reply of `type` after the ones seen so far.
async function request(page, message, type) {
  const seen = await replyCount(page, type);
  const errors = await page.evaluate(() => window.studio.errors.length);
  if (message) await page.evaluate((m) => window.studio.send(m), message);
  await page.waitForFunction(([t, n, e]) =>
    window.studio.replies.filter((r) => r === t).length > n || window.studio.errors.length > e, [type, seen, errors]);
  const error = await page.evaluate((e) => window.studio.errors[e], errors);
  assert.equal(error, undefined, `${type}: ${JSON.stringify(error)}`);
}

// Saves (or, with `button` '#export', exports) through the page's dialog.
async function save(page, name, button = '#save', reply = 'saved') {
  await page.click(button);
  await page.waitForSelector('#files-dialog[open]');
  await page.fill('#files-name', name);
  const seen = await replyCount(page, reply);
  await page.click('#files-ok');
  await page.waitForFunction(([t, n]) => window.studio.replies.filter((r) => r === t).length > n, [reply, seen]);
  return name.endsWith('.json') ? JSON.parse(readFileSync(join(folder, name), 'utf8')) : null;
}

// How the page's canvas compares with what `kstroke render` draws of a saved document.
async function compareWithRender(page, document) {
  const png = document.replace(/\.json$/, '.png');
  execFileSync(kstroke, ['render', join(folder, document), '-q', '-o', join(folder, png)]);
  return compare(page, png);
}

// How the page's canvas compares with a picture in the studio's folder, pixel by pixel.
async function compare(page, png) {
  return page.evaluate(async (url) => {
    const blob = await (await fetch(url)).blob();
    const bitmap = await createImageBitmap(blob, { colorSpaceConversion: 'none', premultiplyAlpha: 'none' });
    const picture = document.getElementById('picture');
    const other = new OffscreenCanvas(bitmap.width, bitmap.height).getContext('2d');
    other.drawImage(bitmap, 0, 0);
    const a = picture.getContext('2d').getImageData(0, 0, picture.width, picture.height).data;
    const b = other.getImageData(0, 0, bitmap.width, bitmap.height).data;
    let differing = 0, maxDifference = 0, inked = 0;
    for (let i = 0; i < a.length; i += 4) {
      let d = 0;
      for (let c = 0; c < 4; c++) d = Math.max(d, Math.abs(a[i + c] - b[i + c]));
      if (d) differing++;
      maxDifference = Math.max(maxDifference, d);
      if (a[i] !== 255 || a[i + 1] !== 255 || a[i + 2] !== 255) inked++;
    }
    return { sameSize: picture.width === bitmap.width && picture.height === bitmap.height, differing, maxDifference, inked };
  }, `${origin}/files/${png}`);
}

// A checksum of the page's canvas.
function checksum(page) {
  return page.evaluate(() => {
    const c = document.getElementById('picture');
    const data = c.getContext('2d').getImageData(0, 0, c.width, c.height).data;
    let h = 2166136261;
    for (let i = 0; i < data.length; i++) h = Math.imul(h ^ data[i], 16777619);
    return h >>> 0;
  });
}

test('pen strokes with pressure and tilt, and presets switched, show the very pixels kstroke render draws', async () => {
  const page = await openStudio();
  const ink = JSON.parse(readFileSync(join(source, 'brushes', 'ink.json'), 'utf8')).brush;
  await page.selectOption('#preset', 'pastel');
  await paint(page, wave(0.4, { tilt: 50 }));
  // A preset switched to shows its fields in the panel and paints with them.
  await page.selectOption('#preset', 'ink');
  assert.equal(Number(await page.inputValue('#diameter-number')), ink.diameter);
  assert.equal(await page.inputValue('#smoothing'), 'curve');
  await paint(page, wave(0.6));
  await page.selectOption('#preset', 'soft-eraser');
  await paint(page, wave(0.45, { x0: 0.3, x1: 0.5, n: 10 }));
  const doc = await save(page, 'pen.json');
  const events = doc.strokes[0].events;
  assert.equal(doc.strokes.length, 3);
  assert.ok(events.length >= 40, `${events.length} events`);
  assert.ok(Math.abs(events[0].pressure - 0.15) < 1e-6, `pressure ${events[0].pressure}`);
  assert.ok(Math.abs(events.at(-1).tiltY - 50) < 1e-6, `tiltY ${events.at(-1).tiltY}`);
  assert.deepEqual([doc.strokes[1].brush.diameter, doc.strokes[1].brush.stabiliser], [ink.diameter, ink.stabiliser]);
  assert.deepEqual(doc.strokes.map((s) => s.transfer), ['normal', 'normal', 'erase']);
  const same = await compareWithRender(page, 'pen.json');
  assert.ok(same.sameSize);
  assert.ok(same.inked > 2000, `only ${same.inked} pixels painted`);
  assert.equal(same.differing, 0, `max difference ${same.maxDifference}`);
  // The replay writes the strokes on and ends on the picture as painted.
  const before = await checksum(page);
  await request(page, { type: 'replay', frames: 6 }, 'replayed');
  await page.waitForFunction(() => !window.studio.replaying);
  assert.equal(await checksum(page), before);
  await page.close();
});

test('undo and redo take and give back whole strokes; a new stroke drops the redo', async () => {
  const page = await openStudio();
  const blank = await checksum(page);
  await paint(page, wave(0.3));
  const one = await checksum(page);
  await paint(page, wave(0.6));
  const two = await checksum(page);
  assert.notEqual(one, two);
  const steps = [  // a button or key, the strokes and the picture after it
    [() => page.click('#undo'), 1, one], [() => page.keyboard.press('Control+z'), 0, blank],
    [() => page.click('#redo'), 1, one], [() => page.keyboard.press('Control+Shift+Z'), 2, two],
  ];
  for (const [act, strokes, picture] of steps) {
    await act();
    await page.waitForFunction((n) => window.studio.state.strokes === n, strokes);
    assert.equal(await checksum(page), picture);
  }
  await page.click('#clear');
  await page.waitForFunction(() => window.studio.state.strokes === 0 && window.studio.state.redo === 2);
  assert.equal(await checksum(page), blank);
  await paint(page, wave(0.5));
  assert.deepEqual(await page.evaluate(() => [window.studio.state.strokes, window.studio.state.redo]), [1, 0]);
  assert.equal(await page.isDisabled('#redo'), true);
  await page.close();
});

test('clone: Alt-click picks the image point the next stroke starts from', async () => {
  const page = await openStudio();
  await page.setInputFiles('#clone-file', join(source, 'examples', 'clone_source.png'));
  await page.waitForFunction(() => window.studio.state.image);
  const image = await page.evaluate(() => window.studio.state.image);
  assert.equal(await page.inputValue('#source'), 'clone');
  await page.selectOption('#preset', 'clone');
  await page.fill('#hardness-number', '1');
  await page.dispatchEvent('#hardness-number', 'change');
  const { width, height } = await page.evaluate(() => window.studio.state);
  const alt = [0.6 * image.width / width, 0.4 * image.height / height];
  await penStroke(page, [[...alt, 0.5]], { modifiers: 1 });  // Alt
  await page.waitForFunction(() => window.studio.replies.includes('clonePoint'));
  await paint(page, wave(0.5, { x0: 0.45, x1: 0.6, n: 12 }));
  const doc = await save(page, 'clone.json');
  const stroke = doc.strokes[0];
  assert.equal(stroke.source.type, 'clone');
  assert.equal(stroke.source.image, image.name, 'the image is saved beside the document');
  assert.ok(existsSync(join(folder, image.name)));
  // The Alt-clicked image point lands where the stroke starts.
  const start = stroke.events[0];
  const landed = [(start.x * width + stroke.source.sourcePoint[0] * image.width) / width,
    (start.y * height + stroke.source.sourcePoint[1] * image.height) / height];
  assert.ok(Math.abs(landed[0] - alt[0]) < 0.002 && Math.abs(landed[1] - alt[1]) < 0.002, `${landed} ${alt}`);
  const same = await compareWithRender(page, 'clone.json');
  assert.ok(same.inked > 1000);
  assert.equal(same.differing, 0);
  await page.close();
});

test('export writes PNG and OpenEXR; a saved document opens again as it was', async () => {
  const page = await openStudio();
  await paint(page, wave(0.5, { tilt: 30 }));
  await save(page, 'reopen.kst');
  for (const name of ['picture.png', 'picture.exr']) await save(page, name, '#export', 'exported');
  assert.equal((await compare(page, 'picture.png')).differing, 0);
  assert.equal(readFileSync(join(folder, 'picture.exr')).readUInt32LE(0), 20000630, 'OpenEXR magic');
  const painted = await checksum(page);
  await page.close();

  const again = await openStudio();
  assert.notEqual(await checksum(again), painted);
  await again.click('#open');
  await again.waitForSelector('#files-dialog[open]');
  await again.selectOption('#files-list', 'reopen.kst');
  await again.click('#files-ok');
  await again.waitForFunction(() => window.studio.state.name === 'reopen.kst' && window.studio.state.strokes === 1);
  assert.equal(await checksum(again), painted);
  await again.close();
});

test('two tabs paint at once, each in a document of its own', async () => {
  const [a, b] = [await openStudio(), await openStudio()];
  await b.fill('#colour', '#c01010');
  await b.dispatchEvent('#colour', 'change');
  const strokeA = wave(0.3, { n: 30 });
  const strokeB = wave(0.7, { n: 30, x0: 0.2, x1: 0.9 });
  // The two strokes' events interleaved, each tab's in its own order.
  await Promise.all([paint(a, strokeA), paint(b, strokeB)]);
  const docs = [await save(a, 'tab-a.json'), await save(b, 'tab-b.json')];
  assert.deepEqual(docs.map((d) => d.strokes.length), [1, 1]);
  assert.notDeepEqual(docs[0].strokes[0].source.colour, docs[1].strokes[0].source.colour);
  assert.equal((await compareWithRender(a, 'tab-a.json')).differing, 0);
  assert.equal((await compareWithRender(b, 'tab-b.json')).differing, 0);
  assert.ok((await compare(a, 'tab-b.png')).differing > 1000, 'the tabs differ');
  await Promise.all([a.close(), b.close()]);
});

test('malformed, out-of-order and oversized messages get errors and leave the server up', async () => {
  const page = await openStudio();
  const replies = await page.evaluate(async (url) => {
    const socket = new WebSocket(url);
    socket.binaryType = 'arraybuffer';
    const texts = [];
    socket.onmessage = (e) => { if (typeof e.data === 'string') texts.push(JSON.parse(e.data)); };
    await new Promise((resolve) => { socket.onopen = resolve; });
    const closed = new Promise((resolve) => { socket.onclose = (e) => resolve(e.code); });
    const until = async (n) => { while (texts.filter((t) => t.type === 'error').length < n) await new Promise((r) => setTimeout(r, 10)); };
    socket.send('{"type": "samples", "stroke": 1, ');
    socket.send('{"type": "samples", "stroke": 1, "seq": 0, "events": []}');
    socket.send('{"type": "paint"}');
    socket.send(new Uint8Array([1, 2, 3, 4, 5, 6]));
    socket.send('x'.repeat(1100000));
    await until(5);
    socket.send(new Uint8Array(33 * 1024 * 1024 + 1024));
    const code = await closed;
    return { errors: texts.filter((t) => t.type === 'error').map((t) => `${t.request}: ${t.message}`), code };
  }, origin.replace('http', 'ws') + '/ws');
  assert.deepEqual(replies.errors, [
    'message: message: stroke: not valid JSON: parse error at line 1, column 34: syntax error while parsing object key - unexpected end of input; expected string literal',
    'samples: samples: stroke 1 is not being painted (no stroke is)',
    'message: message.type: unknown message type "paint"',
    'image: image: a binary message must start with "KSIM"',
    'message: message: of 1100000 bytes, over the limit of 1048576',
  ]);
  // The WebSocket refuses it (1009); the page may see the connection cut instead (1006)
  // when the close frame is lost to the unread rest of the message.
  assert.ok([1006, 1009].includes(replies.code), `close code ${replies.code}`);
  // The page beside it paints on.
  await paint(page, wave(0.5, { n: 10 }));
  assert.equal(await page.evaluate(() => window.studio.state.strokes), 1);
  await page.close();
});
