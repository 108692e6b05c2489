// Latency of `kstroke studio` while a pen paints, in headless Chromium (the browser
// tests' playwright-core, tests/studio/browser): a d=64 brush on a 2048 × 2048 canvas at
// 8 and 16 bits. Prints p50, p95 and p99 of
//   server:     a batch's arrival at the server until its pixels left it (written to the
//               socket), as the server times it;
//   end to end: a pointer event's time stamp in the page until its pixels were drawn
//               (putImageData done), which includes waiting for the animation frame that
//               sends the batch.
//
//   node bench/studio_latency.mjs [path/to/kstroke] [--strokes N] [--events N]
import { spawn } from 'node:child_process';
import { mkdtempSync, rmSync } from 'node:fs';
import { createRequire } from 'node:module';
import { tmpdir } from 'node:os';
import { dirname, join } from 'node:path';
import { fileURLToPath } from 'node:url';

const root = join(dirname(fileURLToPath(import.meta.url)), '..');
const require = createRequire(join(root, 'tests', 'studio', 'browser', 'package.json'));
const { chromium } = require('playwright-core');

const args = process.argv.slice(2);
const option = (name, fallback) => {
  const at = args.indexOf(name);
  return at >= 0 ? Number(args.splice(at, 2)[1]) : fallback;
};
const strokes = option('--strokes', 6);
const events = option('--events', 150);
const kstroke = args[0] || join(root, 'build', 'kstroke');
const targets = { 8: { server: 8, endToEnd: 16 }, 16: { server: 16, endToEnd: 33 } };

function percentile(values, fraction) {
  const sorted = [...values].sort((a, b) => a - b);
  return sorted[Math.min(sorted.length - 1, Math.max(0, Math.ceil(fraction * sorted.length) - 1))];
}

const folder = mkdtempSync(join(tmpdir(), 'kstroke-studio-bench-'));
const server = spawn(kstroke, ['studio', '--port', '0', '--dir', folder], { stdio: ['ignore', 'pipe', 'inherit'] });
const exited = new Promise((resolve) => server.on('exit', resolve));
const origin = await new Promise((resolve, reject) => {
  let out = '';
  const timer = setTimeout(() => reject(new Error(`no address from the studio: ${out}`)), 10000);
  server.stdout.on('data', (chunk) => {
    out += chunk;
    const found = /http:\/\/127\.0\.0\.1:\d+/.exec(out);
    if (found) {
      clearTimeout(timer);
      resolve(found[0]);
    }
  });
});
const browser = await chromium.launch({ executablePath: process.env.CHROMIUM || '/usr/bin/chromium',
  args: ['--no-sandbox', '--no-proxy-server'] });

console.log(`kstroke studio latency: d=64 on 2048 x 2048, ${strokes} strokes of ${events} pen events per depth`);
let missed = false;
try {
  for (const depth of [8, 16]) {
    const page = await browser.newPage({ viewport: { width: 1400, height: 1000 } });
    await page.goto(`${origin}/`);
    await page.waitForFunction(() => window.studio && window.studio.state && window.studio.replies.includes('tool'));
    await page.evaluate((d) => window.studio.send({ type: 'new', width: 2048, height: 2048, depth: d }), depth);
    await page.waitForFunction(() => window.studio.state.width === 2048);
    await page.evaluate(() => window.studio.send({ type: 'tool', brush: { preset: 'round', diameter: 64 } }));
    const cdp = await page.context().newCDPSession(page);
    const box = await page.locator('#picture').boundingBox();
    const pen = (type, x, y, force) => cdp.send('Input.dispatchMouseEvent', {
      type, x: box.x + x * box.width, y: box.y + y * box.height, button: 'left',
      buttons: type === 'mouseReleased' ? 0 : 1, clickCount: 1, pointerType: 'pen', force,
    });
    for (let s = 0; s < strokes; s++) {
      const ended = await page.evaluate(() => window.studio.strokesEnded);
      const y = 0.15 + 0.7 * s / Math.max(1, strokes - 1);
      for (let i = 0; i <= events; i++) {
        const f = i / events;
        await pen(i ? 'mouseMoved' : 'mousePressed', 0.05 + 0.9 * f, y + 0.06 * Math.sin(f * 12), 0.3 + 0.7 * f);
      }
      await pen('mouseReleased', 0.95, y, 0);
      await page.waitForFunction((n) => window.studio.strokesEnded > n, ended).catch(async (e) => {
        console.log(await page.evaluate(() => JSON.stringify([window.studio.errors, window.studio.replies.slice(-5),
          window.studio.painter.stroke && { id: window.studio.painter.stroke.id, inFlight: [...window.studio.painter.stroke.inFlight.keys()], ended: window.studio.painter.stroke.ended }])));
        throw e;
      });
    }
    const seen = await page.evaluate(() => window.studio.replies.length);
    await page.evaluate(() => window.studio.send({ type: 'stats' }));
    await page.waitForFunction((n) => window.studio.replies.slice(n).includes('stats'), seen, { timeout: 120000 });
    const { endToEnd, server: stats } = await page.evaluate(() => ({
      endToEnd: window.studio.painter.latencies,
      server: window.studio.lastStats,
    }));
    const target = targets[depth];
    const e2e = [0.5, 0.95, 0.99].map((p) => percentile(endToEnd, p));
    const srv = [stats.server.p50, stats.server.p95, stats.server.p99];
    const verdict = (p95, limit) => (p95 < limit ? 'meets' : `MISSES by ${(p95 - limit).toFixed(2)} ms`);
    const row = (name, v, n, limit) =>
      console.log(`  ${depth} bits  ${name.padEnd(10)} p50 ${v[0].toFixed(2).padStart(6)} ms  p95 ${v[1].toFixed(2).padStart(6)} ms  ` +
        `p99 ${v[2].toFixed(2).padStart(6)} ms  (${n} samples; p95 target < ${limit} ms: ${verdict(v[1], limit)})`);
    row('server', srv, stats.server.count, target.server);
    row('end to end', e2e, endToEnd.length, target.endToEnd);
    console.log(`  ${depth} bits  render     p50 ${stats.render.p50.toFixed(2).padStart(6)} ms  p95 ${stats.render.p95.toFixed(2).padStart(6)} ms  ` +
      `p99 ${stats.render.p99.toFixed(2).padStart(6)} ms  (the engine's share of the server's time)`);
    missed ||= srv[1] >= target.server || e2e[1] >= target.endToEnd;
    await page.close();
  }
} finally {
  await browser.close();
  server.kill('SIGINT');
  await exited;
  rmSync(folder, { recursive: true, force: true });
}
process.exitCode = missed ? 1 : 0;
