// The window group lies exactly over the page element, shows its pane grid, follows the browser
// window, cuts a hole for page content and reports pane clicks - in a real Chromium under Xvfb.
import { test, before, after } from 'node:test';
import assert from 'node:assert/strict';
import {
  freePortPair, startXvfb, makeRunDir, startService, launchBrowser, xdotool,
  screenshot, savePng, bbox, isGreen, waitFor,
} from '../lib/harness.mjs';

let xvfb, service, browser, page, port, runDir;

const isOverlay = ([r, g, b]) =>
  (Math.abs(r - 0x20) < 6 && Math.abs(g - 0x20) < 6 && Math.abs(b - 0x20) < 6) ||  // background
  (r > 220 && g < 40 && b < 40) ||                                                   // pane frame
  (r > 220 && g > 220 && b < 40);                                                    // highlight

before(async () => {
  port = await freePortPair();
  runDir = makeRunDir(port);
  xvfb = await startXvfb();
  service = await startService(runDir, port, xvfb.display);
  ({ browser, page } = await launchBrowser(xvfb.display, `http://127.0.0.1:${port}/web/test/overlay.html`));
});

after(async () => {
  if (process.env.NIMBREL_E2E_SHOT && xvfb) savePng(xvfb.display, process.env.NIMBREL_E2E_SHOT);
  await browser?.close().catch(() => {});
  service?.stop();
  xvfb?.stop();
  if (service && process.exitCode) console.log(service.log.join(''));
});

test('the pane grid covers the page element to the pixel and follows the browser', async () => {
  const uuid = await page.evaluate(() => window.test.ready);
  assert.match(uuid, /^\{[0-9A-F-]{36}\}$/);
  await waitFor('the caption', async () => (await page.title()).includes(uuid));

  const element = await waitFor('the green element', () => bbox(screenshot(xvfb.display), isGreen));
  assert.equal(element.w, 640);
  assert.equal(element.h, 480);

  const created = await page.evaluate(() => window.test.createWnd());
  assert.equal(created.data.errorCode, 0, JSON.stringify(created));
  const arranged = await page.evaluate(() => window.test.send('arrangeWnd', { arrangeType: 4 }));
  assert.equal(arranged.data.errorCode, 0);

  const covered = await waitFor('the overlay over the element', () => {
    const img = screenshot(xvfb.display);
    if (bbox(img, isGreen)) return null;
    const box = bbox(img, isOverlay);
    return box && box.x === element.x && box.y === element.y && box.w === element.w && box.h === element.h
      ? { img, box } : null;
  });

  // Frames between the four panes: a vertical and a horizontal line of frame colour.
  const { img } = covered;
  const frameAt = (x, y) => {
    const i = (y * img.width + x) * 3;
    return img.data[i] > 220 && img.data[i + 2] < 40;
  };
  let vertical = 0, horizontal = 0;
  for (let dx = 318; dx <= 322; dx++) for (let y = 10; y < 470; y++) vertical += frameAt(element.x + dx, element.y + y);
  for (let dy = 238; dy <= 242; dy++) for (let x = 10; x < 630; x++) horizontal += frameAt(element.x + x, element.y + dy);
  assert.ok(vertical >= 460, `vertical frame pixels ${vertical}`);
  assert.ok(horizontal >= 620, `horizontal frame pixels ${horizontal}`);

  // A click on the bottom-right pane selects it and tells the page.
  xdotool(xvfb.display, 'mousemove', String(element.x + 480), String(element.y + 360), 'click', '1');
  const selected = await waitFor('onGetSelectWndIndex', () => page.evaluate(
    () => window.test.messages.find((m) => m.cmd === 'onGetSelectWndIndex' && m.data.wndIndex === 3)));
  assert.equal(selected.data.errorCode, 0);
  assert.equal(selected.data.channel, -1);

  // A hole at the bottom right shows the page through the container.
  const cut = await page.evaluate(() => window.test.send('cuttingPartWnd', { rect: { width: 200, height: 100 } }));
  assert.equal(cut.data.errorCode, 0);
  await waitFor('the hole', () => {
    const g = bbox(screenshot(xvfb.display), isGreen);
    return g && g.x === element.x + 440 && g.y === element.y + 380 && g.w === 200 && g.h === 100;
  });
  await page.evaluate(() => window.test.send('repairPartWnd', {}));
  await waitFor('the hole to close', () => !bbox(screenshot(xvfb.display), isGreen));

  // The container follows the browser window.
  const win = xdotool(xvfb.display, 'search', '--name', uuid.replace(/[{}]/g, '.')).split('\n')[0];
  xdotool(xvfb.display, 'windowmove', win, '160', '90');
  await waitFor('the overlay to follow', () => {
    const shot = screenshot(xvfb.display);
    const box = bbox(shot, isOverlay);
    return !bbox(shot, isGreen) && box && box.x === element.x + 100 && box.y === element.y + 50 &&
      box.w === 640 && box.h === 480;
  });
});
