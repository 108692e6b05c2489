// Paints a few strokes in `kstroke studio` with pen events in headless Chromium and
// takes the screenshots of docs/: docs/studio.png (presets, pressure and tilt) and
// docs/studio-symmetry.png (strokes painted with mirrored, turned copies).
//
//   node scripts/studio-screenshots.mjs [path/to/kstroke]
import { spawn } from 'node:child_process';
import { mkdtempSync, rmSync } from 'node:fs';
import { createRequire } from 'node:module';
import { tmpdir } from 'node:os';
import { dirname, join } from 'node:path';
import { fileURLToPath } from 'node:url';

const root = join(dirname(fileURLToPath(import.meta.url)), '..');
const require = createRequire(join(root, 'tests', 'studio', 'browser', 'package.json'));
const { chromium } = require('playwright-core');
const kstroke = process.argv[2] || join(root, 'build', 'kstroke');

const folder = mkdtempSync(join(tmpdir(), 'kstroke-studio-shots-'));
const server = spawn(kstroke, ['studio', '--port', '0', '--dir', folder], { stdio: ['ignore', 'pipe', 'inherit'] });
const exited = new Promise((resolve) => server.on('exit', resolve));
const origin = await new Promise((resolve) => {
  let out = '';
  server.stdout.on('data', (c) => {
    out += c;
    const found = /http:\/\/127\.0\.0\.1:\d+/.exec(out);
    if (found) resolve(found[0]);
  });
});
const browser = await chromium.launch({ executablePath: process.env.CHROMIUM || '/usr/bin/chromium',
  args: ['--no-sandbox', '--no-proxy-server'] });

async function studio() {
  const page = await browser.newPage({ viewport: { width: 1360, height: 860 } });
  await page.goto(`${origin}/`);
  await page.waitForFunction(() => window.studio && window.studio.state && window.studio.replies.includes('tool'));
  page.cdp = await page.context().newCDPSession(page);
  return page;
}

async function stroke(page, points) {
  const box = await page.locator('#picture').boundingBox();
  const ended = await page.evaluate(() => window.studio.strokesEnded);
  const send = (type, [x, y, force, tiltX = 0, tiltY = 0]) => page.cdp.send('Input.dispatchMouseEvent', {
    type, x: box.x + x * box.width, y: box.y + y * box.height, button: 'left',
    buttons: type === 'mouseReleased' ? 0 : 1, clickCount: 1, pointerType: 'pen', force, tiltX, tiltY,
  });
  for (let i = 0; i < points.length; i++) await send(i ? 'mouseMoved' : 'mousePressed', points[i]);
  await send('mouseReleased', points.at(-1));
  await page.waitForFunction((n) => window.studio.strokesEnded > n, ended);
}

async function tool(page, preset, colour, set = {}) {
  await page.selectOption('#preset', preset);
  await page.fill('#colour', colour);
  await page.dispatchEvent('#colour', 'change');
  for (const [id, value] of Object.entries(set)) {
    if (typeof value === 'string') await page.selectOption(`#${id}`, value);
    else {
      await page.fill(`#${id}`, String(value));
      await page.dispatchEvent(`#${id}`, 'change');
    }
  }
}

const wave = (y, amp, turns, { x0 = 0.08, x1 = 0.92, n = 60, p = (f) => 0.2 + 0.8 * Math.sin(Math.PI * f), tilt = () => [0, 0] } = {}) =>
  Array.from({ length: n + 1 }, (_, i) => {
    const f = i / n;
    return [x0 + (x1 - x0) * f, y + amp * Math.sin(f * turns * 2 * Math.PI), p(f), ...tilt(f)];
  });

try {
  const page = await studio();
  await tool(page, 'round', '#1d3557', { 'diameter-number': 28 });
  await stroke(page, wave(0.2, 0.06, 1.5));
  await tool(page, 'calligraphy', '#e63946');
  await stroke(page, wave(0.38, 0.08, 1, { n: 50 }));
  await tool(page, 'pastel', '#2a9d8f');
  await stroke(page, wave(0.56, 0.05, 2, { n: 70, tilt: (f) => [30 * Math.sin(f * 6), 60 * f] }));
  await tool(page, 'watercolour', '#f4a261', { 'diameter-number': 60 });
  await stroke(page, wave(0.75, 0.07, 1.2, { n: 50 }));
  await tool(page, 'ink', '#264653');
  await stroke(page, wave(0.88, 0.04, 3, { n: 80, p: (f) => 0.1 + 0.9 * f }));
  await page.mouse.move(900, 420);
  await page.screenshot({ path: join(root, 'docs', 'studio.png') });
  await page.close();

  const sym = await studio();
  await tool(sym, 'watercolour', '#4895ef', { mirror: 'vertical', rotate: 4, 'diameter-number': 34 });
  await stroke(sym, wave(0.3, 0.05, 1, { x0: 0.55, x1: 0.85, n: 40 }));
  await tool(sym, 'brush-pen', '#6a4c93', { mirror: 'vertical', rotate: 4, 'diameter-number': 10 });
  await stroke(sym, wave(0.42, 0.03, 2, { x0: 0.55, x1: 0.9, n: 60 }));
  await tool(sym, 'calligraphy', '#f72585', { mirror: 'vertical', rotate: 4, 'diameter-number': 16 });
  await stroke(sym, wave(0.2, 0.02, 1, { x0: 0.6, x1: 0.7, n: 20 }));
  await sym.evaluate(() => { document.getElementById('panels').scrollTop = 10000; });
  await sym.screenshot({ path: join(root, 'docs', 'studio-symmetry.png') });
  await sym.close();
} finally {
  await browser.close();
  server.kill('SIGINT');
  await exited;
  rmSync(folder, { recursive: true, force: true });
}
