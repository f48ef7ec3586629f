// The web build in real browsers: serves build-web/site, drives Debian's
// Chromium and Firefox ESR (through puppeteer-core: DevTools for Chromium,
// WebDriver BiDi for Firefox), clicks the start screen and watches the
// show. In both browsers it checks that
//  - the canvas shows the first scenes as the native renderer draws them at
//    the same song position and row (invitro-capture's PNG frames),
//  - each scene change comes on the first tick after the position is heard,
//  - Web Audio played sound, and the heard position trails the mixer,
//  - the console shows no errors;
//  - the scene editor (?edit=knock2) opens, takes an edit and downloads
//    both files of the scene in one zip on Ctrl+S;
// then, in more tabs and a second browser, that
//  - an audio context that stays suspended, or whose time stands still,
//    gives the "no sound" note a second after the show starts, and the show
//    goes on in time; at the song's end (reached on a page clock running 20
//    times as fast) the "play again" button plays the show from the top,
//  - a failure of the program shows its own sentence,
//  - a browser without WebGL says so before any click and offers none;
// and, in Chromium's mobile emulation, that a phone-sized visitor's tap
// starts the show, letterboxed in portrait and landscape, with nothing
// that scrolls or zooms by accident and a start text that fits.
// puppeteer-core (pinned) is installed into web/test/node_modules by npm on
// the first run. CHROMIUM and FIREFOX name other browser programs.
// Usage: node web/test/browser_test.mjs SITE_DIR NATIVE_FRAMES_DIR TIMELINE_CSV [--shots DIR]
// --shots DIR keeps the pictures: the start screen, the whole page at the
// end of the first part and in the editor, the page without sound, at the
// song's end and without WebGL (screenshots, per browser), the canvas at
// each compared row, and the phone's screens.
import { spawn } from 'node:child_process';
import fs from 'node:fs';
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
const { puppeteer, serveSite, chromiumFlags: flags, chromiumPath } = await import('./harness.mjs');

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

const { server, url } = await serveSite(site);

// ---------------------------------------------------------------- browsers, through puppeteer-core

