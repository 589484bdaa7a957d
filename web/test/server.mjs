// SPDX-License-Identifier: BSD-2-Clause
// A static file server on 127.0.0.1 for the built page: what any plain web server does, and with
// `isolated` the two headers that make a page cross-origin isolated (and give it threads).
import { createServer } from 'node:http';
import { readFile } from 'node:fs/promises';
import { extname, join, normalize } from 'node:path';

const kTypes = {
  '.html': 'text/html; charset=utf-8',
  '.js': 'text/javascript; charset=utf-8',
  '.css': 'text/css; charset=utf-8',
  '.wasm': 'application/wasm',
};

// Resolves with {url, close}; port 0 lets the system pick a free port.
export function serve(root, { isolated = false } = {}) {
  const server = createServer(async (request, response) => {
    const path = normalize(decodeURIComponent(new URL(request.url, 'http://x').pathname));
    const headers = isolated ? { 'Cross-Origin-Opener-Policy': 'same-origin', 'Cross-Origin-Embedder-Policy': 'require-corp' } : {};
    try {
      if (path.includes('..')) throw new Error('outside the root');
      const body = await readFile(join(root, path.endsWith('/') ? `${path}index.html` : path));
      response.writeHead(200, { ...headers, 'Content-Type': kTypes[extname(path) || '.html'] || 'application/octet-stream' });
      response.end(body);
    } catch {
      response.writeHead(404, headers);
      response.end('not found');
    }
  });
  return new Promise((resolve) => {
    server.listen(0, '127.0.0.1', () => {
      resolve({ url: `http://127.0.0.1:${server.address().port}/`, close: () => server.close() });
    });
  });
}
