// The demo page plays four cameras of nimbrel-source in the four panes the service lays over it,
// in a real Chromium under Xvfb: every pane shows the source's picture, and it moves.
import { test, before, after } from 'node:test';
import assert from 'node:assert/strict';
import {
  freePortPair, startXvfb, makeRunDir, startService, startSource, launchBrowser, screenshot, savePng,
  bbox, changedShare, waitFor,
} from '../lib/harness.mjs';

let xvfb, service, source, browser, page;

// The demo's pane frames (#3a4756) and the selected pane's highlight (#f5b400).
const near = (c, r, g, b, d = 8) => Math.abs(c[0] - r) <= d && Math.abs(c[1] - g) <= d && Math.abs(c[2] - b) <= d;
const isFrame = (c) => near(c, 0x3a, 0x47, 0x56) || near(c, 0xf5, 0xb4, 0x00);
// The source's red block.
const isRed = ([r, g, b]) => r > 200 && g < 60 && b < 60;

before(async () => {
  const port = await freePortPair();
  const runDir = makeRunDir(port);
  xvfb = await startXvfb();
  source = await startSource();
  service = await startService(runDir, port, xvfb.display);
  const sourceUrl = encodeURIComponent(`ws://127.0.0.1:${source.port}`);
  ({ browser, page } = await launchBrowser(xvfb.display, `http://127.0.0.1:${port}/web/index.html?source=${sourceUrl}`));
});

after(async () => {
  if (process.env.NIMBREL_E2E_SHOT && xvfb) savePng(xvfb.display, process.env.NIMBREL_E2E_SHOT);
  await browser?.close().catch(() => {});
  service?.stop();
  source?.stop();
  xvfb?.stop();
  if (service && process.exitCode) console.log(service.log.join(''));
});

test('four cameras play in four panes and their pictures move', async () => {
  await waitFor('the four cameras to start', async () =>
    (await page.textContent('#status')).startsWith('playing 4 cameras'), 30000);
  await waitFor('four streams from the source', () =>
    source.events.filter((e) => e.event === 'streaming').length >= 4, 30000);

  // The pane grid, found by its frames: four panes of about 320 x 180 over the 640 x 360 element.
  const grid = await waitFor('the pane grid', () => {
    const box = bbox(screenshot(xvfb.display), isFrame);
    return box && box.w >= 630 && box.w <= 644 && box.h >= 350 && box.h <= 364 ? box : null;
  }, 30000);
  const halfW = Math.floor(grid.w / 2), halfH = Math.floor(grid.h / 2);
  // Inside each pane, clear of the frames.
  const panes = [0, 1, 2, 3].map((i) => ({
    x: grid.x + (i % 2) * halfW + 4, y: grid.y + Math.floor(i / 2) * halfH + 4, w: halfW - 8, h: halfH - 8,
  }));

  // Every pane shows a decoded picture: the red block sits in its top-left quarter.
  await waitFor('the red block in every pane', () => {
    const shot = screenshot(xvfb.display);
    return panes.every((p) => {
      const red = bbox(shot, isRed, p);
      return red && red.x < p.x + p.w / 2 && red.y < p.y + p.h / 2 && red.count > 100;
    });
  }, 30000);

  const first = screenshot(xvfb.display);
  await new Promise((r) => setTimeout(r, 1000));
  const second = screenshot(xvfb.display);
  panes.forEach((p, i) => {
    const share = changedShare(first, second, p);
    assert.ok(share > 0.002, `pane ${i} did not change (${(share * 100).toFixed(3)}% of its pixels)`);
  });
});
