// The web build in a real browser: serves build-web/site, drives headless
// Chromium over the DevTools protocol (through a pipe: no libraries needed),
// clicks the start screen and watches the show. It checks that
//  - the canvas shows the first scenes as the native renderer draws them at
//    the same song position and row (invitro-capture's PNG frames),
//  - each scene change comes on the first tick after the position is heard,
//  - Web Audio played sound, and the heard position trails the mixer,
//  - the console shows no errors;
//  - the scene editor (?edit=knock2) opens, takes an edit and downloads
//    both files of the scene on Ctrl+S;
// then, in more tabs and a second browser, that
//  - an audio context that stays suspended, or whose time stands still,
//    gives the "no sound" note a second after the show starts, and the show
//    goes on in time; at the song's end (reached on a page clock running 20
//    times as fast) the "play again" button plays the show from the top,
//  - a failure of the program shows its own sentence,
//  - a browser without WebGL says so before any click and offers none.
// Usage: node web/test/browser_test.mjs SITE_DIR NATIVE_FRAMES_DIR TIMELINE_CSV [--shots DIR]
// --shots DIR keeps the pictures: the start screen, the whole page at the
// end of the first part and in the editor, the page without sound, at the
// song's end and without WebGL (screenshots), and the canvas at each
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

// ---------------------------------------------------------------- browsers, over their DevTools pipe

const sleep = (ms) => new Promise((r) => setTimeout(r, ms));
// Headless Chromium with software WebGL; FLAGS add to (or take from) its
// setup. The autoplay policy is the one a desktop browser has: sound starts
// only from a user's gesture.
const baseFlags = [
  '--headless=new', '--no-sandbox', '--remote-debugging-pipe', '--no-first-run', '--no-default-browser-check',
  '--disable-extensions', '--disable-background-timer-throttling', '--disable-renderer-backgrounding',
  '--disable-backgrounding-occluded-windows', '--autoplay-policy=document-user-activation-required',
  '--use-angle=swiftshader', '--enable-unsafe-swiftshader', `--window-size=${W},${H}`,
];
const browsers = [];
function launch(flags = []) {
  const profile = fs.mkdtempSync(path.join(os.tmpdir(), 'invitro-chromium-'));
  const child = spawn(process.env.CHROMIUM || 'chromium', [...baseFlags, ...flags, `--user-data-dir=${profile}`, 'about:blank'],
    { stdio: ['ignore', 'ignore', 'pipe', 'pipe', 'pipe'] });
  const b = { child, profile, log: '', listeners: [] };
  browsers.push(b);
  child.stderr.on('data', (d) => { b.log += d; });
  let nextId = 1, inbox = '';
  const pending = new Map();
  child.stdio[4].on('data', (data) => {
    inbox += data.toString('utf8');
    let end;
    while ((end = inbox.indexOf('\0')) >= 0) {
      const message = JSON.parse(inbox.slice(0, end));
      inbox = inbox.slice(end + 1);
      if (message.id && pending.has(message.id)) {
        const { resolve, reject } = pending.get(message.id);
        pending.delete(message.id);
        message.error ? reject(new Error(`${message.error.message} ${message.error.data || ''}`)) : resolve(message.result);
      } else for (const listener of b.listeners) listener(message);
    }
  });
  b.send = (method, params = {}, sessionId) => {
    const id = nextId++;
    child.stdio[3].write(JSON.stringify({ id, method, params, ...(sessionId ? { sessionId } : {}) }) + '\0');
    return new Promise((resolve, reject) => pending.set(id, { resolve, reject }));
  };
  return b;
}
// Ends browser B (killed if it does not end in 5 s) and removes its profile.
async function quit(b) {
  for (const signal of ['SIGTERM', 'SIGKILL']) {
    if (b.child.exitCode !== null || b.child.signalCode !== null) break;
    const exited = new Promise((resolve) => b.child.once('exit', resolve));
    b.child.kill(signal);
    await Promise.race([exited, sleep(5000)]);
  }
  try {
    fs.rmSync(b.profile, { recursive: true, force: true, maxRetries: 5, retryDelay: 200 });
  } catch (error) {
    console.log(`(the browser profile ${b.profile} stays: ${error.message})`);
  }
}
let finished = false;
async function finish(code) {
  if (finished) return;
  finished = true;
  server.close();
  for (const b of browsers) await quit(b);
  process.exit(code);
}
const deadline = setTimeout(() => {
  console.log('FAIL the browser test took too long');
  for (const b of browsers) console.log(b.log.slice(-2000));
  finish(1);
}, 180000);

