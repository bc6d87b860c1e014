// The WebAssembly decoder against the native library: every decoded
// coordinate of the shared test vectors and of streams made by OrvEnc must be
// the same double, bit for bit; bad input must end in an OrvError with the
// decoder's message, never a crash or a wrong frame.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { execFileSync } from 'node:child_process';
import { existsSync, readFileSync } from 'node:fs';
import { join } from 'node:path';

import createOrv, { OrvError, parseObjFaces } from '../dist/orv.js';

const fixtures = process.env.ORV_FIXTURES;
const shared = process.env.ORV_SHARED;
const orv = await createOrv();

function bytesOf(file) {
  return new Uint8Array(readFileSync(file));
}

function facesOf(file) {
  return parseObjFaces(readFileSync(file, 'utf8'));
}

// Decodes every frame; checks frame numbers run 0..F-1 and both outputs agree.
function decodeAll(stream, faces, layers) {
  const d = orv.openDecoder(stream, faces, layers);
  try {
    const n = 3 * d.vertexCount;
    const all = new Float64Array(n * d.frameCount);
    for (let f = 0; f < d.frameCount; ++f) {
      const r = d.readFrame64();
      assert.ok(r, `frame ${f} missing`);
      assert.equal(r.frame, f);
      all.set(r.positions, f * n);
    }
    assert.equal(d.readFrame64(), null);
    assert.equal(d.readFrame(), null);
    return { d, all };
  } finally {
    d.close();
  }
}

function assertSameBits(actual, expectedBytes, what) {
  const got = new Uint8Array(actual.buffer, actual.byteOffset, actual.byteLength);
  assert.equal(got.length, expectedBytes.length, `${what}: ${got.length / 8} values instead of ${expectedBytes.length / 8}`);
  if (Buffer.compare(Buffer.from(got), Buffer.from(expectedBytes)) === 0) return;
  const want = new Float64Array(expectedBytes.buffer, expectedBytes.byteOffset, expectedBytes.length / 8);
  const i = want.findIndex((w, k) => !Object.is(w, actual[k]));
  assert.fail(`${what}: value ${i} (vertex ${Math.floor(i / 3) % 1e9}) is ${actual[i]}, the native decoder gives ${want[i]}`);
}

const vectors = [
  ['horse10', 'horse-gallop/0001.obj', {}, 'horse10.f64.xz'],
  ['horse10', 'horse-gallop/0001.obj', { spatialLayers: 2, temporalLayers: 2 }, 'horse10_s2t2.f64.xz'],
  ['cow17', 'pcow/1.obj', {}, 'cow17.f64.xz'],
  ['cow17', 'pcow/1.obj', { spatialLayers: 1, temporalLayers: 2 }, 'cow17_s1t2.f64.xz'],
  ['chicken9', 'chickenCrossing/1.obj', {}, 'chicken9.f64.xz'],
  ['chicken9', 'chickenCrossing/1.obj', { spatialLayers: 1, temporalLayers: 1 }, 'chicken9_s1t1.f64.xz'],
];

test('the shared test vectors decode bit for bit', async (t) => {
  const data = fixtures && join(fixtures, 'data');
  if (!shared || !existsSync(join(shared, 'vectors')) || !data || !existsSync(data)) {
    t.skip('no ../shared/vectors and unpacked ../shared/data (web/test.sh unpacks them when present)');
    return;
  }
  for (const [name, con, layers, positions] of vectors) {
    await t.test(`${name} ${JSON.stringify(layers)}`, () => {
      const expected = execFileSync('xz', ['-dc', join(shared, 'vectors', positions)], { maxBuffer: 1 << 30 });
      const { all } = decodeAll(bytesOf(join(shared, 'vectors', `${name}.orv`)), facesOf(join(data, con)), layers);
      assertSameBits(all, expected, positions);
    });
  }
});

const manifest = fixtures && existsSync(join(fixtures, 'manifest.json'))
  ? JSON.parse(readFileSync(join(fixtures, 'manifest.json'), 'utf8'))
  : null;

