// The pane grid lies over the page element to the pixel, and stays there by itself while the
// window manager moves, resizes, maximises and restores the browser - in Debian's Chromium or
// firefox-esr ($NIMBREL_E2E_BROWSER) under the window manager of $NIMBREL_E2E_WM (openbox, xfwm4
// or none), each of which frames the browser its own way.
import { test, before, after } from 'node:test';
import assert from 'node:assert/strict';
import { execFileSync } from 'node:child_process';
import os from 'node:os';
import path from 'node:path';
import {
  freePortPair, startXvfb, makeRunDir, startService, launchBrowser, launchFirefox, xdotool,
  screenshot, savePng, bbox, isGreen, waitFor,
} from '../lib/harness.mjs';

const browserName = process.env.NIMBREL_E2E_BROWSER || 'chromium';
let xvfb, service, browser, page;

// Colours no browser draws: the grid is found wherever it lies on the screen.
const style = { wndColor: '#ff00ff', borderColor: '#00ffff', highlightColor: '#0000ff', borderPixel: 1, highlightPixel: 2 };
const isGrid = ([r, g, b]) =>
  (r > 235 && g < 20 && b > 235) || (r < 20 && g > 235 && b > 235) || (r < 20 && g < 20 && b > 235);
const describe = (box) => (box ? `${box.w}x${box.h} at ${box.x},${box.y}` : 'none');
const same = (a, b) => a && b && a.x === b.x && a.y === b.y && a.w === b.w && a.h === b.h;

before(async () => {
  const port = await freePortPair();
  xvfb = await startXvfb();
  service = await startService(makeRunDir(port), port, xvfb.display);
  const url = `http://127.0.0.1:${port}/web/test/overlay.html`;
  ({ browser, page } = browserName === 'firefox' ? await launchFirefox(xvfb.display, url)
    : await launchBrowser(xvfb.display, url));
});

after(async () => {
  if (process.exitCode && xvfb) {
    const shot = path.join(process.env.NIMBREL_E2E_SHOT_DIR || os.tmpdir(),
      `placement-${browserName}-${xvfb.windowManager}.png`);
    savePng(xvfb.display, shot);
    console.log(`screenshot of the failure: ${shot}`);
  }
  await browser?.close().catch(() => {});
  service?.stop();
  xvfb?.stop();
  if (service && process.exitCode) console.log(service.log.join(''));
});

// Waits until `look` (given a screenshot) finds the same box in two screenshots in a row: a
// browser repaints its page a little after the window manager changes its window.
function steady(what, look) {
  let last = null;
  return waitFor(what, () => {
    const box = look(screenshot(xvfb.display));
    const settled = box && same(box, last);
    last = box;
    return settled ? box : null;
  }, 10000);
}

// Waits until the grid stands still over no green (elsewhere than `from`, where given), then hides
// it and checks that the element it covered is exactly where it stood. `what` names the step.
async function coversElement(what, from) {
  let seen = '';
  const grid = await steady(what, (img) => {
    const box = bbox(img, isGrid);
    const green = bbox(img, isGreen);
    seen = `grid ${describe(box)}, green ${describe(green)}`;
    return !green && box && box.w === 640 && box.h === 480 && !same(box, from) ? box : null;
  }).catch(() => assert.fail(`${what}: ${seen}`));
  assert.equal((await page.evaluate(() => window.test.send('hideWnd', {}))).data.errorCode, 0);
  const element = await steady(`the element after ${what}`, (img) => (bbox(img, isGrid) ? null : bbox(img, isGreen)));
  assert.ok(same(grid, element), `${what}: the grid stood ${describe(grid)}, the element is ${describe(element)}`);
  assert.equal((await page.evaluate(() => window.test.send('showWnd', {}))).data.errorCode, 0);
  return grid;
}

function wmctrl(window, action) {
  execFileSync('wmctrl', ['-i', '-r', window, '-b', `${action},maximized_vert,maximized_horz`],
    { env: { ...process.env, DISPLAY: xvfb.display } });
}

test(`the grid covers the element in ${browserName} under ${process.env.NIMBREL_E2E_WM || 'openbox'} and follows the window`, async () => {
  const uuid = await page.evaluate(() => window.test.ready);
  const window = await waitFor('the caption', () =>
    xdotool(xvfb.display, 'search', '--name', uuid.replace(/[{}]/g, '.')).split('\n')[0]);
  const created = await page.evaluate((s) => window.test.send('createWnd', {
    rect: Nimbrel.regionOf(document.getElementById('video')), style: s,
  }), style);
  assert.equal(created.data.errorCode, 0, JSON.stringify(created));
  assert.equal((await page.evaluate(() => window.test.send('arrangeWnd', { arrangeType: 4 }))).data.errorCode, 0);
  const placed = await coversElement('placing');

  // The page says nothing from here on: the service follows the window by itself.
  const moved = Date.now();
  xdotool(xvfb.display, 'windowmove', window, '160', '90');
  await waitFor('the grid to move', () => {
    const box = bbox(screenshot(xvfb.display), isGrid);
    return box && (box.x !== placed.x || box.y !== placed.y);
  }, 5000, 5);
  console.log(`the grid followed the window in ${Date.now() - moved} ms`);
  await coversElement('moving', placed);
  // Each of these changes the page's width once the browser has taken the new size.
  // `from`: where the grid stood before, when the step moves the page.
  const resized = async (what, act, from) => {
    const width = await page.evaluate(() => window.innerWidth);
    act();
    await waitFor(`the browser ${what}`, async () => (await page.evaluate(() => window.innerWidth)) !== width);
    return coversElement(what, from);
  };
  const afterResize = await resized('resizing', () => xdotool(xvfb.display, 'windowsize', window, '900', '650'));
  if (xvfb.windowManager === 'none') return;  // only a window manager maximises
  const maximised = await resized('maximising', () => wmctrl(window, 'add'), afterResize);
  await resized('restoring', () => wmctrl(window, 'remove'), maximised);
});
