// attach() in a real Chromium under Xvfb: the group follows the element as the page scrolls
// (cut while it reaches below the viewport, hidden while cut at the top), notices arrive as
// events, and after the service is killed and started again the group and its streams come back.
import { test, before, after } from 'node:test';
import assert from 'node:assert/strict';
import {
  freePortPair, startXvfb, makeRunDir, startService, startSource, launchBrowser, xdotool, savePng, waitFor,
} from '../lib/harness.mjs';

let xvfb, service, source, browser, page, port, runDir;

before(async () => {
  port = await freePortPair();
  runDir = makeRunDir(port);
  xvfb = await startXvfb();
  source = await startSource();
  service = await startService(runDir, port, xvfb.display);
  ({ browser, page } = await launchBrowser(xvfb.display, `http://127.0.0.1:${port}/web/test/attach.html`));
});

after(async () => {
  if (process.env.NIMBREL_E2E_SHOT && xvfb) savePng(xvfb.display, process.env.NIMBREL_E2E_SHOT);
  await browser?.close().catch(() => {});
  service?.stop();
  source?.stop();
  xvfb?.stop();
  if (service && process.exitCode) console.log(service.log.join(''));
});

const sent = (from = 0) => page.evaluate((i) => window.test.sent.slice(i), from);
const events = () => page.evaluate(() => window.test.events);
const scrollTo = (y) => page.evaluate((v) => window.scrollTo(0, v), y);

// Whether the service's container is mapped on the X screen.
function containerShown() {
  try {
    return xdotool(xvfb.display, 'search', '--onlyvisible', '--classname', '^nimbrelsvc$') !== '';
  } catch (err) {
    return false; // xdotool exits 1 when nothing matches
  }
}

// Waits until the commands sent since `from` include one that satisfies `pred`.
const waitSent = (what, from, pred) => waitFor(what, async () => (await sent(from)).find(pred));

