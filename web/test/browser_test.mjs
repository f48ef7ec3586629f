// The web build in a real browser: serves build-web/site, drives headless
// Chromium over the DevTools protocol (through a pipe: no libraries needed),
// clicks the start screen and watches the show. It checks that
//  - the canvas shows the first scenes as the native renderer draws them at
//    the same song position and row (invitro-capture's PNG frames),
//  - each scene change comes on the first tick after the position is heard,
//  - Web Audio played sound, and the heard position trails the mixer,
//  - the scene editor (?edit=knock2) opens, takes an edit and downloads
//    both files of the scene on Ctrl+S,
//  - the console shows no errors.
// Usage: node web/test/browser_test.mjs SITE_DIR NATIVE_FRAMES_DIR TIMELINE_CSV [--shots DIR]
// --shots DIR keeps the pictures: the start screen, the whole page at the
// end of the show and in the editor (screenshots), and the canvas at each
// compared row.
import { spawn } from 'node:child_process';
import fs from 'node:fs';
import http from 'node:http';
import os from 'node:os';
import path from 'node:path';
import zlib from 'node:zlib';

const [site, nativeDir, timelineFile] = process.argv.slice(2);
const shotsAt = process.argv.indexOf('--shots');
const shotsDir = shotsAt > 0 ? process.argv[shotsAt + 1] : null;
if (!site || !nativeDir || !timelineFile || process.argv.includes('--help')) {
  console.log('Usage: node web/test/browser_test.mjs SITE_DIR NATIVE_FRAMES_DIR TIMELINE_CSV [--shots DIR]');
  process.exit(site ? 0 : 2);
}
const W = 640, H = 360;           // the page's size: the intro's logical resolution, 1:1
const TICK_S = 0.025;
const failures = [];
const check = (ok, text) => { console.log(`${ok ? 'ok  ' : 'FAIL'} ${text}`); if (!ok) failures.push(text); };

// ---------------------------------------------------------------- PNG files (8-bit RGB/RGBA, no interlace)

function readPng(file) {
  const data = fs.readFileSync(file);
  let pos = 8, width = 0, height = 0, channels = 0;
  const idat = [];
  while (pos < data.length) {
    const len = data.readUInt32BE(pos), type = data.toString('latin1', pos + 4, pos + 8);
    const body = data.subarray(pos + 8, pos + 8 + len);
    if (type === 'IHDR') {
      width = body.readUInt32BE(0); height = body.readUInt32BE(4);
      channels = { 2: 3, 6: 4 }[body[9]];
      if (body[8] !== 8 || !channels || body[12] !== 0) throw new Error(`${file}: unsupported PNG`);
    } else if (type === 'IDAT') idat.push(body);
    pos += 12 + len;
  }
  const raw = zlib.inflateSync(Buffer.concat(idat));
  const stride = width * channels, out = Buffer.alloc(width * height * 4);
  let prev = Buffer.alloc(stride);
  for (let y = 0; y < height; y++) {
    const filter = raw[y * (stride + 1)], line = Buffer.from(raw.subarray(y * (stride + 1) + 1, (y + 1) * (stride + 1)));
    for (let i = 0; i < stride; i++) {
      const a = i >= channels ? line[i - channels] : 0, b = prev[i], c = i >= channels ? prev[i - channels] : 0;
      const p = a + b - c, pa = Math.abs(p - a), pb = Math.abs(p - b), pc = Math.abs(p - c);
      const add = [0, a, b, (a + b) >> 1, pa <= pb && pa <= pc ? a : pb <= pc ? b : c][filter];
      line[i] = (line[i] + add) & 255;
    }
    for (let x = 0; x < width; x++)
      for (let k = 0; k < 4; k++) out[(y * width + x) * 4 + k] = k < channels ? line[x * channels + k] : 255;
    prev = line;
  }
  return { width, height, rgba: out };
}