// A new tab of browser B at W x H, with the page's console errors collected;
// SCRIPT (if any) runs in the page before its own scripts.
async function openPage(b, script) {
  const { targetId } = await b.send('Target.createTarget', { url: 'about:blank' });
  const { sessionId } = await b.send('Target.attachToTarget', { targetId, flatten: true });
  const page = (method, params) => b.send(method, params, sessionId);
  const consoleErrors = [];
  b.listeners.push((m) => {
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
  if (script) await page('Page.addScriptToEvaluateOnNewDocument', { source: script });
  const evaluate = async (expression) => {
    const r = await page('Runtime.evaluate', { expression, returnByValue: true, awaitPromise: true });
    if (r.exceptionDetails) throw new Error(`${expression}: ${r.exceptionDetails.exception?.description || r.exceptionDetails.text}`);
    return r.result.value;
  };
  const waitFor = async (expression, what, ms) => {
    for (const until = Date.now() + ms; Date.now() < until; await sleep(50)) if (await evaluate(expression)) return true;
    const status = await evaluate(`document.getElementById('message')?.textContent`);
    const show = await evaluate(`window.Module && Module._web_state ? Module.ccall('web_state', 'string') : 'not loaded'`);
    throw new Error(`timed out waiting for ${what} (the page says "${status}", the show ${show}; console: ${consoleErrors.join(' | ')})`);
  };
  // A real click (a user gesture) at a point of the page.
  const click = async (x, y) => {
    for (const type of ['mousePressed', 'mouseReleased'])
      await page('Input.dispatchMouseEvent', { type, x, y, button: 'left', clickCount: 1 });
  };
  const close = () => b.send('Target.closeTarget', { targetId });
  return { page, evaluate, waitFor, click, close, consoleErrors };
}
// With --shots, a screenshot of the page as NAME.png.
async function screenshot(page, name) {
  if (!shotsDir) return;
  const shot = await page('Page.captureScreenshot', { format: 'png' });
  fs.writeFileSync(path.join(shotsDir, `${name}.png`), Buffer.from(shot.data, 'base64'));
}
const state = (evaluate) => evaluate(`JSON.parse(Module.ccall('web_state', 'string'))`);
const shown = (id) => `!document.getElementById('${id}').hidden`;

// The song time of position P row R: when the native capture first showed it.
const timeline = fs.readFileSync(timelineFile, 'utf8').trim().split('\n').slice(1).map((l) => {
  const [frame, ms, position, row, , scene] = l.split(',');
  return { frame: +frame, ms: +ms, position: +position, row: +row, scene };
});
const songMs = (p, r) => timeline.find((f) => f.position === p && f.row === r)?.ms;

// One part of the test: a failure ends that part, the others still run.
async function part(title, b, body) {
  console.log(`-- ${title}`);
  const begin = Date.now();
  try {
    await body();
  } catch (error) {
    check(false, error.message);
    console.log(b.log.slice(-2000));
  }
  console.log(`   (${((Date.now() - begin) / 1000).toFixed(1)} s)`);
}
const ready = `document.getElementById('start')?.classList.contains('ready')`;

const browser = launch();
await part('the show', browser, async () => {
  const { page, evaluate, waitFor, click, close, consoleErrors } = await openPage(browser);
  await page('Page.navigate', { url });
  await waitFor(ready, 'the start screen', 30000);
  check(true, 'the start screen is shown once the page has loaded');
  await screenshot(page, 'web-start');

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
  await click(W / 2, H / 2);
  await waitFor(`frameLog.length > 0`, 'the first frame after the click', 10000);
  check(await evaluate(`getComputedStyle(document.getElementById('start')).display === 'none'`), 'the click starts the show');
  await waitFor(`snaps.length === ${wanted.length}`, 'the first three song positions', 90000);
  await screenshot(page, 'web-page');
  const log = await evaluate('frameLog');
  const snaps = await evaluate('snaps');
  const levels = await evaluate('clearInterval(levelTimer), levels');
  const starts = await evaluate(`[0, 1, 2].map((p) => Module.ccall('web_position_start', 'number', ['number'], [p]))`);

  // ------------------------------------------------------------ the picture
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
  await browser.send('Browser.setDownloadBehavior', { behavior: 'allow', downloadPath: downloads });
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
  check(!await evaluate(shown('nosound')) && !await evaluate(shown('again')), 'no "no sound" note and no "play again" button during the show');
  await close();
});

// The page's clock, which the intro's tick and song clocks read, made to run
// RATE times as fast (window.pageClock.rate) without ever going back.
const pageClock = `(() => {
  const real = performance.now.bind(performance);
  let from = real(), base = from, rate = 1;
  const read = () => base + (real() - from) * rate;
  window.pageClock = { get rate() { return rate; }, set rate(r) { base = read(); from = real(); rate = r; } };
  performance.now = read;
})();`;

// Samples the show twice, SECONDS apart: the song position must move as far
// as in the native capture, and the tick clock at its rate, or where the
// frames come slower (a busy machine) or the ticks are behind, by a tick a
// frame.
async function keepsTime(evaluate, seconds, what) {
  const sample = () => evaluate(`({ s: JSON.parse(Module.ccall('web_state', 'string')), t: performance.now(), frames: window.frameCount })`);
  const a = await sample();
  await sleep(seconds * 1000);
  const z = await sample();
  const wall = (z.t - a.t) / 1000, tics = z.s.tics - a.s.tics, frames = z.frames - a.frames;
  const song = (songMs(z.s.track, z.s.row) - songMs(a.s.track, a.s.row)) / 1000;
  check(z.s.audio === 0 && tics >= 0.9 * Math.min(wall / TICK_S, frames) && Math.abs(song - wall) <= 0.3,
    `${what}: the show goes on in time on the silent clock (${tics} ticks in ${frames} frames; ` +
    `from position ${a.s.track} row ${a.s.row} to ${z.s.track} row ${z.s.row}, ${song.toFixed(2)} s of song in ${wall.toFixed(2)} s)`);
}

// Clicks the start screen with the given click, and checks that the "no
// sound" note comes a second after the show's first frame (where the output
// starts to watch the audio context). The program's start-up (its pictures
// and song loaded) comes between the click and that frame: half a second
// on an idle machine, seconds on a busy one.
async function noSoundNote(evaluate, clickStart, what) {
  await evaluate(`(() => {
    new MutationObserver(() => { if (!window.noteAt && ${shown('nosound')}) window.noteAt = performance.now(); })
      .observe(document.getElementById('nosound'), { attributes: true });
    window.frameCount = 0;
    Module.onframe = () => { window.firstFrameAt = window.firstFrameAt || performance.now(); frameCount++; };
    return true; })()`);
  const clickAt = await evaluate('performance.now()');
  await clickStart();
  await evaluate(`new Promise((resolve) => { const until = performance.now() + 5000;
    (function wait() { window.noteAt || performance.now() > until ? resolve() : setTimeout(wait, 20); })(); })`);
  const { noteAt, firstFrameAt, audio } = await evaluate(`({ noteAt: window.noteAt, firstFrameAt, audio: Module.audio.state })`);
  check(noteAt && noteAt - firstFrameAt <= 1100,
    `${what}: the "no sound" note shows ${noteAt ? `${(noteAt - clickAt).toFixed(0)} ms after the click, ` +
    `${(noteAt - firstFrameAt).toFixed(0)} ms after the first frame` : 'not within 5 s'} (the audio context is ${audio})`);
}

await part('no sound: the browser keeps the audio context suspended; then the end and "play again"', browser, async () => {
  const { page, evaluate, waitFor, click, close } = await openPage(browser, pageClock);
  await page('Page.navigate', { url });
  await waitFor(ready, 'the start screen', 30000);
  // A click no user made (a script's): the autoplay policy leaves the audio
  // context suspended, as some browsers do without a sound device.
  await noSoundNote(evaluate, () => evaluate(`document.getElementById('start').click(), true`), 'a suspended audio context');
  await sleep(500);
  await screenshot(page, 'web-no-sound');
  await keepsTime(evaluate, 3, 'a suspended audio context');

  // The song's end, 20 times as fast: the page offers to play again, and
  // the show stays on its last picture until it is clicked.
  await evaluate('pageClock.rate = 20');
  await waitFor(shown('again'), 'the "play again" button at the end of the song', 30000);
  await evaluate('pageClock.rate = 1');
  const ended = await state(evaluate);
  check(ended.track > 2, `the song's end (position ${ended.track}, "${ended.scene}") shows the "play again" button`);
  await sleep(300);
  check(await evaluate(shown('again')), 'the button stays until it is clicked');
  await screenshot(page, 'web-end');
  const r = await evaluate(`document.getElementById('again').getBoundingClientRect().toJSON()`);
  await click(r.x + r.width / 2, r.y + r.height / 2);
  await waitFor(`(() => { const s = JSON.parse(Module.ccall('web_state', 'string'));
    return s.track === 0 && s.row >= 8 && s.scene === 'hello'; })()`, 'the show from the top after "play again"', 10000);
  check(!await evaluate(shown('again')), 'a click on "play again" hides the button and plays the show from the top, from "hello"');
  await keepsTime(evaluate, 2, 'played again');
  await close();
});

await part('no sound: the audio context runs but its time stands still', browser, async () => {
  const stillClock = `Object.defineProperty(BaseAudioContext.prototype, 'currentTime', { get() { return 0; } });`;
  const { page, evaluate, waitFor, click, close } = await openPage(browser, stillClock);
  await page('Page.navigate', { url });
  await waitFor(ready, 'the start screen', 30000);
  await noSoundNote(evaluate, () => click(W / 2, H / 2), 'an audio clock that stands still');
  await sleep(500);
  await keepsTime(evaluate, 2, 'an audio clock that stands still');
  await close();
});

// The program's own canvas gets no WebGL context, although a test canvas
// did: the program's sentence stays on the page, not a thrown object.
await part('the program cannot make its WebGL context', browser, async () => {
  const noContext = `(() => { const get = HTMLCanvasElement.prototype.getContext;
    HTMLCanvasElement.prototype.getContext = function (...a) { return this.id === 'canvas' ? null : get.apply(this, a); }; })();`;
  const { page, evaluate, waitFor, click, close } = await openPage(browser, noContext);
  await page('Page.navigate', { url });
  await waitFor(ready, 'the start screen', 30000);
  await click(W / 2, H / 2);
  await waitFor(`document.getElementById('start').classList.contains('stopped')`, 'the page to say the intro stopped', 5000);
  const text = await evaluate(`document.getElementById('message').textContent`);
  check(/WebGL/.test(text) && !/object Object/.test(text), `the page says "${text}"`);
  await screenshot(page, 'web-no-context');
  await close();
});

// A browser that gives the page no WebGL hears so before any click.
const noWebGL = launch(['--disable-webgl']);
await part('a browser without WebGL', noWebGL, async () => {
  const { page, evaluate, waitFor, click } = await openPage(noWebGL);
  await page('Page.navigate', { url });
  await waitFor(`/WebGL/.test(document.getElementById('message')?.textContent)`, 'the page to say there is no WebGL', 10000);
  await screenshot(page, 'web-no-webgl');
  await click(W / 2, H / 2);
  await sleep(500);
  const text = await evaluate(`document.getElementById('message').textContent`);
  const offered = await evaluate(`${ready} || /click/.test(document.body.innerText)`);
  const started = await evaluate(`getComputedStyle(document.getElementById('start')).display === 'none'`);
  check(/no WebGL/.test(text) && /hardware acceleration/.test(text) && !offered && !started,
    `before any click the page says "${text}", and offers no click to start`);
});

clearTimeout(deadline);
console.log(failures.length ? `${failures.length} check(s) failed` : 'all checks passed');
finish(failures.length ? 1 : 0);