test('the group follows the element and comes back with its streams after a restart', async () => {
  const uuid = await page.evaluate(() => window.test.ready);
  assert.equal(await page.title(), `Attach test ${uuid}`);
  // The page changing its title keeps the id in it.
  await page.evaluate(() => { document.title = 'Renamed'; });
  await waitFor('the id back in the title', async () => (await page.title()) === `Renamed ${uuid}`);

  // Below the fold at first: created, laid out and cut by what lies below the viewport.
  const viewport = await page.evaluate(() => document.documentElement.clientHeight);
  const created = await sent();
  assert.deepEqual(created.slice(0, 2).map((c) => c.cmd), ['createWnd', 'arrangeWnd']);
  assert.deepEqual(created[0].data.rect, { left: 40, top: 400, width: 640, height: 360, bodyHeight: viewport });
  await waitSent('the cut', 0, (c) => c.cmd === 'cuttingPartWnd');
  assert.deepEqual((await sent()).find((c) => c.cmd === 'cuttingPartWnd').data.rect, { width: 640, height: 760 - viewport });
  await waitFor('the container on screen', containerShown);

  // What the page does, and what the service must be told.
  const display = (v) => () => page.evaluate((d) => { document.getElementById('video').style.display = d; }, v);
  // Keys go to the focused window: the browser's, not the group's container.
  const browserWindow = xdotool(xvfb.display, 'search', '--onlyvisible', '--name', uuid.replace(/[{}]/g, '.'));
  const keys = (key) => () => {
    xdotool(xvfb.display, 'windowfocus', '--sync', browserWindow.split('\n')[0]);
    xdotool(xvfb.display, 'key', key);
  };
  // A tab that leaves the front: Chromium driven by playwright keeps pages visible, so the page
  // is told as the browser would tell it.
  const tab = (state) => () => page.evaluate((v) => {
    if (v) Object.defineProperty(document, 'visibilityState', { value: v, configurable: true });
    else delete document.visibilityState;
    document.dispatchEvent(new Event('visibilitychange'));
  }, state);
  const steps = [
    { act: () => scrollTo(300), what: 'moved, whole', pred: (c) => c.cmd === 'moveWnd' && c.data.rect.top === 100, shown: true },
    { act: () => scrollTo(450), what: 'hidden, cut at the top', pred: (c) => c.cmd === 'hideWnd', shown: false },
    { act: () => scrollTo(2000), what: 'still hidden, out of view', pred: null, shown: false },
    { act: () => scrollTo(300), what: 'shown again', pred: (c) => c.cmd === 'showWnd', shown: true },
    { act: display('none'), what: 'hidden with the element', pred: (c) => c.cmd === 'hideWnd', shown: false },
    { act: display('block'), what: 'shown with the element', pred: (c) => c.cmd === 'showWnd', shown: true },
    { act: tab('hidden'), what: 'hidden with its tab', pred: (c) => c.cmd === 'hideWnd', shown: false },
    { act: tab(null), what: 'shown with its tab', pred: (c) => c.cmd === 'showWnd', shown: true },
    { act: () => page.evaluate(() => window.test.group.suspend()), what: 'suspended', pred: (c) => c.cmd === 'hideWnd', shown: false },
    { act: () => page.evaluate(() => window.test.group.resume()), what: 'resumed', pred: (c) => c.cmd === 'showWnd', shown: true },
    // Page zoom 110%: device pixels grow, the element's CSS box does not.
    { act: keys('ctrl+plus'), what: 'zoomed in', pred: (c) => c.cmd === 'moveWnd' && c.data.rect.width === 704, shown: true },
    { act: keys('ctrl+0'), what: 'zoom reset', pred: (c) => c.cmd === 'moveWnd' && c.data.rect.width === 640, shown: true },
  ];
  for (const step of steps) {
    const from = (await sent()).length;
    await step.act();
    if (step.pred) await waitSent(step.what, from, step.pred);
    await waitFor(`${step.what}: the container ${step.shown ? 'shown' : 'hidden'}`, () => containerShown() === step.shown);
  }
  await scrollTo(300);
  // A quick scroll never has more than one command in flight, and ends where the page stops.
  const before = (await sent()).length;
  await page.evaluate(() => window.test.flick(0, 300, 10));
  await waitSent('the last move', before, (c) => c.cmd === 'moveWnd' && c.data.rect.top === 100);
  assert.equal(await page.evaluate(() => window.test.maxInFlight), 1);

  // One camera plays, another is refused by its source: the refusal arrives as an event.
  const live = `ws://127.0.0.1:${source.port}/live?codec=h264&width=320&height=180&fps=10`;
  assert.equal((await page.evaluate(([u]) => window.test.play(0, u, 1), [live])).errorCode, 0);
  await page.evaluate(([u]) => window.test.play(1, u, 2), [`ws://127.0.0.1:${source.port}/live?code=4001`]);
  await waitFor('the refusal event', async () =>
    (await events()).find((e) => e.name === 'startPlay' && e.payload.errorCode === -1));
  const requests = (sid) => source.events.filter((e) => e.event === 'request' && e.text.includes(sid)).length;
  await waitFor('the camera streaming', () => requests('cam-1') === 1);

  // Killed and started again: the client reconnects and replays group, layout and streams.
  const from = (await sent()).length;
  service.stop();
  await waitFor('the disconnect', async () => (await events()).find((e) => e.name === 'disconnect'));
  service = await startService(runDir, port, xvfb.display);
  await waitFor('the reconnect', async () => (await events()).find((e) => e.name === 'reconnect'), 20000);
  const replay = await sent(from);
  assert.deepEqual(replay.slice(0, 4).map((c) => c.cmd), ['createWnd', 'arrangeWnd', 'startPlay', 'startPlay'], JSON.stringify(replay));
  assert.equal(replay[0].data.rect.top, 100);
  assert.equal(replay[1].data.arrangeType, 4);
  assert.deepEqual(replay.slice(2, 4).map((c) => [c.data.wndIndex, c.data.url]),
    [[0, live], [1, `ws://127.0.0.1:${source.port}/live?code=4001`]]);
  await waitFor('the camera streaming again', () => requests('cam-1') === 2, 15000);
  await waitFor('the container back on screen', containerShown);
  const newId = await page.evaluate(() => window.test.client.sessionId);
  assert.notEqual(newId, uuid);
  assert.equal(await page.title(), `Renamed ${newId}`);
  assert.deepEqual((await events()).filter((e) => e.name === 'error'), []);
});

test('a failed attach leaves nothing behind that would swallow the next one', async () => {
  const containers = () => {
    try {
      return xdotool(xvfb.display, 'search', '--onlyvisible', '--classname', '^nimbrelsvc$').split('\n').length;
    } catch (err) {
      return 0;
    }
  };
  await waitFor('the first group on screen', () => containers() === 1);
  // A second connection whose id is not in the caption: the service cannot find the window.
  const first = await page.evaluate(async () => {
    window.other = await Nimbrel.connect({ port: window.test.client.port, title: false, reconnect: false });
    return window.other.attach(document.getElementById('video')).then(() => 'attached', (e) => e.code);
  });
  assert.equal(first, -1);
  // With the id in the caption the same connection attaches, with windows of its own.
  await page.evaluate(async () => {
    document.title += ' ' + window.other.sessionId;
    window.otherGroup = await window.other.attach(document.getElementById('video'));
  });
  await waitFor('a second container', () => containers() === 2);
  await page.evaluate(async () => {
    await window.otherGroup.destroy();
    window.other.close();
  });
  await waitFor('the second container gone', () => containers() === 1);
});
