// The orv player: decodes a stream with the WebAssembly decoder and shows it
// with three.js. One BufferGeometry is kept for the whole sequence; each frame
// is decoded straight into its position array (never a new attribute), the
// normals are recomputed, and the bounding sphere covers every frame.
import * as THREE from 'three';
import { OrbitControls } from 'three/addons/controls/OrbitControls.js';
import createOrv, { parseObjFaces } from '../dist/orv.js';

const $ = (id) => document.getElementById(id);
const params = new URLSearchParams(location.search);
const FRAME_RATE = 25;

const state = {
  framesShown: 0, frame: 0, playing: params.get('autoplay') !== '0', timeToFirstFrameMs: null,
  decodeMs: 0, fps: 0, error: null, frameCount: 0, vertexCount: 0, streamBytes: 0,
};
window.orvPlayer = state;

const renderer = new THREE.WebGLRenderer({ antialias: true, preserveDrawingBuffer: true });
renderer.setPixelRatio(window.devicePixelRatio);
$('view').appendChild(renderer.domElement);
const scene = new THREE.Scene();
scene.background = new THREE.Color(0x1d2026);
const camera = new THREE.PerspectiveCamera(40, 1, 0.001, 1000);
const controls = new OrbitControls(camera, renderer.domElement);
scene.add(new THREE.HemisphereLight(0xffffff, 0x404050, 1.2));
const sun = new THREE.DirectionalLight(0xffffff, 1.5);
sun.position.set(1, 2, 3);
scene.add(sun);
const material = new THREE.MeshStandardMaterial({ color: 0x7fb0e0, roughness: 0.6, side: THREE.DoubleSide });
let mesh = null;

function resize() {
  const w = window.innerWidth, h = window.innerHeight;
  renderer.setSize(w, h);
  camera.aspect = w / h;
  camera.updateProjectionMatrix();
}
window.addEventListener('resize', resize);
resize();

const orvReady = createOrv();
let decoder = null;
let source = null;  // { stream: Uint8Array, faces: Uint32Array }

function showError(e) {
  state.error = String(e.message ?? e);
  $('error').textContent = state.error;
}

async function fetchBytes(url) {
  const r = await fetch(url);
  if (!r.ok) throw new Error(`${url}: ${r.status} ${r.statusText}`);
  return new Uint8Array(await r.arrayBuffer());
}

function fillSelect(select, count, chosen) {
  select.replaceChildren();
  for (let i = 1; i <= count; ++i) select.add(new Option(String(i), String(i), false, i === chosen));
}

// Decodes the next frame into the geometry; wraps around after the last.
function showNextFrame() {
  const geometry = mesh.geometry;
  const position = geometry.getAttribute('position');
  const t = performance.now();
  let r = decoder.readFrame(position.array);
  if (!r) {
    decoder.seek(0);
    r = decoder.readFrame(position.array);
  }
  state.decodeMs = performance.now() - t;
  position.needsUpdate = true;
  geometry.computeVertexNormals();
  state.frame = r.frame;
  ++state.framesShown;
  $('scrub').value = String(r.frame);
  $('frameLabel').textContent = `${r.frame + 1} / ${decoder.frameCount}`;
}

// The sequence-wide bounding sphere, from one pass over every frame.
function sequenceSphere() {
  const box = new THREE.Box3();
  const scratch = new Float32Array(3 * decoder.vertexCount);
  const v = new THREE.Vector3();
  decoder.seek(0);
  for (let r; (r = decoder.readFrame(scratch)); )
    for (let i = 0; i < scratch.length; i += 3) box.expandByPoint(v.set(scratch[i], scratch[i + 1], scratch[i + 2]));
  const sphere = new THREE.Sphere();
  box.getBoundingSphere(sphere);
  return sphere;
}

function frameCamera(sphere) {
  controls.target.copy(sphere.center);
  camera.position.copy(sphere.center).add(new THREE.Vector3(0.4, 0.5, 1).normalize().multiplyScalar(sphere.radius * 3));
  camera.near = sphere.radius / 100;
  camera.far = sphere.radius * 100;
  camera.updateProjectionMatrix();
  controls.update();
}