const sleep = (ms) => new Promise((r) => setTimeout(r, ms));
const chromiumFlags = flags(W, H);
// Firefox on a fresh profile, kept off the network: every connection that
// is not to this machine goes to a proxy that is not there, and the
// browser's own services (updates, telemetry, safe browsing, captive
// portal and connectivity probes) are off. Sound starts only from a
// user's gesture, as in Chromium; downloads go to DIR without a question.
const firefoxPrefs = (dir) => ({
  'network.proxy.type': 1, 'network.proxy.share_proxy_settings': true, 'network.proxy.no_proxies_on': '127.0.0.1',
  'network.proxy.http': '127.0.0.1', 'network.proxy.http_port': 9, 'network.proxy.ssl': '127.0.0.1',
  'network.proxy.ssl_port': 9, 'network.proxy.socks': '127.0.0.1', 'network.proxy.socks_port': 9,
  'network.dns.disablePrefetch': true, 'network.prefetch-next': false, 'network.predictor.enabled': false,
  'network.connectivity-service.enabled': false, 'network.captive-portal-service.enabled': false,
  'app.update.auto': false, 'app.update.enabled': false, 'extensions.update.enabled': false,
  'browser.search.update': false, 'browser.safebrowsing.malware.enabled': false,
  'browser.safebrowsing.phishing.enabled': false, 'browser.safebrowsing.downloads.enabled': false,
  'datareporting.policy.dataSubmissionEnabled': false, 'datareporting.healthreport.uploadEnabled': false,
  'toolkit.telemetry.enabled': false, 'services.settings.server': 'http://127.0.0.1:9/',
  'media.autoplay.default': 1, 'media.autoplay.block-webaudio': true,
  'webgl.force-enabled': true,
  'browser.download.folderList': 2, 'browser.download.dir': dir, 'browser.download.useDownloadDir': true,
  'browser.download.always_ask_before_handling_new_types': false, 'browser.download.alwaysOpenPanel': false,
  'browser.download.start_downloads_in_tmp_dir': false,
  'browser.helperApps.neverAsk.saveToDisk': 'application/octet-stream',
});
// Headless Firefox draws WebGL only with an X display to hand (Mesa's
// software renderer through it): one of our own, when there is none.
let xDisplay = process.env.DISPLAY, xServer = null;
async function xDisplayForFirefox() {
  if (xDisplay) return xDisplay;
  const n = [...Array(30).keys()].map((i) => 90 + i).find((i) => !fs.existsSync(`/tmp/.X11-unix/X${i}`) && !fs.existsSync(`/tmp/.X${i}-lock`));
  xServer = spawn('Xvfb', [`:${n}`, '-screen', '0', '1280x720x24', '-nolisten', 'tcp'], { stdio: 'ignore' });
  xServer.on('error', (e) => console.log(`(Xvfb: ${e.message})`));
  for (let i = 0; i < 100 && !fs.existsSync(`/tmp/.X11-unix/X${n}`); i++) await sleep(100);
  xDisplay = `:${n}`;
  return xDisplay;
}
const browsers = [];
// Browser KIND ('chromium' or 'firefox') on a fresh profile; without WebGL
// if asked.
async function launch(kind, { webgl = true } = {}) {
  const profile = fs.mkdtempSync(path.join(os.tmpdir(), `invitro-${kind}-`));
  const downloads = fs.mkdtempSync(path.join(os.tmpdir(), 'invitro-downloads-'));
  const b = { kind, profile, downloads, browser: null, log: '' };
  browsers.push(b);
  const common = { headless: true, userDataDir: profile, defaultViewport: { width: W, height: H }, protocolTimeout: 60000 };
  b.browser = await puppeteer.launch(kind === 'chromium'
    ? { ...common, executablePath: chromiumPath, pipe: true,
        args: [...chromiumFlags, ...(webgl ? [] : ['--disable-webgl'])] }
    : { ...common, browser: 'firefox', protocol: 'webDriverBiDi', executablePath: process.env.FIREFOX || '/usr/bin/firefox-esr',
        env: { ...process.env, DISPLAY: await xDisplayForFirefox() },
        extraPrefsFirefox: { ...firefoxPrefs(downloads), ...(webgl ? {} : { 'webgl.disabled': true }) } });
  const stderr = b.browser.process()?.stderr;
  if (stderr) stderr.on('data', (d) => { b.log = (b.log + d).slice(-4000); });
  if (kind === 'chromium') {
    const session = await b.browser.target().createCDPSession();
    await session.send('Browser.setDownloadBehavior', { behavior: 'allow', downloadPath: downloads });
  }
  return b;
}
// Ends browser B (killed if it does not end in 10 s) and removes its folders.
async function quit(b) {
  if (b.browser) {
    const child = b.browser.process();
    await Promise.race([b.browser.close().catch(() => {}), sleep(10000)]);
    if (child && child.exitCode === null && child.signalCode === null) child.kill('SIGKILL');
    b.browser = null;
  }
  for (const dir of [b.profile, b.downloads]) {
    try {
      fs.rmSync(dir, { recursive: true, force: true, maxRetries: 5, retryDelay: 200 });
    } catch (error) {
      console.log(`(the folder ${dir} stays: ${error.message})`);
    }
  }
}
let finished = false;
async function finish(code) {
  if (finished) return;
  finished = true;
  server.close();
  for (const b of browsers) await quit(b);
  if (xServer) xServer.kill();
  process.exit(code);
}
const deadline = setTimeout(() => {
  console.log('FAIL the browser test took too long');
  for (const b of browsers) console.log(b.log.slice(-2000));
  finish(1);
}, 480000);

