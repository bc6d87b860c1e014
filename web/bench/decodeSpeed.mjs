// Decoding speed of the WebAssembly decoder in Node and in headless Chromium
// against the native decoder, in one run, on the same stream: million
// vertex-frames per second (open + every frame, best of 5 after a warm-up),
// and the time to the first frame (module load, open, first frame).
//   node bench/decodeSpeed.mjs [STREAM CON]   (default: the player's sample)
import { execFileSync } from 'node:child_process';
import { mkdtempSync, readFileSync, rmSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join, relative, resolve } from 'node:path';
import { fileURLToPath } from 'node:url';
import { chromium } from 'playwright-core';

import { serve } from '../tools/serve.mjs';

const web = fileURLToPath(new URL('..', import.meta.url));
const stream = resolve(process.argv[2] ?? join(web, 'player/sample/flag.orv'));
const con = resolve(process.argv[3] ?? join(web, 'player/sample/flag_con.obj'));
const native = process.env.ORV_NATIVE ?? join(web, 'build/native');

// Runs in Node and in the page alike.
async function measure(orvUrl, streamBytes, conText) {
  const t0 = performance.now();
  const { default: createOrv, parseObjFaces } = await import(orvUrl);
  const orv = await createOrv();
  const faces = parseObjFaces(conText);
  let d = orv.openDecoder(streamBytes, faces);
  d.readFrame64();
  const firstFrameMs = performance.now() - t0;
  d.close();
  let best = Infinity, V = 0, F = 0;
  for (let run = 0; run < 6; ++run) {
    const t = performance.now();
    d = orv.openDecoder(streamBytes, faces);
    const out = new Float64Array(3 * d.vertexCount);
    while (d.readFrame64(out));
    if (run > 0) best = Math.min(best, performance.now() - t);
    V = d.vertexCount;
    F = d.frameCount;
    d.close();
  }
  return { firstFrameMs, seconds: best / 1000, V, F };
}

const bytes = new Uint8Array(readFileSync(stream));
const conText = readFileSync(con, 'utf8');
const tmp = mkdtempSync(join(tmpdir(), 'orv-bench-'));
try {
  const nativeSeconds = Number(execFileSync(join(native, 'decodeRaw'), ['--time', stream, con, join(tmp, 'out.f64')]));
  const inNode = await measure(new URL('../dist/orv.js', import.meta.url).href, bytes, conText);

  const server = await serve(0);
  const base = `http://127.0.0.1:${server.address().port}`;
  const browser = await chromium.launchPersistentContext(join(tmp, 'profile'), {
    executablePath: process.env.CHROMIUM ?? '/usr/bin/chromium', headless: true,
    args: ['--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
      '--disable-background-networking', '--disable-component-update', '--disable-sync'],
  });
  let inBrowser;
  try {
    const page = browser.pages()[0] ?? (await browser.newPage());
    await page.goto(`${base}/package.json`);
    const rel = (p) => `${base}/${relative(web, p)}`;
    inBrowser = await page.evaluate(async ([m, s, c]) => {
      const streamBytes = new Uint8Array(await (await fetch(s)).arrayBuffer());
      const conText = await (await fetch(c)).text();
      return (0, eval)(`(${m})`)(new URL('/dist/orv.js', location.href).href, streamBytes, conText);
    }, [measure.toString(), rel(stream), rel(con)]);
  } finally {
    await browser.close();
    server.close();
  }
  const vf = inNode.V * inNode.F;
  const rate = (s) => (vf / s / 1e6).toFixed(2);
  console.log(`${relative(web, stream)}: ${inNode.V} vertices x ${inNode.F} frames`);
  console.log(`native   ${rate(nativeSeconds)} M vertex-frames/s (${(1000 * nativeSeconds).toFixed(1)} ms)`);
  console.log(`node     ${rate(inNode.seconds)} M vertex-frames/s (${(1000 * inNode.seconds).toFixed(1)} ms), first frame after ${inNode.firstFrameMs.toFixed(0)} ms`);
  console.log(`chromium ${rate(inBrowser.seconds)} M vertex-frames/s (${(1000 * inBrowser.seconds).toFixed(1)} ms), first frame after ${inBrowser.firstFrameMs.toFixed(0)} ms`);
} finally {
  rmSync(tmp, { recursive: true, force: true });
}
