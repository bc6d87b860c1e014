// Decodes the player's sample in a Web Worker (the browser test loads it):
// posts the frame count and a checksum of every decoded double.
import createOrv, { parseObjFaces } from '../dist/orv.js';

const bytes = async (url) => new Uint8Array(await (await fetch(url)).arrayBuffer());
try {
  const orv = await createOrv();
  const d = orv.openDecoder(await bytes('../player/sample/flag.orv'),
    parseObjFaces(new TextDecoder().decode(await bytes('../player/sample/flag_con.obj'))));
  let frames = 0, sum = 0;
  for (let r; (r = d.readFrame64()); ++frames) for (const x of r.positions) sum += x;
  d.close();
  postMessage({ frames, sum });
} catch (e) {
  postMessage({ error: String(e.message ?? e) });
}
