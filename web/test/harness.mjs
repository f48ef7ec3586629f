// What the browser tests share: puppeteer-core (pinned, installed into
// web/test/node_modules by npm on the first run), the page's files served on
// a port of this machine, and headless Chromium's flags.
import { execFileSync } from 'node:child_process';
import fs from 'node:fs';
import http from 'node:http';
import path from 'node:path';
import { fileURLToPath } from 'node:url';

// The one version of puppeteer-core that drives both browsers here (the
// next major one needs a newer Node than Debian's).
const PUPPETEER = '24.43.1';
const here = path.dirname(fileURLToPath(import.meta.url));
const installed = () => {
  try {
    return JSON.parse(fs.readFileSync(path.join(here, 'node_modules/puppeteer-core/package.json'), 'utf8')).version === PUPPETEER;
  } catch {
    return false;
  }
};
if (!installed()) {
  execFileSync('npm', ['install', '--no-save', '--no-audit', '--no-fund', '--prefix', here, `puppeteer-core@${PUPPETEER}`],
    { stdio: ['ignore', 'inherit', 'inherit'] });
}
export const { default: puppeteer } = await import('puppeteer-core');

// The files of SITE on 127.0.0.1, on a free port; nothing outside SITE.
export async function serveSite(site) {
  const types = { '.html': 'text/html', '.js': 'text/javascript', '.wasm': 'application/wasm', '.png': 'image/png' };
  const root = path.resolve(site);
  const server = http.createServer((req, res) => {
    const name = decodeURIComponent(new URL(req.url, 'http://x').pathname).replace(/^\/+/, '') || 'index.html';
    const file = path.join(root, path.normalize(name));
    if (!file.startsWith(root) || !fs.existsSync(file)) { res.writeHead(404); res.end(); return; }
    res.writeHead(200, { 'Content-Type': types[path.extname(file)] || 'application/octet-stream' });
    fs.createReadStream(file).pipe(res);
  });
  await new Promise((resolve) => server.listen(0, '127.0.0.1', resolve));
  return { server, url: `http://127.0.0.1:${server.address().port}/` };
}

// Headless Chromium with software WebGL, kept off the network. The autoplay
// policy is the one a desktop browser has: sound starts only from a user's
// gesture.
export const chromiumFlags = (width, height) => [
  '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run', '--no-default-browser-check',
  '--disable-background-networking', '--disable-component-update', '--disable-sync', '--disable-extensions',
  '--disable-background-timer-throttling', '--disable-renderer-backgrounding', '--disable-backgrounding-occluded-windows',
  '--autoplay-policy=document-user-activation-required', '--use-angle=swiftshader', '--enable-unsafe-swiftshader',
  `--window-size=${width},${height}`,
];
export const chromiumPath = process.env.CHROMIUM || '/usr/bin/chromium';
