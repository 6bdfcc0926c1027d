// The demo page in a real browser under Xvfb with a window manager, as a user meets it:
// NIMBREL_E2E_BROWSER=chromium (playwright-core) or firefox (puppeteer-core over WebDriver BiDi),
// both Debian's. The page opens, connects, lays the group over its video area to the pixel, plays
// four cameras, switches layouts (by button and by key) and keeps them across a reload, follows
// scrolling, records, snapshots, downloads, plays sound, zooms, talks, shows a camera that refuses,
// plays back with its time bar and keeps the save folders.
import { test, before, after } from 'node:test';
import assert from 'node:assert/strict';
import { execFileSync } from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import {
  freePortPair, startXvfb, makeRunDir, startService, startSource, launchBrowser, launchFirefox, xdotool,
  screenshot, savePng, bbox, changedShare, pixel, isGreen, waitFor, keepShotOnFailure,
} from '../lib/harness.mjs';

const BROWSER = process.env.NIMBREL_E2E_BROWSER || 'chromium';
let xvfb, service, source, browser, page, runDir, home, opened;

const isMagenta = ([r, g, b]) => r > 215 && g < 40 && b > 215;
const isRed = ([r, g, b]) => r > 200 && g < 60 && b < 60;
// The page's pane background (wndColor #11161c).
const isPaneBackground = ([r, g, b]) => Math.abs(r - 0x11) <= 3 && Math.abs(g - 0x16) <= 3 && Math.abs(b - 0x1c) <= 3;

const ev = (fn, arg) => page.evaluate(fn, arg);
// A failing step keeps its screen and tells what the page last noticed.
const step = (name, fn) => test(name, () => keepShotOnFailure(xvfb.display, `demo-${BROWSER}-${name}`, async () => {
  try {
    await fn();
  } catch (err) {
    const notices = await ev(() => [...document.querySelectorAll('#log li')].slice(0, 5).map((li) => li.textContent)).catch(() => []);
    if (notices.length) err.message += ` (the page's last notices: ${notices.join(' | ')})`;
    throw err;
  }
}));

before(async () => {
  const port = await freePortPair();
  runDir = makeRunDir(port);
  home = path.join(runDir, 'home');
  // What the service hands the desktop to open is written down instead of opened.
  const bin = fs.mkdtempSync(path.join(os.tmpdir(), 'nimbrel-e2e-bin-'));
  opened = path.join(bin, 'opened.txt');
  fs.writeFileSync(path.join(bin, 'xdg-open'), `#!/bin/sh\necho "$1" >> '${opened}'\n`, { mode: 0o755 });
  // The folder picker answers as a user choosing ~/Picked would.
  fs.writeFileSync(path.join(bin, 'zenity'), `#!/bin/sh\necho '${path.join(home, 'Picked')}'\n`, { mode: 0o755 });
  xvfb = await startXvfb();
  source = await startSource();
  service = await startService(runDir, port, xvfb.display, {
    PATH: `${bin}:${process.env.PATH}`, NIMBREL_CAPTURE: 'tone', NIMBREL_NO_PULSE: '1',
  });
  const url = `http://127.0.0.1:${port}/web/demo/index.html?source=${encodeURIComponent(`ws://127.0.0.1:${source.port}`)}`;
  ({ browser, page } = await (BROWSER === 'firefox' ? launchFirefox : launchBrowser)(xvfb.display, url));
});

after(async () => {
  if (process.env.NIMBREL_E2E_SHOT && xvfb) savePng(xvfb.display, process.env.NIMBREL_E2E_SHOT);
  await browser?.close().catch(() => {});
  service?.stop();
  source?.stop();
  xvfb?.stop();
  if (service && process.exitCode) console.log(service.log.join(''));
});

// The video element in CSS pixels of the viewport (device pixels: the tests run at zoom 1).
const videoRect = () => ev(() => {
  const r = document.getElementById('video').getBoundingClientRect();
  return { left: Math.round(r.left), top: Math.round(r.top), w: Math.round(r.right) - Math.round(r.left), h: Math.round(r.bottom) - Math.round(r.top) };
});

// A 2 px green outline around the element and magenta inside it: the group lies exactly over it
// when the whole outline shows and no magenta does.
const markVideo = () => ev(() => {
  if (document.getElementById('e2e-marks')) return;
  const style = document.createElement('style');
  style.id = 'e2e-marks';
  style.textContent = '#video { background: #ff00ff !important; outline: 2px solid #00ff00 !important; }';
  document.head.append(style);
});

