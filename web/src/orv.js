// orv for JavaScript: the decoder, compiled to WebAssembly from the library's
// C API (include/orv/orv.h). Works in Node, in the browser and in a Web
// Worker; orv.wasm is found beside this file.
//
//   import createOrv from './orv.js';
//   const orv = await createOrv();
//   const d = orv.openDecoder(streamBytes, faces, { spatialLayers, temporalLayers });
//   for (let f; (f = d.readFrame()); ) draw(f.positions);
//   d.close();
import createOrvModule from './orv-glue.js';

const isNode = typeof process === 'object' && process.versions != null && process.versions.node != null;

// Node's fetch cannot read file: URLs, so there the bytes are read directly;
// a browser or worker streams them from the URL.
async function loadOptions(options) {
  const wasmUrl = options.wasmUrl ?? new URL('./orv.wasm', import.meta.url);
  if (options.wasmBinary) return { wasmBinary: options.wasmBinary };
  if (isNode) {
    const { readFile } = await import('node:fs/promises');
    return { wasmBinary: await readFile(wasmUrl) };
  }
  return { locateFile: () => String(wasmUrl) };
}

const ERROR_SIZE = 512;
const INFO_SIZE = 8 * 4 + 3 * 8;

export class OrvError extends Error {
  constructor(message, status) {
    super(message);
    this.name = 'OrvError';
    this.status = status;
  }
}

function toBytes(value, what) {
  if (value instanceof Uint8Array) return value;
  if (value instanceof ArrayBuffer) return new Uint8Array(value);
  if (ArrayBuffer.isView(value)) return new Uint8Array(value.buffer, value.byteOffset, value.byteLength);
  throw new TypeError(`${what} must be a Uint8Array or an ArrayBuffer`);
}

function toFaces(value) {
  if (value instanceof Uint32Array || value instanceof Int32Array) return value;
  if (Array.isArray(value)) return Uint32Array.from(value.flat());
  throw new TypeError('faces must be a Uint32Array of 3 zero-based vertex indices per face');
}

function layerCount(value, what) {
  if (value === undefined || value === null) return 0;
  if (!Number.isInteger(value) || value < 1 || value > 255) throw new RangeError(`${what} must be a whole number from 1 to 255`);
  return value;
}

class Decoder {
  #m;
  #handle;
  #positions;
  #frameOut;
  #info;