test('streams made by OrvEnc decode as the native decoder decodes them', async (t) => {
  if (!manifest) {
    t.skip('no fixtures: run web/test.sh (ORV_FIXTURES names the folder)');
    return;
  }
  for (const e of manifest) {
    await t.test(`${e.stream} nSL ${e.nsl || 'all'} nTL ${e.ntl || 'all'}`, () => {
      const layers = e.nsl ? { spatialLayers: e.nsl, temporalLayers: e.ntl } : {};
      const { all } = decodeAll(bytesOf(join(fixtures, e.stream)), facesOf(join(fixtures, e.con)), layers);
      assertSameBits(all, readFileSync(join(fixtures, e.positions)), e.positions);
    });
  }
});

test('Float32 frames, seeking, the stream figures and closing', (t) => {
  if (!manifest) {
    t.skip('no fixtures: run web/test.sh');
    return;
  }
  const stream = bytesOf(join(fixtures, 'flag.orv'));
  const faces = facesOf(join(fixtures, 'flag_con.obj'));
  const { all } = decodeAll(stream, faces, {});
  const d = orv.openDecoder(stream, faces);
  const n = 3 * d.vertexCount;
  assert.equal(d.frameCount, all.length / n);
  assert.ok(d.spatialLayers >= 1 && d.temporalLayers >= 1);
  const first = d.readFrame();
  assert.equal(first.frame, 0);
  assert.ok(first.positions instanceof Float32Array);
  assert.deepEqual(first.positions, Float32Array.from(all.subarray(0, n)));
  // Seeking back and forth gives the frames of the straight run.
  const target = new Float64Array(n);
  for (const f of [7, 2, d.frameCount - 1, 0, 5]) {
    d.seek(f);
    const r = d.readFrame64(target);
    assert.equal(r.frame, f);
    assert.equal(r.positions, target);
    assert.deepEqual(target, all.subarray(f * n, (f + 1) * n));
  }
  assert.throws(() => d.seek(d.frameCount), OrvError);
  assert.throws(() => d.seek(-1), OrvError);
  assert.throws(() => d.readFrame(new Float32Array(3)), TypeError);
  d.close();
  d.close();
  assert.throws(() => d.readFrame(), /closed/);
});

test('bad input ends in an OrvError with the decoder\'s message', (t) => {
  if (!manifest) {
    t.skip('no fixtures: run web/test.sh');
    return;
  }
  const stream = bytesOf(join(fixtures, 'flag.orv'));
  const faces = facesOf(join(fixtures, 'flag_con.obj'));
  const rejects = (s, f, pattern, layers) => {
    // A streaming decoder may find the fault when opening or at a later frame.
    assert.throws(() => decodeAll(s, f, layers), (e) => {
      assert.ok(e instanceof OrvError, `not an OrvError: ${e}`);
      assert.match(e.message, pattern);
      assert.ok(!e.message.includes('\n'), 'the message is one line');
      return true;
    });
  };
  // Truncated: inside the length field, inside the header, inside the frames.
  rejects(stream.subarray(0, 3), faces, /shorter|length/);
  rejects(stream.subarray(0, 40), faces, /./);
  rejects(stream.subarray(0, stream.length >> 1), faces, /./);
  // A length field that lies: the bytes end early even though the field says otherwise.
  const cut = stream.slice(0, stream.length - 100);
  rejects(cut, faces, /shorter/);
  // Connectivity that does not fit: an index past the last vertex, too few faces.
  const tooFar = faces.slice();
  tooFar[4] = 1e6;
  rejects(stream, tooFar, /./);
  rejects(stream, faces.subarray(0, 3 * 10), /./);
  rejects(stream, new Uint32Array(0), /./);
  // Another mesh's connectivity (the vectors' horse) if the shared data is there.
  const horse = join(fixtures, 'data', 'horse-gallop', '0001.obj');
  if (existsSync(horse)) rejects(stream, facesOf(horse), /./);
  assert.throws(() => orv.openDecoder(stream, faces, { spatialLayers: 0 }), RangeError);
  assert.throws(() => orv.openDecoder('not bytes', faces), TypeError);
  assert.throws(() => orv.openDecoder(stream, new Uint32Array(4)), TypeError);
  // Flipped bytes inside the coded frames must not crash the module: either
  // an OrvError or frames come out, and the decoder stays usable afterwards.
  for (const at of [200, 1000, stream.length >> 1, stream.length - 10]) {
    const bad = stream.slice();
    bad[at] ^= 0x5a;
    try {
      decodeAll(bad, faces, {});
    } catch (e) {
      assert.ok(e instanceof OrvError, `flipping byte ${at}: ${e}`);
    }
  }
  decodeAll(stream, faces, {});
});
