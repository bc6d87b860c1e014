// The browser test: serves web/ from 127.0.0.1, opens the player in headless
// Chromium (Debian's, driven by playwright-core), plays the bundled sample and
// checks that frames advance and that the canvas shows the mesh; decodes the
// sample in a Web Worker; saves a screenshot (web/test-results/player.png).
//   node test/browser.mjs        (exit status 0 when every check passed)
import { mkdirSync, mkdtempSync, rmSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join } from 'node:path';
import { fileURLToPath } from 'node:url';
import { chromium } from 'playwright-core';

import { serve } from '../tools/serve.mjs';

const web = fileURLToPath(new URL('..', import.meta.url));
const results = join(web, 'test-results');
mkdirSync(results, { recursive: true });

const server = await serve(0);
const base = `http://127.0.0.1:${server.address().port}`;
const profile = mkdtempSync(join(tmpdir(), 'orv-chromium-'));
const browser = await chromium.launchPersistentContext(profile, {
  executablePath: process.env.CHROMIUM ?? '/usr/bin/chromium',
  headless: true,
  viewport: { width: 960, height: 640 },
  args: ['--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
    '--disable-background-networking', '--disable-component-update', '--disable-sync', '--enable-unsafe-swiftshader'],
});

let failures = 0;
const check = (ok, what) => {
  console.log(`${ok ? 'ok' : 'FAILED'} - ${what}`);
  if (!ok) ++failures;
};

try {
  const page = browser.pages()[0] ?? (await browser.newPage());
  const messages = [];
  page.on('console', (m) => messages.push(`${m.type()}: ${m.text()}`));
  page.on('pageerror', (e) => messages.push(`pageerror: ${e.message}`));
  await page.goto(`${base}/player/`);
  await page.waitForFunction(() => window.orvPlayer?.framesShown >= 1 || window.orvPlayer?.error, null, { timeout: 30000 });
  const first = await page.evaluate(() => ({ ...window.orvPlayer }));
  check(!first.error, `the player opened the sample${first.error ? ': ' + first.error : ''}`);
  await page.waitForFunction((n) => window.orvPlayer.framesShown >= n, first.framesShown + 20, { timeout: 30000 });
  const later = await page.evaluate(() => ({ ...window.orvPlayer }));
  check(later.framesShown >= first.framesShown + 20 && later.frame !== first.frame,
    `frames advance (frame ${first.frame} -> ${later.frame}, ${later.framesShown} shown)`);
  check(later.frameCount > 1 && later.vertexCount > 0, `${later.vertexCount} vertices, ${later.frameCount} frames`);

  // Not blank: enough pixels differ from the background colour.
  const lit = await page.evaluate(() => {
    const src = document.querySelector('#view canvas');
    const c = document.createElement('canvas');
    c.width = src.width;
    c.height = src.height;
    const g = c.getContext('2d');
    g.drawImage(src, 0, 0);
    const px = g.getImageData(0, 0, c.width, c.height).data;
    let n = 0;
    for (let i = 0; i < px.length; i += 4)
      if (Math.abs(px[i] - 0x1d) + Math.abs(px[i + 1] - 0x20) + Math.abs(px[i + 2] - 0x26) > 30) ++n;
    return n / (px.length / 4);
  });
  check(lit > 0.02, `the canvas shows the mesh (${(100 * lit).toFixed(1)} % of the pixels)`);

  // Pause stops the frames; scrubbing still shows the chosen frame.
  await page.click('#play');
  const paused = await page.evaluate(() => window.orvPlayer.framesShown);
  await page.waitForTimeout(300);
  check(await page.evaluate((n) => window.orvPlayer.framesShown === n, paused), 'pause stops the frames');
  await page.$eval('#scrub', (s) => { s.value = '5'; s.dispatchEvent(new Event('input')); });
  check(await page.evaluate(() => window.orvPlayer.frame === 5), 'scrubbing shows the chosen frame');
  // A coarser layer choice reopens the decoder and keeps playing.
  await page.selectOption('#sl', '1');
  await page.selectOption('#tl', '1');
  await page.click('#play');
  const before = await page.evaluate(() => window.orvPlayer.framesShown);
  await page.waitForFunction((n) => window.orvPlayer.framesShown >= n + 5, before, { timeout: 30000 });
  check(await page.evaluate(() => !window.orvPlayer.error && document.querySelector('#stats').textContent.includes('layers 1/')),
    'decoding 1 spatial and 1 temporal layer');
  await page.screenshot({ path: join(results, 'player.png') });
  console.log(`screenshot: ${join(results, 'player.png')}; first frame after ${first.timeToFirstFrameMs?.toFixed(0)} ms`);

  // Decoding in a Web Worker gives the main thread's frames.
  const worker = await page.evaluate(() => new Promise((resolve) => {
    const w = new Worker('../test/worker.js', { type: 'module' });
    w.onmessage = (e) => resolve(e.data);
    w.onerror = (e) => resolve({ error: e.message ?? 'worker error' });
  }));
  check(!worker.error && worker.frames === later.frameCount, `a Web Worker decodes the sample (${JSON.stringify(worker)})`);

  const errors = messages.filter((m) => m.startsWith('error') || m.startsWith('pageerror'));
  check(errors.length === 0, `no page errors${errors.length ? ': ' + errors.join('; ') : ''}`);
} finally {
  await browser.close();
  server.close();
  rmSync(profile, { recursive: true, force: true });
}
process.exit(failures ? 1 : 0);
