#!/usr/bin/env node
// A small static file server bound to 127.0.0.1, for playing encoded movies through Ruffle
// (a browser will not load an SWF from file://). Usable as a module by the tests:
//   const { startServer } = require('.../scripts/serve.js');
//   const { port, close } = await startServer(rootFolder, { port: 0 });
// and from the shell: node scripts/serve.js FOLDER [PORT]
'use strict';
const http = require('http');
const fs = require('fs');
const path = require('path');

const kTypes = {
  '.html': 'text/html; charset=utf-8',
  '.js': 'text/javascript',
  '.mjs': 'text/javascript',
  '.map': 'application/json',
  '.json': 'application/json',
  '.wasm': 'application/wasm',
  '.swf': 'application/x-shockwave-flash',
  '.png': 'image/png',
  '.css': 'text/css',
};

function startServer(root, { port = 0, host = '127.0.0.1' } = {}) {
  const base = path.resolve(root);
  const server = http.createServer((req, res) => {
    let rel;
    try {
      rel = decodeURIComponent(new URL(req.url, 'http://localhost').pathname);
    } catch {
      res.writeHead(400).end();
      return;
    }
    if (rel.endsWith('/')) rel += 'index.html';
    const file = path.resolve(base, '.' + rel);
    // Never serve anything outside the root, whatever the URL says.
    if (file !== base && !file.startsWith(base + path.sep)) {
      res.writeHead(403).end();
      return;
    }
    fs.readFile(file, (err, data) => {
      if (err) {
        res.writeHead(404, { 'Content-Type': 'text/plain' }).end('not found');
        return;
      }
      res.writeHead(200, {
        'Content-Type': kTypes[path.extname(file).toLowerCase()] || 'application/octet-stream',
        'Cache-Control': 'no-store',
      });
      res.end(data);
    });
  });
  return new Promise((resolve, reject) => {
    server.once('error', reject);
    server.listen(port, host, () => {
      resolve({
        port: server.address().port,
        close: () => new Promise((done) => server.close(() => done())),
      });
    });
  });
}

module.exports = { startServer };

if (require.main === module) {
  const root = process.argv[2] || '.';
  const port = Number(process.argv[3] || 8000);
  startServer(root, { port }).then(({ port: p }) => {
    console.log(`Serving ${path.resolve(root)} at http://127.0.0.1:${p}/ (Ctrl+C stops)`);
  }, (err) => {
    console.error(`serve: ${err.message}`);
    process.exit(1);
  });
}
