// A small static file server for the player and the browser test: serves the
// web/ folder on 127.0.0.1 only.
//   node tools/serve.mjs [PORT]     (default 8080; then open /player/)
import { createServer } from 'node:http';
import { readFile, stat } from 'node:fs/promises';
import { extname, join, normalize, sep } from 'node:path';
import { fileURLToPath } from 'node:url';

const root = fileURLToPath(new URL('..', import.meta.url));
const types = {
  '.html': 'text/html; charset=utf-8', '.js': 'text/javascript', '.mjs': 'text/javascript',
  '.wasm': 'application/wasm', '.json': 'application/json', '.css': 'text/css', '.obj': 'text/plain',
  '.orv': 'application/octet-stream', '.png': 'image/png',
};

export function serve(port = 0) {
  const server = createServer(async (req, res) => {
    try {
      let path = decodeURIComponent(new URL(req.url, 'http://127.0.0.1').pathname);
      const file = normalize(join(root, path));
      if (!file.startsWith(root.endsWith(sep) ? root : root + sep)) throw Object.assign(new Error('outside'), { code: 'ENOENT' });
      const target = (await stat(file)).isDirectory() ? join(file, 'index.html') : file;
      const body = await readFile(target);
      res.writeHead(200, { 'content-type': types[extname(target)] ?? 'application/octet-stream', 'cache-control': 'no-store' });
      res.end(body);
    } catch (e) {
      res.writeHead(e.code === 'ENOENT' || e.code === 'EISDIR' ? 404 : 500, { 'content-type': 'text/plain' });
      res.end(String(e.code ?? e));
    }
  });
  return new Promise((resolve) => server.listen(port, '127.0.0.1', () => resolve(server)));
}

if (process.argv[1] === fileURLToPath(import.meta.url)) {
  const server = await serve(Number(process.argv[2] ?? 8080));
  console.log(`serving ${root} at http://127.0.0.1:${server.address().port}/player/`);
}
