// The scene editor's page (?edit=knock2) in headless Chromium, through
// puppeteer-core. It checks that
//  - the panel stands below the picture, and a double click does not go
//    full screen,
//  - an unsaved edit makes leaving the page ask first,
//  - Save writes both files into the folder picked once (File System Access;
//    the picker gives the origin's private folder here) and only then says
//    saved,
//  - without File System Access, Save offers one download holding both files,
//    and a download the browser refuses never shows as saved.
// Usage: node web/test/editor_page_test.mjs SITE_DIR
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';

const { puppeteer, serveSite, chromiumFlags, chromiumPath } = await import('./harness.mjs');

const site = process.argv[2];
if (!site) {
  console.log('Usage: node web/test/editor_page_test.mjs SITE_DIR');
  process.exit(2);
}
const failures = [];
const check = (ok, text) => { console.log(`${ok ? 'ok  ' : 'FAIL'} ${text}`); if (!ok) failures.push(text); };

const { server, url: site_url } = await serveSite(site);
const url = `${site_url}?edit=knock2`;

const profile = fs.mkdtempSync(path.join(os.tmpdir(), 'invitro-editor-chromium-'));
const downloads = fs.mkdtempSync(path.join(os.tmpdir(), 'invitro-editor-downloads-'));
const browser = await puppeteer.launch({
  executablePath: chromiumPath,
  headless: true,
  userDataDir: profile,
  args: chromiumFlags(800, 500),
});
const cdp = await browser.target().createCDPSession();
const committedDat = fs.readFileSync(new URL('../../data/knock2.dat', import.meta.url));
const fields = () => document.getElementById('fields').textContent;

// The editor open on knock2, clicked into, with its first box moved ten
// units right (an unsaved edit).
async function openWithAnEdit(page) {
  await page.setViewport({ width: 800, height: 500 });
  await page.goto(url);
  await page.waitForFunction(() => document.getElementById('start').classList.contains('ready'), { timeout: 60000 });
  await page.mouse.click(400, 200);
  await page.waitForFunction(`(${fields})().startsWith('knock2 - 16 boxes')`, { timeout: 20000 });
  await page.keyboard.press('Tab');
  await page.keyboard.down('Shift');
  await page.keyboard.press('ArrowRight');
  await page.keyboard.up('Shift');
  await page.waitForFunction(`(${fields})().startsWith('knock2*')`, { timeout: 5000 });
}

async function save(page) {
  await page.keyboard.down('Control');
  await page.keyboard.press('s');
  await page.keyboard.up('Control');
}

try {
  // ------------------------------------------------------------ the folder picked once
  const page = await browser.newPage();
  await page.evaluateOnNewDocument(() => {
    window.showDirectoryPicker = async () => navigator.storage.getDirectory();
  });
  await openWithAnEdit(page);
  const layout = await page.evaluate(() => ({
    canvas: document.getElementById('canvas').getBoundingClientRect().bottom,
    panel: document.getElementById('panel').getBoundingClientRect().top,
  }));
  check(layout.canvas <= layout.panel, `the panel is below the picture (picture to ${layout.canvas}, panel from ${layout.panel})`);
  await page.mouse.click(400, 200, { clickCount: 2 });
  await new Promise((r) => setTimeout(r, 300));
  check(!await page.evaluate(() => document.fullscreenElement), 'a double click does not go full screen');

  let asked = false;
  page.once('dialog', async (dialog) => { asked = dialog.type() === 'beforeunload'; await dialog.dismiss(); });
  await page.close({ runBeforeUnload: true });
  await new Promise((r) => setTimeout(r, 500));
  check(asked && !page.isClosed(), 'closing the page with an unsaved edit asks first');

  await save(page);
  await page.waitForFunction(`(${fields})().includes('saved knock2.dat and knock2.txt')`, { timeout: 10000 })
    .then(() => check(true, 'Save says saved once both files are in the picked folder'), (e) => check(false, e.message));
  check((await page.evaluate(fields)).startsWith('knock2 -'), 'and the title loses its *');
  const written = await page.evaluate(async () => {
    const dir = await navigator.storage.getDirectory();
    const read = async (name) => [...new Uint8Array(await (await (await dir.getFileHandle(name)).getFile()).arrayBuffer())];
    return { dat: await read('knock2.dat'), txt: new TextDecoder().decode(new Uint8Array(await read('knock2.txt'))) };
  });
  const dat = Buffer.from(written.dat);
  check(dat.length === committedDat.length && dat.readInt32LE(34) === committedDat.readInt32LE(34) + 10,
    'the folder holds knock2.dat with the box moved');
  check(written.txt.startsWith('# "knock"') && written.txt.includes('\nbox 80 110 4 0 0 0 0 0 80 110 4 0\n'),
    'and knock2.txt with the new line under the old comments');
  await page.close();

  // ------------------------------------------------------------ one download, then a refused one
  const other = await browser.newPage();
  await other.evaluateOnNewDocument(() => {
    Object.defineProperty(window, 'showDirectoryPicker', { value: undefined, configurable: true });
  });
  await cdp.send('Browser.setDownloadBehavior', { behavior: 'allow', downloadPath: downloads });
  await openWithAnEdit(other);
  await save(other);
  const zip = path.join(downloads, 'knock2.zip');
  for (const until = Date.now() + 10000; Date.now() < until && !fs.existsSync(zip);) await new Promise((r) => setTimeout(r, 100));
  const archive = fs.existsSync(zip) ? fs.readFileSync(zip) : Buffer.alloc(0);
  check(archive.includes('data/knock2.dat') && archive.includes('assets/scenes/knock2.txt') &&
    archive.includes('\nbox 80 110 4 0 0 0 0 0 80 110 4 0\n'), 'without File System Access one download holds both files');
  check((await other.evaluate(fields)).startsWith('knock2*'), 'an offered download is not yet saved');
  await other.click('#arrived');
  await other.waitForFunction(`(${fields})().startsWith('knock2 -')`, { timeout: 5000 })
    .then(() => check(true, 'the user\'s word that it arrived saves'), (e) => check(false, e.message));

  await cdp.send('Browser.setDownloadBehavior', { behavior: 'deny' });
  await other.keyboard.press('ArrowRight');
  await save(other);
  await new Promise((r) => setTimeout(r, 1500));
  const after = await other.evaluate(fields);
  check(after.startsWith('knock2*') && !/ - saved/.test(after), `a refused download does not say saved (${after})`);
  check(fs.readdirSync(downloads).length === 1, 'and nothing more arrived');
} catch (e) {
  check(false, `the page test ran through (${e.message})`);
} finally {
  await browser.close();
  server.close();
  fs.rmSync(profile, { recursive: true, force: true });
  fs.rmSync(downloads, { recursive: true, force: true });
}
console.log(failures.length ? `${failures.length} failed` : 'all passed');
process.exit(failures.length ? 1 : 0);