function writePng(file, { width, height, rgba }) {
  const crcTable = Array.from({ length: 256 }, (_, n) => { let c = n; for (let k = 0; k < 8; k++) c = c & 1 ? 0xedb88320 ^ (c >>> 1) : c >>> 1; return c >>> 0; });
  const crc = (buf) => { let c = 0xffffffff; for (const b of buf) c = crcTable[(c ^ b) & 255] ^ (c >>> 8); return (c ^ 0xffffffff) >>> 0; };
  const chunk = (type, body) => {
    const head = Buffer.alloc(8); head.writeUInt32BE(body.length, 0); head.write(type, 4, 'latin1');
    const tail = Buffer.alloc(4); tail.writeUInt32BE(crc(Buffer.concat([head.subarray(4), body])), 0);
    return Buffer.concat([head, body, tail]);
  };
  const ihdr = Buffer.alloc(13); ihdr.writeUInt32BE(width, 0); ihdr.writeUInt32BE(height, 4); ihdr[8] = 8; ihdr[9] = 6;
  const raw = Buffer.alloc((width * 4 + 1) * height);
  for (let y = 0; y < height; y++) rgba.copy(raw, y * (width * 4 + 1) + 1, y * width * 4, (y + 1) * width * 4);
  fs.writeFileSync(file, Buffer.concat([Buffer.from([137, 80, 78, 71, 13, 10, 26, 10]), chunk('IHDR', ihdr),
    chunk('IDAT', zlib.deflateSync(raw, { level: 9 })), chunk('IEND', Buffer.alloc(0))]));
}

// Pictures are compared as means over 20 x 20 pixel blocks, which forgives
// the browser's own texture filtering and edge rasterisation.
const BLOCK = 20;
function blocks({ width, height, rgba }) {
  const bw = Math.floor(width / BLOCK), bh = Math.floor(height / BLOCK), out = new Float64Array(bw * bh * 3);
  for (let y = 0; y < bh * BLOCK; y++)
    for (let x = 0; x < bw * BLOCK; x++)
      for (let k = 0; k < 3; k++) out[(Math.floor(y / BLOCK) * bw + Math.floor(x / BLOCK)) * 3 + k] += rgba[(y * width + x) * 4 + k];
  return out.map((v) => v / (BLOCK * BLOCK));
}
const distance = (a, b) => a.reduce((sum, v, i) => sum + Math.abs(v - b[i]), 0) / a.length;

// ---------------------------------------------------------------- the page's server

const types = { '.html': 'text/html', '.js': 'text/javascript', '.wasm': 'application/wasm', '.png': 'image/png' };
const server = http.createServer((req, res) => {
  const name = decodeURIComponent(new URL(req.url, 'http://x').pathname).replace(/^\/+/, '') || 'index.html';
  const file = path.join(path.resolve(site), path.normalize(name));
  if (!file.startsWith(path.resolve(site)) || !fs.existsSync(file)) { res.writeHead(404); res.end(); return; }
  res.writeHead(200, { 'Content-Type': types[path.extname(file)] || 'application/octet-stream' });
  fs.createReadStream(file).pipe(res);
});
await new Promise((resolve) => server.listen(0, '127.0.0.1', resolve));
const url = `http://127.0.0.1:${server.address().port}/`;

// ---------------------------------------------------------------- the browser, over its DevTools pipe