// A new tab of browser B (W x H, or VIEWPORT), with the page's console
// errors collected; SCRIPT (if any) runs in the page before its own scripts.
async function openPage(b, script, viewport = { width: W, height: H }) {
  const page = await b.browser.newPage();
  const consoleErrors = [];
  page.on('console', (m) => { if (m.type() === 'error' || m.type() === 'assert') consoleErrors.push(m.text()); });
  page.on('pageerror', (e) => consoleErrors.push(e?.message || String(e)));
  await page.setViewport(viewport);
  if (script) await page.evaluateOnNewDocument(script);
  const evaluate = (expression) => page.evaluate(expression);
  const waitFor = async (expression, what, ms) => {
    for (const until = Date.now() + ms; Date.now() < until; await sleep(50)) if (await evaluate(expression)) return true;
    const status = await evaluate(`document.getElementById('message')?.textContent`);
    const show = await evaluate(`window.Module && Module._web_state ? Module.ccall('web_state', 'string') : 'not loaded'`);
    throw new Error(`timed out waiting for ${what} (the page says "${status}", the show ${show}; console: ${consoleErrors.join(' | ')})`);
  };
  // A real click (a user gesture) at a point of the page.
  const click = (x, y) => page.mouse.click(x, y);
  const close = () => page.close();
  return { page, evaluate, waitFor, click, close, consoleErrors };
}
// With --shots, a screenshot of the page as NAME.png.
async function screenshot(page, name) {
  if (shotsDir) await page.screenshot({ path: path.join(shotsDir, `${name}.png`) });
}
const state = (evaluate) => evaluate(`JSON.parse(Module.ccall('web_state', 'string'))`);
const shown = (id) => `!document.getElementById('${id}').hidden`;

// The song time of position P row R: when the native capture first showed it.
const timeline = fs.readFileSync(timelineFile, 'utf8').trim().split('\n').slice(1).map((l) => {
  const [frame, ms, position, row, , scene] = l.split(',');
  return { frame: +frame, ms: +ms, position: +position, row: +row, scene };
});
const songMs = (p, r) => timeline.find((f) => f.position === p && f.row === r)?.ms;
timeline.forEach((f, i) => { f.settled = i > 0 && timeline[i - 1].position === f.position && timeline[i - 1].row === f.row; });
const nativeBlocks = new Map();
const nativeFrame = (n) => {
  if (!nativeBlocks.has(n)) nativeBlocks.set(n, blocks(readPng(path.join(nativeDir, `frame-${String(n).padStart(6, '0')}.png`))));
  return nativeBlocks.get(n);
};

// One part of the test: a failure ends that part, the others still run.
async function part(title, b, body) {
  console.log(`-- ${b.kind}: ${title}`);
  const begin = Date.now();
  try {
    await body();
  } catch (error) {
    check(false, `${b.kind}: ${error.message}`);
    console.log(b.log.slice(-2000));
  }
  console.log(`   (${((Date.now() - begin) / 1000).toFixed(1)} s)`);
}
const ready = `document.getElementById('start')?.classList.contains('ready')`;

