// The demo page plays four cameras of nimbrel-source in the four panes the service lays over it,
// in a real Chromium under Xvfb: every pane shows the source's picture, and it moves.
import { test, before, after } from 'node:test';
import assert from 'node:assert/strict';
import {
  freePortPair, startXvfb, makeRunDir, startService, startSource, launchBrowser, screenshot, savePng,
  bbox, changedShare, waitFor,
} from '../lib/harness.mjs';

let xvfb, service, source, browser, page;

// The selected pane's highlight frame (#f5b400).
const isHighlight = ([r, g, b]) => Math.abs(r - 0xf5) <= 8 && Math.abs(g - 0xb4) <= 8 && b <= 8;
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

  // The grid, found by the highlight around pane 0 (selected at first): four panes of about
  // 320 x 180 over the 640 x 360 element, each framed by a line of its own.
  const first = await waitFor('the highlighted first pane', () => {
    const box = bbox(screenshot(xvfb.display), isHighlight);
    return box && box.w >= 316 && box.w <= 324 && box.h >= 176 && box.h <= 184 ? box : null;
  }, 30000);
  const halfW = first.w - 1, halfH = first.h - 1;
  // Inside each pane, clear of the frames.
  const panes = [0, 1, 2, 3].map((i) => ({
    x: first.x + (i % 2) * halfW + 4, y: first.y + Math.floor(i / 2) * halfH + 4, w: halfW - 8, h: halfH - 8,
  }));

  // Every pane shows a decoded picture: the red block sits in its top-left quarter.
  await waitFor('the red block in every pane', () => {
    const shot = screenshot(xvfb.display);
    return panes.every((p) => {
      const red = bbox(shot, isRed, p);
      return red && red.x < p.x + p.w / 2 && red.y < p.y + p.h / 2 && red.count > 100;
    });
  }, 30000);

  const before = screenshot(xvfb.display);
  await new Promise((r) => setTimeout(r, 1000));
  const after = screenshot(xvfb.display);
  panes.forEach((p, i) => {
    const share = changedShare(before, after, p);
    assert.ok(share > 0.02, `pane ${i} did not change (${(share * 100).toFixed(3)}% of its pixels)`);
  });
});
