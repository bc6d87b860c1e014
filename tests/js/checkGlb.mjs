// Checks a glb file the way its users will meet it: the Khronos glTF
// validator must report no errors, and three.js's GLTFLoader must load it
// with the expected morph targets and a weights animation. With CORNERS it
// also needs texture coordinates and writes, per triangle corner as three.js
// sees it, one line "u v x y z dx dy dz": the corner's uv, base position and
// first morph target's offset (0 0 0 without targets), so that the caller
// can compare them with what it exported.
//   node checkGlb.mjs FILE.glb VERTICES TARGETS [CORNERS]   (run with ORV_NPM_DIR or from the npm folder)
import { readFileSync, writeFileSync } from 'node:fs';
import { createRequire } from 'node:module';
import { pathToFileURL } from 'node:url';
import path from 'node:path';

const [file, vertices, targets, corners] = process.argv.slice(2);
const modules = process.env.ORV_NPM_DIR ? path.join(process.env.ORV_NPM_DIR, 'node_modules') : 'node_modules';
const require = createRequire(path.join(path.resolve(modules), 'x.js'));
const validator = require('gltf-validator');
const bytes = new Uint8Array(readFileSync(file));

const report = await validator.validateBytes(bytes);
const issues = report.issues;
if (issues.numErrors > 0) {
  console.log('VALIDATOR ERRORS ' + JSON.stringify(issues.messages.filter((m) => m.severity === 0).slice(0, 5)));
  process.exit(1);
}

const threeDir = path.join(path.resolve(modules), 'three');
const { GLTFLoader } = await import(pathToFileURL(path.join(threeDir, 'examples/jsm/loaders/GLTFLoader.js')).href);
const loader = new GLTFLoader();
const buffer = bytes.buffer.slice(bytes.byteOffset, bytes.byteOffset + bytes.byteLength);
const gltf = await new Promise((resolve, reject) => loader.parse(buffer, '', resolve, reject));
let mesh = null;
gltf.scene.traverse((o) => { if (o.isMesh) mesh = o; });
if (!mesh) { console.log('NO MESH'); process.exit(1); }
const g = mesh.geometry;
const nv = g.attributes.position.count;
const nt = g.morphAttributes.position ? g.morphAttributes.position.length : 0;
if (nv !== Number(vertices) || nt !== Number(targets)) {
  console.log(`WRONG COUNTS vertices ${nv} targets ${nt}`);
  process.exit(1);
}
if (Number(targets) > 0 && (gltf.animations.length !== 1 || gltf.animations[0].tracks.length !== 1)) {
  console.log('NO WEIGHTS ANIMATION');
  process.exit(1);
}
if (corners) {
  const uv = g.attributes.uv;
  if (!uv || uv.count !== nv) {
    console.log('NO TEXTURE COORDINATES');
    process.exit(1);
  }
  const p = g.attributes.position;
  const d = nt > 0 ? g.morphAttributes.position[0] : null;
  const lines = [];
  for (let i = 0; i < g.index.count; ++i) {
    const k = g.index.getX(i);
    const offset = d ? [d.getX(k), d.getY(k), d.getZ(k)] : [0, 0, 0];
    lines.push([uv.getX(k), uv.getY(k), p.getX(k), p.getY(k), p.getZ(k), ...offset].join(' '));
  }
  writeFileSync(corners, lines.join('\n') + '\n');
}
console.log(`OK errors 0 warnings ${issues.numWarnings} vertices ${nv} targets ${nt}`);