// The show as a visitor clicks it: the pictures against the native
// renderer's, the timing of the scene changes, the sound and the window.
// Chromium plays its sound to a device of its own when headless; Firefox
// needs the machine's (none on a CI machine): without one, the "no sound"
// note must show and the show go on in time on the silent clock.
async function theShow(b) {
  const { page, evaluate, waitFor, click, close, consoleErrors } = await openPage(b);
  const name = (text) => `${b.kind}: ${text}`;
  await page.goto(url);
  await waitFor(ready, 'the start screen', 30000);
  check(true, name('the start screen is shown once the page has loaded'));
  await screenshot(page, `web-${b.kind}-start`);

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
  check(await evaluate(`getComputedStyle(document.getElementById('start')).display === 'none'`), name('the click starts the show'));
  await sleep(1500);
  const sound = b.kind === 'chromium' || await evaluate(`Module.audio.state === 'running' && !(${shown('nosound')})`);
  if (!sound) {
    check(await evaluate(shown('nosound')), name(`without a sound device (the audio context is ${await evaluate('Module.audio.state')}) the "no sound" note shows`));
    await evaluate(`window.frameCount = 0; const f = Module.onframe; Module.onframe = () => { frameCount++; f(); }; true`);
    await keepsTime(evaluate, 2, name('no sound device'));
  }
  await waitFor(`snaps.length === ${wanted.length}`, 'the first three song positions', 90000);
  await screenshot(page, `web-${b.kind}-page`);
  const log = await evaluate('frameLog');
  const snaps = await evaluate('snaps');
  const levels = await evaluate('clearInterval(levelTimer), levels');
  const starts = await evaluate(`[0, 1, 2].map((p) => Module.ccall('web_position_start', 'number', ['number'], [p]))`);

  // ------------------------------------------------------------ the picture
  for (const snap of snaps) {
    const { track, row, scene } = snap.state;
    const raw = Buffer.from(snap.pixels, 'base64'), rgba = Buffer.alloc(raw.length);
    for (let y = 0; y < H; y++) raw.copy(rgba, y * W * 4, (H - 1 - y) * W * 4, (H - y) * W * 4);  // GL rows are bottom-up
    const image = { width: W, height: H, rgba };
    if (shotsDir) writePng(path.join(shotsDir, `web-${b.kind}-${scene}-${track}-${row}.png`), image);
    const web = blocks(image);
    const same = timeline.filter((f) => f.position === track && f.row === row && f.settled);
    const other = timeline.filter((f) => f.scene !== scene && f.scene && f.frame % 30 === 0);
    check(same.length > 0 && same.every((f) => f.scene === scene), name(`position ${track} row ${row}: the native renderer shows "${scene}" there too`));
    if (!same.length || !other.length) continue;
    const near = Math.min(...same.map((f) => distance(web, nativeFrame(f.frame))));
    const far = Math.min(...other.map((f) => distance(web, nativeFrame(f.frame))));
    check(near < 10 && near * 3 < far,
      name(`"${scene}" at position ${track} row ${row} looks like the native frame (block difference ${near.toFixed(2)}; nearest other scene ${far.toFixed(2)})`));
  }

  // ------------------------------------------------------------ the timing
  // With sound, the director reads the song clock on its next tick, so a scene comes on
  // the first frame with a tick after the frame that heard its position:
  // never before the position is heard, and at most a tick and two frames
  // (as long as the browser took for them) after.
  for (const [position, scene] of sound ? [[1, 'fade'], [2, 'zuzu']] : []) {
    const heardAt = log.findIndex((s) => s.track >= position);
    const shownAt = log.findIndex((s) => s.scene === scene);
    const firstTick = log.findIndex((s, i) => i > heardAt && s.tics > log[i - 1].tics);
    const start = starts[position];
    check(heardAt > 0 && shownAt === firstTick && start > 0 && log[heardAt - 1].heard < start,
      name(`"${scene}" comes on the first tick after position ${position} is heard (frame ${shownAt}, heard in frame ${heardAt})`));
    if (heardAt <= 0 || shownAt <= heardAt || !(start > 0)) continue;
    const late = (log[shownAt].heard - start) / log[shownAt].rate;
    const frame = Math.max(...log.slice(heardAt - 1, shownAt + 1).map((s, i, a) => i ? s.t - a[i - 1].t : 0)) / 1000;
    check(late >= 0 && late <= TICK_S + 2 * frame,
      name(`"${scene}" shows ${(late * 1000).toFixed(1)} ms after position ${position} is heard (a tick is ${TICK_S * 1000} ms, the longest frame there ${(frame * 1000).toFixed(1)} ms)`));
  }
  const lead = log.slice(-20).map((s) => (s.mixed - s.heard) / s.rate);
  if (sound) check(lead.every((s) => s > 0.05 && s < 1), name(`the heard position trails the mixer by ${Math.min(...lead).toFixed(3)}..${Math.max(...lead).toFixed(3)} s`));

  // ------------------------------------------------------------ the window
  // A wider window: the canvas follows it and the engine letterboxes its
  // 640 x 360 into the middle. Then F asks for full screen.
  await page.setViewport({ width: 800, height: H });
  await waitFor(`(() => { const s = JSON.parse(Module.ccall('web_state', 'string'));
    return s.screen[0] === 800 && s.screen[1] === ${H} && s.left === 80 && Module.canvas.width === 800; })()`,
    'the canvas to follow the window', 5000).then(() => check(true, name('a wider window gets a wider canvas, the picture letterboxed in its middle')),
    (e) => check(false, name(e.message)));
  await page.keyboard.press('f');
  await waitFor(`document.fullscreenElement?.id === 'stage'`, 'full screen after F', 5000)
    .then(() => check(true, name('F puts the intro full screen')), (e) => check(false, name(e.message)));

  // ------------------------------------------------------------ the sound
  if (sound) {
    check(log.every((s) => s.audio === 1), name('the music plays through Web Audio'));
    check(Math.max(...levels) > 0.01, name(`Web Audio output has sound (loudest RMS ${Math.max(...levels).toFixed(3)})`));
  }
  check(consoleErrors.length === 0, name(`no console errors${consoleErrors.length ? ': ' + consoleErrors.join(' | ') : ''}`));
  check(await evaluate(shown('nosound')) === !sound && !await evaluate(shown('again')),
    name(`${sound ? 'no' : 'only the'} "no sound" note and no "play again" button during the show`));
  await close();
}