const describe = (b) => (b ? `${b.w}x${b.h} at ${b.x},${b.y} (${b.count} px)` : 'none');

// Waits until the group covers the element to the pixel; resolves with the element's place on
// the screen. A failure says what was seen.
async function groupCovers(what) {
  let seen = '';
  try {
    return await waitFor(what, async () => {
      const rect = await videoRect();
      const img = screenshot(xvfb.display);
      const ring = bbox(img, isGreen);
      if (!ring) {
        seen = 'no outline visible';
        return null;
      }
      const el = { x: ring.x + 2, y: ring.y + 2, w: ring.w - 4, h: ring.h - 4 };
      const magenta = bbox(img, isMagenta, el);
      const whole = (rect.w + 4) * (rect.h + 4) - rect.w * rect.h;
      seen = `element ${rect.w}x${rect.h}, outline ${describe(ring)} of ${whole} px, element colour showing ${describe(magenta)}`;
      return ring.w === rect.w + 4 && ring.h === rect.h + 4 && ring.count === whole && !magenta ? { ...el, rect } : null;
    }, 20000, 100);
  } catch (err) {
    throw new Error(`${what}: ${seen}`);
  }
}

// Pane `i` of a c x c grid over `el`, inset clear of the frames.
function cell(el, c, i) {
  const w = el.w / c, h = el.h / c;
  return { x: Math.round(el.x + (i % c) * w + 6), y: Math.round(el.y + Math.floor(i / c) * h + 6), w: Math.floor(w - 12), h: Math.floor(h - 12) };
}
const centre = (area) => [area.x + Math.floor(area.w / 2), area.y + Math.floor(area.h / 2)];

// Every pane of `panes` shows the source's picture: its red block in the pane's top-left quarter.
function showsPicture(img, area) {
  const red = bbox(img, isRed, area);
  return red && red.count > 50 && red.x < area.x + area.w / 2 && red.y < area.y + area.h / 2;
}

const pageText = (selector) => ev((s) => document.querySelector(s)?.textContent || '', selector);
const logText = () => pageText('#log');
const click = (selector) => page.click(selector);

let el;  // the element on the screen, from the first step on

step('opens, connects and lays the group over the video area to the pixel', async () => {
  await waitFor('the page to connect', async () => (await ev(() => document.getElementById('status').dataset.state)) === 'online', 30000);
  const sessionId = await pageText('#session');
  assert.match(sessionId, /^\{[0-9A-F-]{36}\}$/);
  assert.ok((await ev(() => document.title)).includes(sessionId), 'the session id is in the window caption');
  await markVideo();
  el = await groupCovers('the group over #video');
});

step('plays four cameras at once on first open, each picture moving', async () => {
  await waitFor('four streams from the source', () => source.events.filter((e) => e.event === 'streaming').length >= 4, 30000);
  const panes = [0, 1, 2, 3].map((i) => cell(el, 2, i));
  await waitFor('the picture in all four panes', () => {
    const img = screenshot(xvfb.display);
    return panes.every((p) => showsPicture(img, p));
  }, 30000);
  const first = screenshot(xvfb.display);
  await new Promise((r) => setTimeout(r, 1000));
  const second = screenshot(xvfb.display);
  panes.forEach((p, i) => {
    const share = changedShare(first, second, p);
    assert.ok(share > 0.02, `pane ${i + 1} did not change in a second (${(share * 100).toFixed(2)}% of its pixels)`);
  });
});

// Panes 0..3 play, the rest of a 3 x 3 grid is empty.
function nineGrid(img) {
  return [0, 1, 2, 3, 4, 5, 6, 7, 8].every((i) => isPaneBackground(pixel(img, ...centre(cell(el, 3, i)))) === (i >= 4));
}

step('switches layouts and keeps them across a reload', async () => {
  await click('[data-layout="9"]');
  await waitFor('a 3 x 3 grid with four cameras', () => nineGrid(screenshot(xvfb.display)), 15000);
  await page.reload();
  await waitFor('the page to connect again', async () => (await ev(() => document.getElementById('status')?.dataset.state)) === 'online', 30000);
  assert.equal(await ev(() => document.querySelector('#layouts .on')?.dataset.layout), '9');
  await markVideo();
  el = await groupCovers('the group over #video after the reload');
  await waitFor('the 3 x 3 grid and its four cameras after the reload', () => nineGrid(screenshot(xvfb.display)), 30000);
  // Key 2 is the 2 x 2 layout.
  await page.keyboard.press('2');
  await waitFor('the 2 x 2 grid again', () => {
    const img = screenshot(xvfb.display);
    return [0, 1, 2, 3].every((i) => showsPicture(img, cell(el, 2, i)));
  }, 15000);
});