async function open(layers, startFrame = 0) {
  const t0 = performance.now();
  const orv = await orvReady;
  decoder?.close();
  decoder = null;
  decoder = orv.openDecoder(source.stream, source.faces, layers);
  state.frameCount = decoder.frameCount;
  state.vertexCount = decoder.vertexCount;
  state.streamBytes = source.stream.length;
  fillSelect($('sl'), decoder.spatialLayers, decoder.decodedSpatialLayers);
  fillSelect($('tl'), decoder.temporalLayers, decoder.decodedTemporalLayers);
  $('scrub').max = String(decoder.frameCount - 1);
  const n = 3 * decoder.vertexCount;
  if (!mesh || mesh.geometry.getAttribute('position').count !== decoder.vertexCount) {
    if (mesh) {
      scene.remove(mesh);
      mesh.geometry.dispose();
    }
    const geometry = new THREE.BufferGeometry();
    const position = new THREE.BufferAttribute(new Float32Array(n), 3);
    position.setUsage(THREE.DynamicDrawUsage);
    geometry.setAttribute('position', position);
    geometry.setIndex(new THREE.BufferAttribute(source.faces, 1));
    mesh = new THREE.Mesh(geometry, material);
    scene.add(mesh);
  }
  const sphere = sequenceSphere();
  mesh.geometry.boundingSphere = sphere;
  if (state.timeToFirstFrameMs === null) frameCamera(sphere);
  decoder.seek(startFrame);
  showNextFrame();
  renderer.render(scene, camera);
  if (state.timeToFirstFrameMs === null) state.timeToFirstFrameMs = performance.now() - t0;
  updateStats();
}

function updateStats() {
  if (!decoder) return;
  const bpvf = (8 * state.streamBytes) / (state.vertexCount * state.frameCount);
  $('stats').textContent =
    `${state.vertexCount} vertices, ${state.frameCount} frames, layers ${decoder.decodedSpatialLayers}/${decoder.spatialLayers}` +
    ` spatial, ${decoder.decodedTemporalLayers}/${decoder.temporalLayers} temporal\n` +
    `stream ${(state.streamBytes / 1024).toFixed(1)} KiB, ${bpvf.toFixed(2)} bits per vertex per frame\n` +
    `${state.fps.toFixed(1)} frames/s shown, decode ${state.decodeMs.toFixed(2)} ms/frame` +
    (state.timeToFirstFrameMs !== null ? `, first frame after ${state.timeToFirstFrameMs.toFixed(0)} ms` : '');
}

async function load(stream, con) {
  try {
    const [s, c] = await Promise.all([stream, con]);
    source = { stream: s, faces: parseObjFaces(new TextDecoder().decode(c)) };
    state.timeToFirstFrameMs = null;
    const sl = parseInt(params.get('sl') ?? '', 10), tl = parseInt(params.get('tl') ?? '', 10);
    await open({ spatialLayers: sl > 0 ? sl : undefined, temporalLayers: tl > 0 ? tl : undefined });
    $('error').textContent = '';
  } catch (e) {
    showError(e);
  }
}

function reopenWithLayers() {
  if (!source) return;
  const next = (state.frame + 1) % state.frameCount;
  open({ spatialLayers: +$('sl').value, temporalLayers: +$('tl').value }, next === 0 ? 0 : state.frame).catch(showError);
}
$('sl').addEventListener('change', reopenWithLayers);
$('tl').addEventListener('change', reopenWithLayers);
$('play').addEventListener('click', () => {
  state.playing = !state.playing;
  $('play').textContent = state.playing ? 'Pause' : 'Play';
});
$('play').textContent = state.playing ? 'Pause' : 'Play';
$('scrub').addEventListener('input', () => {
  if (!decoder) return;
  try {
    decoder.seek(+$('scrub').value);
    showNextFrame();
  } catch (e) {
    showError(e);
  }
});
for (const id of ['streamFile', 'conFile']) {
  $(id).addEventListener('change', () => {
    const s = $('streamFile').files[0], c = $('conFile').files[0];
    if (s && c) load(s.arrayBuffer().then((b) => new Uint8Array(b)), c.arrayBuffer());
  });
}

load(fetchBytes(params.get('stream') ?? 'sample/flag.orv'), fetchBytes(params.get('con') ?? 'sample/flag_con.obj'));

let last = performance.now(), shownAt = last, shownSince = 0;
function tick(now) {
  requestAnimationFrame(tick);
  controls.update();
  if (decoder && state.playing && now - last >= 1000 / FRAME_RATE - 1) {
    last = now;
    try {
      showNextFrame();
      ++shownSince;
    } catch (e) {
      state.playing = false;
      showError(e);
    }
  }
  if (now - shownAt >= 500) {
    state.fps = (1000 * shownSince) / (now - shownAt);
    shownAt = now;
    shownSince = 0;
    updateStats();
  }
  renderer.render(scene, camera);
}
requestAnimationFrame(tick);