// The files of a zip archive whose entries are stored (not compressed), as
// the editor's page writes them: name -> bytes.
function storedEntries(archive) {
  const files = {};
  for (let at = 0; at + 30 <= archive.length && archive.readUInt32LE(at) === 0x04034b50;) {
    const size = archive.readUInt32LE(at + 18), nameLength = archive.readUInt16LE(at + 26);
    const start = at + 30 + nameLength + archive.readUInt16LE(at + 28);
    files[archive.toString('utf8', at + 30, at + 30 + nameLength)] = archive.subarray(start, start + size);
    at = start + size;
  }
  return files;
}

// The scene editor: ?edit=knock2 opens the editor on the scene; one edit by
// the keyboard (the first box ten units right), then Ctrl+S offers one
// download holding both files. (Chromium's save into a folder, through the
// File System Access API, is editor_page_test.mjs's; here the page is shown
// without it, as Firefox is.)
async function theEditor(b) {
  const noFolders = () => Object.defineProperty(window, 'showDirectoryPicker', { value: undefined, configurable: true });
  const { page, evaluate, waitFor, click, close, consoleErrors } = await openPage(b, noFolders);
  const name = (text) => `${b.kind}: ${text}`;
  await page.goto(url + '?edit=knock2');
  await waitFor(`document.getElementById('start')?.classList.contains('ready') && typeof Module.onSaved === 'function'`,
    'the editor\'s start screen', 30000);
  await click(W / 2, H / 2);
  const fields = `document.getElementById('fields').textContent`;
  await waitFor(`${fields}.startsWith('knock2 - 16 boxes')`, 'the editor\'s panel', 10000)
    .then(() => check(true, name('the editor opens knock2 with its 16 boxes')), (e) => check(false, name(e.message)));
  const press = async (key, modifier) => {
    if (modifier) await page.keyboard.down(modifier);
    await page.keyboard.press(key);
    if (modifier) await page.keyboard.up(modifier);
    await sleep(100);
  };
  await press('Tab');
  await press('ArrowRight', 'Shift');
  await waitFor(`${fields}.includes('box 1/16 "doorpanel.png" x 80 y 110')`, 'the edit in the panel', 5000)
    .then(() => check(true, name('Tab and Shift+Right move the first box, and the panel shows it')), (e) => check(false, name(e.message)));
  await screenshot(page, `web-${b.kind}-editor`);
  await press('s', 'Control');
  const zip = path.join(b.downloads, 'knock2.zip');
  for (const until = Date.now() + 10000; Date.now() < until && !fs.existsSync(zip); ) await sleep(100);
  await sleep(300);  // a download is complete once its name is there; give it its last write
  const committed = fs.readFileSync(new URL('../../data/knock2.dat', import.meta.url));
  const files = fs.existsSync(zip) ? storedEntries(fs.readFileSync(zip)) : {};
  const dat = files['data/knock2.dat'], txt = files['assets/scenes/knock2.txt']?.toString('utf8');
  if (dat && txt !== undefined) {
    check(dat.length === committed.length && !dat.equals(committed) && dat.readInt32LE(34) === committed.readInt32LE(34) + 10,
      name('Ctrl+S offers knock2.zip, whose data/knock2.dat has the box moved'));
    check(txt.includes('\nbox 80 110 4 0 0 0 0 0 80 110 4 0\n') && txt.startsWith('# "knock"'),
      name('and whose knock2.txt has the new line under the old comments'));
    check((await evaluate(fields)).startsWith('knock2*'), name('an offered download is not called saved'));
  } else {
    check(false, name(`Ctrl+S offers knock2.zip with both files (found: ${fs.readdirSync(b.downloads).join(', ') || 'nothing'}; ` +
      `in it: ${Object.keys(files).join(', ') || 'nothing'})`));
  }
  check(consoleErrors.length === 0, name(`no console errors in the editor${consoleErrors.length ? ': ' + consoleErrors.join(' | ') : ''}`));
  await close();
}

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