const profile = fs.mkdtempSync(path.join(os.tmpdir(), 'invitro-chromium-'));
const browser = spawn(process.env.CHROMIUM || 'chromium', [
  '--headless=new', '--no-sandbox', '--remote-debugging-pipe', `--user-data-dir=${profile}`,
  '--no-first-run', '--no-default-browser-check', '--disable-extensions', '--disable-background-timer-throttling',
  '--disable-renderer-backgrounding', '--disable-backgrounding-occluded-windows',
  '--use-angle=swiftshader', '--enable-unsafe-swiftshader', `--window-size=${W},${H}`, 'about:blank',
], { stdio: ['ignore', 'ignore', 'pipe', 'pipe', 'pipe'] });
let browserLog = '';
browser.stderr.on('data', (d) => { browserLog += d; });
const sleep = (ms) => new Promise((r) => setTimeout(r, ms));
let nextId = 1, pending = new Map(), listeners = [], inbox = '';
browser.stdio[4].on('data', (data) => {
  inbox += data.toString('utf8');
  let end;
  while ((end = inbox.indexOf('\0')) >= 0) {
    const message = JSON.parse(inbox.slice(0, end));
    inbox = inbox.slice(end + 1);
    if (message.id && pending.has(message.id)) {
      const { resolve, reject } = pending.get(message.id);
      pending.delete(message.id);
      message.error ? reject(new Error(`${message.error.message} ${message.error.data || ''}`)) : resolve(message.result);
    } else for (const listener of listeners) listener(message);
  }
});
function send(method, params = {}, sessionId) {
  const id = nextId++;
  browser.stdio[3].write(JSON.stringify({ id, method, params, ...(sessionId ? { sessionId } : {}) }) + '\0');
  return new Promise((resolve, reject) => pending.set(id, { resolve, reject }));
}
let finished = false;
async function finish(code) {
  if (finished) return;
  finished = true;
  server.close();
  if (browser.exitCode === null) {
    const exited = new Promise((resolve) => browser.once('exit', resolve));
    browser.kill();
    await Promise.race([exited, sleep(5000)]);
  }
  fs.rmSync(profile, { recursive: true, force: true, maxRetries: 5, retryDelay: 200 });
  process.exit(code);
}
const deadline = setTimeout(() => { console.log('FAIL the browser test took too long'); console.log(browserLog.slice(-2000)); finish(1); }, 120000);