step('follows the page as it scrolls and never covers the browser around it', async () => {
  // A page with more below its video area than a screen holds, as pages embedding it have.
  await ev(() => { document.body.style.paddingBottom = '900px'; });
  const before = screenshot(xvfb.display);
  // The browser's own bar just above the viewport.
  const viewportTop = el.y - el.rect.top;
  const bar = { x: el.x, y: viewportTop - 20, w: el.w, h: 18 };
  await ev(() => window.scrollBy(0, 40));
  const moved = await groupCovers('the group after scrolling 40 px');
  // On the screen the element moved as far as in the page.
  assert.deepEqual([moved.x - el.x, moved.y - el.y], [moved.rect.left - el.rect.left, moved.rect.top - el.rect.top]);
  assert.ok(moved.y < el.y, `the element did not move up (${el.y} -> ${moved.y})`);
  await ev(() => window.scrollTo(0, document.documentElement.scrollHeight));
  await waitFor('the element cut at the top', async () => (await videoRect()).top < 0);
  // However the group is cut or hidden now, none of it lies over the browser's bar.
  await new Promise((r) => setTimeout(r, 500));
  const share = changedShare(before, screenshot(xvfb.display), bar);
  assert.ok(share < 0.01, `${(share * 100).toFixed(1)}% of the browser's bar above the page changed`);
  await ev(() => window.scrollTo(0, 0));
  el = await groupCovers('the group after scrolling back');
});

const fileOf = (kind) => ev((k) => document.querySelector(`#files li[data-kind="${k}"]`)?.dataset.path || '', kind);
const sizeOf = (file) => (fs.existsSync(file) ? fs.statSync(file).size : 0);
const stampPattern = '\\d{8}_\\d{6}';

step('takes a snapshot and shows it; records and shows the file', async () => {
  await waitFor('pane 1 selected', async () => (await pageText('#paneName')).startsWith('Pane 1 · Gate'));
  await click('#btnSnapshot');
  const picture = await waitFor('the snapshot in the file list', () => fileOf('snapshot'));
  assert.match(picture, new RegExp(`^${home}/Demo/Capture/gate_${stampPattern}\\.jpg$`));
  const jpeg = fs.readFileSync(picture);
  assert.ok(jpeg.length > 1000 && jpeg[0] === 0xff && jpeg[1] === 0xd8, `${picture} is not a JPEG picture`);
  await waitFor('the picture handed to the desktop', () => fs.existsSync(opened) && fs.readFileSync(opened, 'utf8').split('\n').includes(picture));

  await click('#btnRecord');
  const recording = await waitFor('the recording to start', () => ev(() => window.demo.ctx.panes.get(0)?.recording?.path));
  assert.match(recording, new RegExp(`^${home}/Demo/Record/gate_${stampPattern}_H264\\.mp4$`));
  await waitFor('two seconds of recording', () => sizeOf(recording) > 20000, 20000);
  await click('#btnRecord');
  assert.equal(await waitFor('the recording in the file list', () => fileOf('recording')), recording);
  const seconds = Number(execFileSync('ffprobe', ['-v', 'error', '-show_entries', 'format=duration', '-of', 'csv=p=0', recording]).toString());
  assert.ok(seconds >= 1, `the recording lasts ${seconds} s`);
});

step('downloads a clip with the progress bar reaching 100', async () => {
  await click('#btnDownload');
  const seen = new Set();
  await waitFor('the progress bar at 100', async () => {
    const value = await ev(() => document.getElementById('downloadBar').value);
    seen.add(value);
    return value === 100;
  }, 40000, 200);
  assert.ok([...seen].some((v) => v > 0 && v < 100), `the bar went through ${[...seen].join(', ')}`);
  assert.equal(await pageText('#downloadPct'), '100%');
  const clip = await waitFor('the download in the file list', () => fileOf('download'));
  assert.match(clip, new RegExp(`^${home}/Demo/DownloadFiles/recorder_${stampPattern}_H264\\.mkv$`));
  await waitFor(`${clip} written`, () => sizeOf(clip) > 10000, 10000);
});

const hasClass = (selector, name) => ev(([s, n]) => document.querySelector(s).classList.contains(n), [selector, name]);