// An audio context that nothing starts: it stays suspended, as some
// browsers leave it without a sound device. (Chromium would start it on a
// user's gesture by itself, and every script the test runs in the page
// counts as one.)
const staysSuspended = `(() => { const Real = window.AudioContext;
  window.AudioContext = class extends Real {
    constructor(...a) {
      super(...a);
      this.resume = () => new Promise(() => {});
      this.addEventListener('statechange', () => { if (this.state === 'running') Real.prototype.suspend.call(this); });
    }
  }; })();`;

async function suspendedThenEnd(b) {
  const { page, evaluate, waitFor, click, close } = await openPage(b, pageClock + staysSuspended);
  const name = (text) => `${b.kind}: ${text}`;
  await page.goto(url);
  await waitFor(ready, 'the start screen', 30000);
  await noSoundNote(evaluate, () => click(W / 2, H / 2), name('a suspended audio context'));
  await sleep(500);
  await screenshot(page, `web-${b.kind}-no-sound`);
  await keepsTime(evaluate, 3, name('a suspended audio context'));

  // The song's end, 20 times as fast: the page offers to play again, and
  // the show stays on its last picture until it is clicked.
  await evaluate('pageClock.rate = 20');
  await waitFor(shown('again'), 'the "play again" button at the end of the song', 30000);
  await evaluate('pageClock.rate = 1');
  const ended = await state(evaluate);
  check(ended.track > 2, name(`the song's end (position ${ended.track}, "${ended.scene}") shows the "play again" button`));
  await sleep(300);
  check(await evaluate(shown('again')), name('the button stays until it is clicked'));
  await screenshot(page, `web-${b.kind}-end`);
  const r = await evaluate(`document.getElementById('again').getBoundingClientRect().toJSON()`);
  await click(r.x + r.width / 2, r.y + r.height / 2);
  await waitFor(`(() => { const s = JSON.parse(Module.ccall('web_state', 'string'));
    return s.track === 0 && s.row >= 8 && s.scene === 'hello'; })()`, 'the show from the top after "play again"', 10000);
  check(!await evaluate(shown('again')), name('a click on "play again" hides the button and plays the show from the top, from "hello"'));
  await keepsTime(evaluate, 2, name('played again'));
  await close();
}

async function stillAudioClock(b) {
  const stillClock = `Object.defineProperty(BaseAudioContext.prototype, 'currentTime', { get() { return 0; } });`;
  const { page, evaluate, waitFor, click, close } = await openPage(b, stillClock);
  await page.goto(url);
  await waitFor(ready, 'the start screen', 30000);
  await noSoundNote(evaluate, () => click(W / 2, H / 2), `${b.kind}: an audio clock that stands still`);
  await sleep(500);
  await keepsTime(evaluate, 2, `${b.kind}: an audio clock that stands still`);
  await close();
}

// The program's own canvas gets no WebGL context, although a test canvas
// did: the program's sentence stays on the page, not a thrown object.
async function noContext(b) {
  const script = `(() => { const get = HTMLCanvasElement.prototype.getContext;
    HTMLCanvasElement.prototype.getContext = function (...a) { return this.id === 'canvas' ? null : get.apply(this, a); }; })();`;
  const { page, evaluate, waitFor, click, close } = await openPage(b, script);
  await page.goto(url);
  await waitFor(ready, 'the start screen', 30000);
  await click(W / 2, H / 2);
  await waitFor(`document.getElementById('start').classList.contains('stopped')`, 'the page to say the intro stopped', 5000);
  const text = await evaluate(`document.getElementById('message').textContent`);
  check(/WebGL/.test(text) && !/object Object/.test(text), `${b.kind}: the page says "${text}"`);
  await screenshot(page, `web-${b.kind}-no-context`);
  await close();
}