try {
  const { targetId } = await send('Target.createTarget', { url: 'about:blank' });
  const { sessionId } = await send('Target.attachToTarget', { targetId, flatten: true });
  const page = (method, params) => send(method, params, sessionId);
  const consoleErrors = [];
  listeners.push((m) => {
    if (m.sessionId !== sessionId) return;
    if (m.method === 'Runtime.exceptionThrown') consoleErrors.push(m.params.exceptionDetails.exception?.description || m.params.exceptionDetails.text);
    if (m.method === 'Runtime.consoleAPICalled' && (m.params.type === 'error' || m.params.type === 'assert'))
      consoleErrors.push(m.params.args.map((a) => a.value ?? a.description).join(' '));
    if (m.method === 'Log.entryAdded' && m.params.entry.level === 'error') consoleErrors.push(m.params.entry.text);
  });
  await page('Runtime.enable');
  await page('Log.enable');
  await page('Page.enable');
  await page('Emulation.setDeviceMetricsOverride', { width: W, height: H, deviceScaleFactor: 1, mobile: false });
  const evaluate = async (expression) => {
    const r = await page('Runtime.evaluate', { expression, returnByValue: true, awaitPromise: true });
    if (r.exceptionDetails) throw new Error(`${expression}: ${r.exceptionDetails.exception?.description || r.exceptionDetails.text}`);
    return r.result.value;
  };
  const waitFor = async (expression, what, ms) => {
    for (const until = Date.now() + ms; Date.now() < until; await sleep(50)) if (await evaluate(expression)) return true;
    const status = await evaluate(`document.getElementById('message')?.textContent`);
    throw new Error(`timed out waiting for ${what} (the page says "${status}"; console: ${consoleErrors.join(' | ')})`);
  };

  await page('Page.navigate', { url });
  await waitFor(`document.getElementById('start')?.classList.contains('ready')`, 'the start screen', 30000);
  check(true, 'the start screen is shown once the page has loaded');
  if (shotsDir) {
    const shot = await page('Page.captureScreenshot', { format: 'png' });
    fs.writeFileSync(path.join(shotsDir, 'web-start.png'), Buffer.from(shot.data, 'base64'));
  }

  // Every frame is logged; at the wanted rows the canvas is read back in
  // the same animation frame that drew it. The frame's update saw the song
  // clock of the frame before, so a frame is taken (here and natively) when
  // both show the row, and on rows where no beat reveal steps (odd beats).
  const wanted = [[0, 43], [1, 43], [2, 43]];
  await evaluate(`(() => {
    window.frameLog = []; window.snaps = [];
    const wanted = ${JSON.stringify(wanted)};
    Module.onframe = () => {
      const s = JSON.parse(Module.ccall('web_state', 'string'));
      s.t = performance.now();
      frameLog.push(s);
      const before = frameLog[frameLog.length - 2];
      const w = wanted.find(([p, r]) => s.track === p && s.row === r && before && before.track === p && before.row === r &&
        !snaps.some((x) => x.state.track === p));
      if (!w) return;
      const gl = Module.ctx || GLctx, px = new Uint8Array(${W * H * 4});
      gl.readPixels(0, 0, ${W}, ${H}, gl.RGBA, gl.UNSIGNED_BYTE, px);
      let bin = ''; for (let i = 0; i < px.length; i += 8192) bin += String.fromCharCode.apply(null, px.subarray(i, i + 8192));
      snaps.push({ state: s, pixels: btoa(bin) });
    };
    window.levels = [];
    const probe = new Float32Array(Module.audioOut.fftSize);
    window.levelTimer = setInterval(() => {
      Module.audioOut.getFloatTimeDomainData(probe);
      let sum = 0; for (const v of probe) sum += v * v;
      levels.push(Math.sqrt(sum / probe.length));
    }, 100);
    return true; })()`);

  // A real click (a user gesture) in the middle of the start screen.
  for (const type of ['mousePressed', 'mouseReleased'])
    await page('Input.dispatchMouseEvent', { type, x: W / 2, y: H / 2, button: 'left', clickCount: 1 });
  await waitFor(`frameLog.length > 0`, 'the first frame after the click', 10000);
  check(await evaluate(`getComputedStyle(document.getElementById('start')).display === 'none'`), 'the click starts the show');
  await waitFor(`snaps.length === ${wanted.length}`, 'the first three song positions', 90000);
  if (shotsDir) {
    const shot = await page('Page.captureScreenshot', { format: 'png' });
    fs.writeFileSync(path.join(shotsDir, 'web-page.png'), Buffer.from(shot.data, 'base64'));
  }
  const log = await evaluate('frameLog');
  const snaps = await evaluate('snaps');
  const levels = await evaluate('clearInterval(levelTimer), levels');
  const starts = await evaluate(`[0, 1, 2].map((p) => Module.ccall('web_position_start', 'number', ['number'], [p]))`);

  // ------------------------------------------------------------ the picture
  const timeline = fs.readFileSync(timelineFile, 'utf8').trim().split('\n').slice(1).map((l) => {
    const [frame, , position, row, , scene] = l.split(',');
    return { frame: +frame, position: +position, row: +row, scene };
  });
  timeline.forEach((f, i) => { f.settled = i > 0 && timeline[i - 1].position === f.position && timeline[i - 1].row === f.row; });
  const nativeBlocks = new Map();
  const nativeFrame = (n) => {
    if (!nativeBlocks.has(n)) nativeBlocks.set(n, blocks(readPng(path.join(nativeDir, `frame-${String(n).padStart(6, '0')}.png`))));
    return nativeBlocks.get(n);
  };
  for (const snap of snaps) {
    const { track, row, scene } = snap.state;
    const raw = Buffer.from(snap.pixels, 'base64'), rgba = Buffer.alloc(raw.length);
    for (let y = 0; y < H; y++) raw.copy(rgba, y * W * 4, (H - 1 - y) * W * 4, (H - y) * W * 4);  // GL rows are bottom-up
    const image = { width: W, height: H, rgba };
    if (shotsDir) writePng(path.join(shotsDir, `web-${scene}-${track}-${row}.png`), image);
    const web = blocks(image);
    const same = timeline.filter((f) => f.position === track && f.row === row && f.settled);
    const other = timeline.filter((f) => f.scene !== scene && f.scene && f.frame % 30 === 0);
    check(same.length > 0 && same.every((f) => f.scene === scene), `position ${track} row ${row}: the native renderer shows "${scene}" there too`);
    if (!same.length || !other.length) continue;
    const near = Math.min(...same.map((f) => distance(web, nativeFrame(f.frame))));
    const far = Math.min(...other.map((f) => distance(web, nativeFrame(f.frame))));
    check(near < 10 && near * 3 < far,
      `"${scene}" at position ${track} row ${row} looks like the native frame (block difference ${near.toFixed(2)}; nearest other scene ${far.toFixed(2)})`);
  }

  // ------------------------------------------------------------ the timing
  // The director reads the song clock on its next tick, so a scene comes on
  // the first frame with a tick after the frame that heard its position:
  // never before the position is heard, and at most a tick and two frames
  // (as long as the browser took for them) after.
  for (const [position, scene] of [[1, 'fade'], [2, 'zuzu']]) {
    const heardAt = log.findIndex((s) => s.track >= position);
    const shownAt = log.findIndex((s) => s.scene === scene);
    const firstTick = log.findIndex((s, i) => i > heardAt && s.tics > log[i - 1].tics);
    const start = starts[position];
    check(heardAt > 0 && shownAt === firstTick && start > 0 && log[heardAt - 1].heard < start,
      `"${scene}" comes on the first tick after position ${position} is heard (frame ${shownAt}, heard in frame ${heardAt})`);
    if (heardAt <= 0 || shownAt <= heardAt || !(start > 0)) continue;
    const late = (log[shownAt].heard - start) / log[shownAt].rate;
    const frame = Math.max(...log.slice(heardAt - 1, shownAt + 1).map((s, i, a) => i ? s.t - a[i - 1].t : 0)) / 1000;
    check(late >= 0 && late <= TICK_S + 2 * frame,
      `"${scene}" shows ${(late * 1000).toFixed(1)} ms after position ${position} is heard (a tick is ${TICK_S * 1000} ms, the longest frame there ${(frame * 1000).toFixed(1)} ms)`);
  }
  const lead = log.slice(-20).map((s) => (s.mixed - s.heard) / s.rate);
  check(lead.every((s) => s > 0.05 && s < 1), `the heard position trails the mixer by ${Math.min(...lead).toFixed(3)}..${Math.max(...lead).toFixed(3)} s`);

  // ------------------------------------------------------------ the window
  // A wider window: the canvas follows it and the engine letterboxes its
  // 640 x 360 into the middle. Then F asks for full screen.
  await page('Emulation.setDeviceMetricsOverride', { width: 800, height: H, deviceScaleFactor: 1, mobile: false });
  await waitFor(`(() => { const s = JSON.parse(Module.ccall('web_state', 'string'));
    return s.screen[0] === 800 && s.screen[1] === ${H} && s.left === 80 && Module.canvas.width === 800; })()`,
    'the canvas to follow the window', 5000).then(() => check(true, 'a wider window gets a wider canvas, the picture letterboxed in its middle'),
    (e) => check(false, e.message));
  for (const type of ['keyDown', 'keyUp'])
    await page('Input.dispatchKeyEvent', { type, key: 'f', code: 'KeyF', text: type === 'keyDown' ? 'f' : undefined, windowsVirtualKeyCode: 70 });
  await waitFor(`document.fullscreenElement?.id === 'stage'`, 'full screen after F', 5000)
    .then(() => check(true, 'F puts the intro full screen'), (e) => check(false, e.message));

  // ------------------------------------------------------------ the sound
  check(log.every((s) => s.audio === 1), 'the music plays through Web Audio');
  check(Math.max(...levels) > 0.01, `Web Audio output has sound (loudest RMS ${Math.max(...levels).toFixed(3)})`);

  // ------------------------------------------------------------ the scene editor
  // ?edit=knock2 opens the editor on the scene; one edit by the keyboard
  // (the first box ten units right), then Ctrl+S downloads both files.
  const downloads = fs.mkdtempSync(path.join(os.tmpdir(), 'invitro-downloads-'));
  await send('Browser.setDownloadBehavior', { behavior: 'allow', downloadPath: downloads });
  await page('Page.navigate', { url: url + '?edit=knock2' });
  await waitFor(`document.getElementById('start')?.classList.contains('ready') && typeof Module.onSaved === 'function'`,
    'the editor\'s start screen', 30000);
  for (const type of ['mousePressed', 'mouseReleased'])
    await page('Input.dispatchMouseEvent', { type, x: W / 2, y: H / 2, button: 'left', clickCount: 1 });
  const fields = `document.getElementById('fields').textContent`;
  await waitFor(`${fields}.startsWith('knock2 - 16 boxes')`, 'the editor\'s panel', 10000)
    .then(() => check(true, 'the editor opens knock2 with its 16 boxes'), (e) => check(false, e.message));
  const press = async (key, code, keyCode, modifiers = 0) => {
    for (const type of ['rawKeyDown', 'keyUp']) await page('Input.dispatchKeyEvent', { type, key, code, windowsVirtualKeyCode: keyCode, modifiers });
    await sleep(100);
  };
  await press('Tab', 'Tab', 9);
  await press('ArrowRight', 'ArrowRight', 39, 8);
  await waitFor(`${fields}.includes('box 1/16 "doorpanel.png" x 80 y 110')`, 'the edit in the panel', 5000)
    .then(() => check(true, 'Tab and Shift+Right move the first box, and the panel shows it'), (e) => check(false, e.message));
  if (shotsDir) {
    const shot = await page('Page.captureScreenshot', { format: 'png' });
    fs.writeFileSync(path.join(shotsDir, 'web-editor.png'), Buffer.from(shot.data, 'base64'));
  }
  await press('s', 'KeyS', 83, 2);
  const saved = ['knock2.dat', 'knock2.txt'].map((f) => path.join(downloads, f));
  for (const until = Date.now() + 10000; Date.now() < until && !saved.every((f) => fs.existsSync(f)); ) await sleep(100);
  const committed = fs.readFileSync(new URL('../../data/knock2.dat', import.meta.url));
  if (saved.every((f) => fs.existsSync(f))) {
    const dat = fs.readFileSync(saved[0]), txt = fs.readFileSync(saved[1], 'utf8');
    check(dat.length === committed.length && !dat.equals(committed) && dat.readInt32LE(34) === committed.readInt32LE(34) + 10,
      'Ctrl+S downloads knock2.dat with the box moved');
    check(txt.includes('\nbox 80 110 4 0 0 0 0 0 80 110 4 0\n') && txt.startsWith('# "knock"'),
      'and knock2.txt with the new line under the old comments');
  } else {
    check(false, `Ctrl+S downloads knock2.dat and knock2.txt (found: ${fs.readdirSync(downloads).join(', ') || 'nothing'})`);
  }
  fs.rmSync(downloads, { recursive: true, force: true });

  check(consoleErrors.length === 0, `no console errors${consoleErrors.length ? ': ' + consoleErrors.join(' | ') : ''}`);
} catch (error) {
  check(false, error.message);
  console.log(browserLog.slice(-2000));
}
clearTimeout(deadline);
console.log(failures.length ? `${failures.length} check(s) failed` : 'all checks passed');
finish(failures.length ? 1 : 0);
