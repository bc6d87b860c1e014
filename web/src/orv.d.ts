// Type declarations of orv.js, the WebAssembly orv decoder.

export interface OrvOptions {
  /** Where orv.wasm is (default: beside orv.js). */
  wasmUrl?: string | URL;
  /** The module's bytes, when the caller has them already. */
  wasmBinary?: ArrayBuffer | Uint8Array;
}

export interface LayerChoice {
  /** Spatial layers to decode, 1..255 (default: all the stream holds). */
  spatialLayers?: number;
  /** Temporal layers to decode, 1..255 (default: all). */
  temporalLayers?: number;
}

export interface Frame<T extends Float32Array | Float64Array> {
  /** The frame number, 0..frameCount-1. */
  frame: number;
  /** x, y, z per vertex. */
  positions: T;
}

export interface Decoder {
  readonly vertexCount: number;
  readonly frameCount: number;
  readonly spatialLayers: number;
  readonly temporalLayers: number;
  readonly decodedSpatialLayers: number;
  readonly decodedTemporalLayers: number;
  /** The next frame as Float32 (into target when given), or null after the last. */
  readFrame(target?: Float32Array): Frame<Float32Array> | null;
  /** The next frame with the exact decoded doubles, or null after the last. */
  readFrame64(target?: Float64Array): Frame<Float64Array> | null;
  /** The next read returns this frame. */
  seek(frame: number): void;
  /** Releases the decoder's memory; it may be called more than once. */
  close(): void;
}

export interface Orv {
  readonly version: string;
  /**
   * Opens a decoder on a whole stream file and its connectivity (3 zero-based
   * vertex indices per face). Throws OrvError with the decoder's message.
   */
  openDecoder(stream: Uint8Array | ArrayBuffer, faces: Uint32Array | Int32Array, layers?: LayerChoice): Decoder;
}

export class OrvError extends Error {
  /** The C API's negative status (-1 argument, -2 stream, -3 faces, -4 memory, -6 internal). */
  readonly status: number;
}

/** The faces of an OBJ connectivity file, zero-based. */
export function parseObjFaces(text: string): Uint32Array;

export default function createOrv(options?: OrvOptions): Promise<Orv>;