// A browser that gives the page no WebGL says so before any click.
async function noWebGL(b) {
  const { page, evaluate, waitFor, click } = await openPage(b);
  await page.goto(url);
  await waitFor(`/WebGL/.test(document.getElementById('message')?.textContent)`, 'the page to say there is no WebGL', 10000);
  await screenshot(page, `web-${b.kind}-no-webgl`);
  await click(W / 2, H / 2);
  await sleep(500);
  const text = await evaluate(`document.getElementById('message').textContent`);
  const offered = await evaluate(`${ready} || /click/.test(document.body.innerText)`);
  const started = await evaluate(`getComputedStyle(document.getElementById('start')).display === 'none'`);
  check(/no WebGL/.test(text) && /hardware acceleration/.test(text) && !offered && !started,
    `${b.kind}: before any click the page says "${text}", and offers no click to start`);
}

// A phone-sized visitor (Chromium's mobile emulation, a 390 x 844 touch
// screen at three device pixels to the CSS pixel): the start text fits and
// asks for a tap, nothing can scroll or zoom, a tap starts the show, and the
// picture is letterboxed across a portrait screen and beside a landscape
// one. (Headless Chromium does not act on synthetic pinches and swipes, so
// what the page tells the browser is read instead.)
async function phone(b) {
  const portrait = { width: 390, height: 844, deviceScaleFactor: 3, isMobile: true, hasTouch: true, isLandscape: false };
  const landscape = { ...portrait, width: 844, height: 390, isLandscape: true };
  const { page, evaluate, waitFor, close, consoleErrors } = await openPage(b, null, portrait);
  const name = (text) => `chromium, 390 x 844 touch screen: ${text}`;
  await page.goto(url);
  await waitFor(ready, 'the start screen', 30000);
  await screenshot(page, 'web-phone-start');
  // The start screen's sprites and text inside the screen, the text on
  // lines of its own width.
  const misfits = async () => (await evaluate(`['logo', 'knock', 'message'].filter((id) => {
    const e = document.getElementById(id), r = e.getBoundingClientRect();
    return !(r.left >= 0 && r.top >= 0 && r.right <= innerWidth && r.bottom <= innerHeight) || e.scrollWidth > e.clientWidth;
  })`)).join(', ');
  const text = await evaluate(`document.getElementById('message').textContent`);
  const portraitMisfits = await misfits();
  await page.setViewport(landscape);
  await sleep(200);
  const landscapeMisfits = await misfits();
  await page.setViewport(portrait);
  check(!portraitMisfits && !landscapeMisfits && text === 'tap to start',
    name(`the start screen fits in portrait and landscape (${portraitMisfits || landscapeMisfits || 'logo, knock and text inside'}) and says "${text}"`));

  // Nothing to scroll, no zoom: the viewport is the screen at scale 1 and
  // stays so, the page no bigger than it, and every point a finger may
  // touch leaves its panning and pinching to the page.
  const still = async (where) => {
    const v = await evaluate(`(() => {
      const meta = document.querySelector('meta[name=viewport]').content.replace(/ /g, '').split(',');
      const root = document.scrollingElement;
      const free = [];
      for (let y = 5; y < innerHeight; y += innerHeight / 8)
        for (let x = 5; x < innerWidth; x += innerWidth / 4)
          for (let e = document.elementFromPoint(x, y), top = e; ; e = e.parentElement) {
            if (!e) { free.push(top.id || top.tagName); break; }
            if (getComputedStyle(e).touchAction === 'none') break;
          }
      return { scale: visualViewport.scale, fixed: meta.includes('user-scalable=no') && meta.includes('maximum-scale=1'),
               scroll: [root.scrollWidth - innerWidth, root.scrollHeight - innerHeight], free: [...new Set(free)] };
    })()`);
    check(v.scale === 1 && v.fixed && v.scroll[0] <= 0 && v.scroll[1] <= 0 && !v.free.length,
      name(`${where}: nothing scrolls or zooms (scale ${v.scale}, zoom ${v.fixed ? 'off' : 'on'}, ` +
        `page ${v.scroll.map((d) => d > 0 ? `${d} px too big` : 'fits').join(' and ')}, ` +
        `${v.free.length ? 'touch panning left to the browser on ' + v.free.join(', ') : 'every touch the page\'s'})`));
  };
  await still('the start screen');
  await evaluate(`window.frameCount = 0; Module.onframe = () => { frameCount++; }; true`);
  await page.touchscreen.tap(195, 422);
  await waitFor(`frameCount > 10`, 'the show after a tap', 10000);
  check(await evaluate(`getComputedStyle(document.getElementById('start')).display === 'none'`), name('a tap starts the show'));
  await still('the show');

  // The letterbox: the picture's 16:9 across the middle of a portrait
  // screen (bars above and below) and in the middle of a landscape one
  // (bars left and right), the whole screen in device pixels.
  for (const [viewport, what] of [[portrait, 'portrait'], [landscape, 'landscape']]) {
    await page.setViewport(viewport);
    const w = viewport.width * 3, h = viewport.height * 3;
    const pw = Math.min(w, Math.round(h * 16 / 9)), ph = Math.min(h, Math.round(w * 9 / 16));
    await waitFor(`(() => { const s = JSON.parse(Module.ccall('web_state', 'string'));
      return s.screen[0] === ${w} && s.screen[1] === ${h} && Module.canvas.width === ${w}; })()`, `the ${what} canvas`, 5000);
    await sleep(300);
    const shot = path.join(b.profile, `phone-${what}.png`);
    await page.screenshot({ path: shot });
    if (shotsDir) fs.copyFileSync(shot, path.join(shotsDir, `web-phone-${what}.png`));
    const image = readPng(shot), s = await state(evaluate);
    // A bar is one colour all over; the picture between them is not.
    const spread = (x0, y0, x1, y1) => {
      let lo = 765, hi = 0;
      for (let y = y0; y < y1; y += 3)
        for (let x = x0; x < x1; x += 3) {
          const i = (y * image.width + x) * 4, v = image.rgba[i] + image.rgba[i + 1] + image.rgba[i + 2];
          lo = Math.min(lo, v); hi = Math.max(hi, v);
        }
      return hi - lo;
    };
    const gapX = (w - pw) / 2, gapY = (h - ph) / 2;
    const bars = what === 'portrait'
      ? [spread(0, 0, w, gapY - 2), spread(0, h - gapY + 2, w, h)]
      : [spread(0, 0, gapX - 2, h), spread(w - gapX + 2, 0, w, h)];
    const picture = spread(gapX + 2, gapY + 2, w - gapX - 2, h - gapY - 2);
    check(image.width === w && image.height === h && s.left === Math.round(gapX) && Math.max(...bars) <= 6 && picture > 60,
      name(`${what} (${w} x ${h} device pixels): the picture is ${pw} x ${ph} in the middle (left ${s.left}), ` +
        `the bars ${what === 'portrait' ? 'above and below' : 'left and right'} of one colour (spread ${bars.join(', ')}; picture ${picture})`));
  }
  check(consoleErrors.length === 0, name(`no console errors${consoleErrors.length ? ': ' + consoleErrors.join(' | ') : ''}`));
  await close();
}