step('sound, zoom and talk of the pane clicked', async () => {
  const office = cell(el, 2, 3);
  xdotool(xvfb.display, 'mousemove', ...centre(office).map(String), 'click', '1');
  await waitFor('pane 4 selected', async () => (await pageText('#paneName')).startsWith('Pane 4 · Office'));
  await click('#btnSound');
  await waitFor('the sound of Office on', () => hasClass('#btnSound', 'on'), 15000);
  await click('#btnZoom');
  await waitFor('the zoom on', () => hasClass('#btnZoom', 'on'));
  await click('#btnZoom');
  await waitFor('the zoom off', async () => !(await hasClass('#btnZoom', 'on')));
  await click('#btnTalk');
  await waitFor('audio reaching the camera', () => source.events.some((e) => e.event === 'talkAudio' && e.messages > 0), 15000);
  await waitFor('the talk button naming Office', async () => (await pageText('#btnTalk')) === 'Talking to Office');
  await click('#btnTalk');
  await waitFor('the talk to end', async () => (await pageText('#btnTalk')) === 'Talk');
});

step('shows a camera that refuses its stream', async () => {
  await click('.camera[data-camera="backdoor"]');
  await waitFor('the source refusing', () => source.events.some((e) => e.event === 'answer' && e.code === 4001), 15000);
  await waitFor('the refusal shown', async () => (await logText()).includes('Back door refused the stream (code 4001)'), 15000);
  assert.ok(await ev(() => document.querySelector('.camera[data-camera="backdoor"]').classList.contains('refused')));
});

const sourceText = (action) => source.events.find((e) => e.event === 'text' && e.action === action && e.applied);

step('plays the recorder back: time bar, seek by clicking, pause, resume and speed', async () => {
  const lobby = cell(el, 2, 1);
  xdotool(xvfb.display, 'mousemove', ...centre(lobby).map(String), 'click', '1');
  await waitFor('pane 2 selected', async () => (await pageText('#paneName')).startsWith('Pane 2'));
  await click('.camera[data-camera="recorder"]');
  await waitFor('a playback stream', () => source.events.some((e) => e.event === 'streaming' && e.mode === 'playback'), 15000);
  await waitFor('the time bar with the playback time', async () =>
    !(await ev(() => document.getElementById('timebar').hidden)) && /^\d\d:\d\d:\d\d$/.test(await pageText('#timeNow')), 15000);
  await waitFor('the recording in pane 2', () => showsPicture(screenshot(xvfb.display), lobby), 15000);
  // The middle of the bar is the middle of the recorder's ten minutes.
  const range = await ev(() => { const e = window.demo.ctx.panes.get(1); return { start: e.start, end: e.end }; });
  await click('#track');
  const seek = await waitFor('the seek at the source', () => sourceText('seek'), 10000);
  assert.ok(Math.abs(seek.seekTo - (range.start + range.end) / 2) <= 10, `sought to ${seek.seekTo} in ${range.start}..${range.end}`);
  await click('#btnPause');
  await waitFor('the pause at the source', () => sourceText('pause'), 10000);
  // The source may see the pause before the page has the reply that turns the button.
  await waitFor('the button offering to resume', async () => (await pageText('#btnPause')) === 'Resume');
  await click('#btnPause');
  await waitFor('the resume at the source', () => sourceText('resume'), 10000);
  await ev(() => {
    const speed = document.getElementById('speed');
    speed.value = '4';
    speed.dispatchEvent(new Event('change'));
  });
  const speed = await waitFor('the speed at the source', () => sourceText('speed'), 10000);
  assert.equal(speed.speed, 4);
});

step('shows, browses and stores the save folders', async () => {
  await click('#openSettings');
  const form = (name) => ev((n) => document.getElementById('settingsForm').elements[n].value, name);
  await waitFor('the folders the service answers', async () => (await form('recordFilePath')) === `${home}/Demo/Record`);
  await click('[data-browse="downloadFilePath"]');
  await waitFor('the folder picked', async () => (await form('downloadFilePath')) === `${home}/Picked`);
  await click('#settingsForm button[type="submit"]');
  await waitFor('the folders stored', async () => (await logText()).includes('Save folders stored'));
  const stored = JSON.parse(fs.readFileSync(path.join(home, 'Nimbrel.json'), 'utf8'));
  assert.equal(stored.Demo.downloadFilePath, `${home}/Picked`);
  assert.equal(stored.Demo.recordFilePath, `${home}/Demo/Record`);
});