  constructor(m, handle) {
    this.#m = m;
    this.#handle = handle;
    const infoPtr = m._malloc(INFO_SIZE);
    try {
      m._orv_decoder_info(handle, infoPtr);
      const i32 = new Int32Array(m.HEAPU8.buffer, infoPtr, 8);
      this.#info = {
        vertexCount: i32[0],
        frameCount: i32[1],
        spatialLayers: i32[2],
        temporalLayers: i32[3],
        decodedSpatialLayers: i32[4],
        decodedTemporalLayers: i32[5],
      };
    } finally {
      m._free(infoPtr);
    }
    this.#positions = m._malloc(Math.max(8, 24 * this.#info.vertexCount));
    this.#frameOut = m._malloc(4);
    if (!this.#positions || !this.#frameOut) {
      this.close();
      throw new OrvError('out of memory', -4);
    }
  }

  get vertexCount() { return this.#info.vertexCount; }
  get frameCount() { return this.#info.frameCount; }
  get spatialLayers() { return this.#info.spatialLayers; }
  get temporalLayers() { return this.#info.temporalLayers; }
  get decodedSpatialLayers() { return this.#info.decodedSpatialLayers; }
  get decodedTemporalLayers() { return this.#info.decodedTemporalLayers; }

  #live() {
    if (!this.#handle) throw new OrvError('the decoder is closed', -1);
  }

  #fail(status) {
    const message = this.#m.UTF8ToString(this.#m._orv_decoder_error(this.#handle)) || `decoder error ${status}`;
    throw new OrvError(message, status);
  }

  // Decodes the next frame into wasm memory; returns its number or -1 after the last.
  #next() {
    this.#live();
    const status = this.#m._orv_decoder_read_frame(this.#handle, this.#frameOut, this.#positions);
    if (status < 0) this.#fail(status);
    if (status === 0) return -1;
    return new Int32Array(this.#m.HEAPU8.buffer, this.#frameOut, 1)[0];
  }

  #view() {
    return new Float64Array(this.#m.HEAPU8.buffer, this.#positions, 3 * this.#info.vertexCount);
  }

  // The next frame with Float32 positions (into `target` when given, e.g. a
  // BufferGeometry's attribute array), or null after the last.
  readFrame(target) {
    const frame = this.#next();
    if (frame < 0) return null;
    const n = 3 * this.#info.vertexCount;
    const positions = target ?? new Float32Array(n);
    if (!(positions instanceof Float32Array) || positions.length !== n)
      throw new TypeError(`target must be a Float32Array of ${n} values`);
    positions.set(this.#view());
    return { frame, positions };
  }

  // The same with the exact decoded doubles.
  readFrame64(target) {
    const frame = this.#next();
    if (frame < 0) return null;
    const n = 3 * this.#info.vertexCount;
    const positions = target ?? new Float64Array(n);
    if (!(positions instanceof Float64Array) || positions.length !== n)
      throw new TypeError(`target must be a Float64Array of ${n} values`);
    positions.set(this.#view());
    return { frame, positions };
  }

  seek(frame) {
    this.#live();
    if (!Number.isInteger(frame)) throw new TypeError('frame must be a whole number');
    const status = this.#m._orv_decoder_seek(this.#handle, frame);
    if (status < 0) this.#fail(status);
  }

  close() {
    if (this.#handle) this.#m._orv_decoder_destroy(this.#handle);
    if (this.#positions) this.#m._free(this.#positions);
    if (this.#frameOut) this.#m._free(this.#frameOut);
    this.#handle = 0;
    this.#positions = 0;
    this.#frameOut = 0;
  }
}

export default async function createOrv(options = {}) {
  const m = await createOrvModule(await loadOptions(options));
  return {
    version: m.UTF8ToString(m._orv_version()),
    openDecoder(stream, faces, { spatialLayers, temporalLayers } = {}) {
      const bytes = toBytes(stream, 'stream');
      const f = toFaces(faces);
      if (f.length % 3 !== 0) throw new TypeError('faces must hold 3 vertex indices per face');
      const nsl = layerCount(spatialLayers, 'spatialLayers');
      const ntl = layerCount(temporalLayers, 'temporalLayers');
      for (let i = 0; i < f.length; ++i)
        if (f[i] > 0x7fffffff) throw new OrvError(`face ${Math.floor(i / 3)} has the vertex index ${f[i]}, out of range`, -3);
      const streamPtr = m._malloc(Math.max(1, bytes.length));
      const facesPtr = m._malloc(Math.max(4, 4 * f.length));
      const outPtr = m._malloc(4);
      const errPtr = m._malloc(ERROR_SIZE);
      try {
        if (!streamPtr || !facesPtr || !outPtr || !errPtr) throw new OrvError('out of memory', -4);
        m.HEAPU8.set(bytes, streamPtr);
        new Int32Array(m.HEAPU8.buffer, facesPtr, f.length).set(f);
        const status = m._orv_decoder_create(streamPtr, bytes.length, facesPtr, f.length / 3, nsl, ntl, outPtr,
                                             errPtr, ERROR_SIZE);
        if (status < 0) throw new OrvError(m.UTF8ToString(errPtr) || `decoder error ${status}`, status);
        return new Decoder(m, new Uint32Array(m.HEAPU8.buffer, outPtr, 1)[0]);
      } finally {
        m._free(streamPtr);
        m._free(facesPtr);
        m._free(outPtr);
        m._free(errPtr);
      }
    },
  };
}

// Reads the faces of an OBJ connectivity file ("f a b c" lines, 1-based,
// "a/b/c" forms allowed) into the Uint32Array openDecoder takes.
export function parseObjFaces(text) {
  const out = [];
  for (const line of text.split('\n')) {
    if (!line.startsWith('f ') && !line.startsWith('f\t')) continue;
    const parts = line.trim().split(/\s+/).slice(1);
    if (parts.length !== 3) throw new OrvError(`the connectivity has a face of ${parts.length} vertices; only triangles are read`, -3);
    for (const p of parts) {
      const v = parseInt(p, 10);
      if (!(v >= 1)) throw new OrvError(`the connectivity has the face index '${p}'`, -3);
      out.push(v - 1);
    }
  }
  return Uint32Array.from(out);
}