// The show's checks in Chromium and in Firefox (WebDriver BiDi), each on a
// fresh profile; the editor where the browser can be told where downloads
// go; the phone in Chromium's mobile emulation.
// A browser that does not start fails its parts.
async function started(kind, options) {
  try {
    return await launch(kind, options);
  } catch (error) {
    check(false, `${kind} starts (${error.message.split('\n')[0]})`);
    return null;
  }
}
for (const kind of ['chromium', 'firefox']) {
  const b = await started(kind);
  if (b) {
    await part('the show', b, () => theShow(b));
    await part('the scene editor', b, () => theEditor(b));
    await part('no sound: the browser keeps the audio context suspended; then the end and "play again"', b, () => suspendedThenEnd(b));
    await part('no sound: the audio context runs but its time stands still', b, () => stillAudioClock(b));
    await part('the program cannot make its WebGL context', b, () => noContext(b));
    if (kind === 'chromium') await part('a phone-sized visitor', b, () => phone(b));
    await quit(b);
  }
  const bare = await started(kind, { webgl: false });
  if (bare) {
    await part('a browser without WebGL', bare, () => noWebGL(bare));
    await quit(bare);
  }
}

clearTimeout(deadline);
console.log(failures.length ? `${failures.length} check(s) failed` : 'all checks passed');
finish(failures.length ? 1 : 0);
