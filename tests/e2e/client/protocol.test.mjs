// The page client against a real nimbrelsvc (headless display): replies found by sequence,
// failures and time-outs as errors with their code, pending commands rejected on close, the
// port search past an occupied port, and reconnecting after the service is killed.
import { test, after } from 'node:test';
import assert from 'node:assert/strict';
import fs from 'node:fs';
import net from 'node:net';
import path from 'node:path';
import { WebSocket, WebSocketServer } from 'ws';
import Nimbrel from '../../../web/nimbrel.mjs';
import { makeRunDir, startService, waitFor } from '../lib/harness.mjs';

const { connect, NimbrelError } = Nimbrel;
const cleanups = [];
after(() => cleanups.reverse().forEach((fn) => fn()));

function portFree(port) {
  return new Promise((resolve) => {
    const s = net.createServer();
    s.once('error', () => resolve(false));
    s.listen(port, '127.0.0.1', () => s.close(() => resolve(true)));
  });
}

// `count` consecutive free ports.
async function freePorts(count) {
  for (let i = 0; i < 200; i++) {
    const p = 20000 + Math.floor(Math.random() * 40000);
    let ok = true;
    for (let k = 0; k < count && ok; k++) ok = await portFree(p + k);
    if (ok) return p;
  }
  throw new Error('no free ports');
}

async function service(port, waitPort = port) {
  const dir = makeRunDir(port);
  const svc = await startService(dir, waitPort, '');
  cleanups.push(() => svc.stop());
  return { dir, svc };
}

// Something else on a port: a WebSocket server that does not speak the protocol.
async function squatter(port) {
  const wss = new WebSocketServer({ host: '127.0.0.1', port });
  await new Promise((resolve) => wss.on('listening', resolve));
  wss.on('connection', (ws) => ws.on('message', () => ws.send('{"hello":"not nimbrel"}')));
  const stop = () => new Promise((resolve) => {
    for (const c of wss.clients) c.terminate();
    wss.close(resolve);
  });
  cleanups.push(() => wss.close());
  return stop;
}

const open = (port, extra) => connect({ port, WebSocket, timeoutMs: 5000, ...extra });

test('replies settle their own command; failures and silence reject with a code', async () => {
  const port = await freePorts(2);
  await service(port);
  const client = await open(port);
  cleanups.push(() => client.close());
  assert.match(client.sessionId, /^\{[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}\}$/);
  assert.equal(client.version, 'e2e');
  assert.equal(client.port, port);

  // Many commands in flight at once: each reply carries its own device type back.
  const types = ['IPC', 'NVR', 'DVR', 'X1', 'X2', 'X3', 'X4', 'X5'];
  const replies = await Promise.all(types.map((deviceType) => client.getLocalConfig({ deviceType })));
  replies.forEach((r, i) => assert.ok(r.localConfig.recordFilePath.includes(types[i]), JSON.stringify(r)));

  const cases = [
    // A negative errorCode: startPlay with no window group answers -1.
    { what: 'negative errorCode', run: () => client.startPlay({
      url: 'ws://127.0.0.1:1/', wndIndex: 0, requestJson: { data: { sessionID: 's' } },
      playParam: { videoCoder: 96, audioCoder: 0, frameRate: 25, bitRate: 0, width: 640, height: 360 },
    }), code: -1, cmd: 'startPlay' },
    // Keys the service cannot read get no reply at all.
    { what: 'no reply', run: () => client.command('startPlay', {}, { timeoutMs: 300 }), code: 'timeout', cmd: 'startPlay' },
  ];
  for (const c of cases) {
    const err = await c.run().then(() => null, (e) => e);
    assert.ok(err instanceof NimbrelError, `${c.what}: ${err}`);
    assert.equal(err.code, c.code, c.what);
    assert.equal(err.cmd, c.cmd, c.what);
  }

  // Integer zoom coordinates are sent with a fraction, so the service answers instead of
  // dropping the command.
  assert.equal((await client.setDigitalZoom({ wndIndex: 0, coordinateX: 25, coordinateY: 10, penWidth: 1, penColor: '#ff0000' })).errorCode, 0);
  // After all that, the connection still pairs replies correctly.
  assert.equal((await client.getSelectWndIndex()).errorCode, 0);
});

test('close rejects what is pending, once and with code closed', async () => {
  const port = await freePorts(2);
  const { svc } = await service(port);
  const client = await open(port);
  const events = [];
  client.on('close', () => events.push('close'));
  // No time-out and no reply: only the close can settle it.
  const pending = client.command('capture', {}, { timeoutMs: 0 });
  client.close();
  await assert.rejects(pending, (e) => e.code === 'closed' && e.cmd === 'capture');
  await assert.rejects(client.getSelectWndIndex(), (e) => e.code === 'closed');
  assert.deepEqual(events, ['close']);

  // The service going away does the same, and without reconnecting the client is finished.
  const second = await open(port, { reconnect: false });
  const lost = second.command('capture', {}, { timeoutMs: 0 });
  const closed = new Promise((resolve) => second.on('close', resolve));
  svc.stop();
  await assert.rejects(lost, (e) => e.code === 'closed');
  await closed;
  assert.equal(second.state, 'closed');
});

test('the search passes ports held by others, for ws and wss, and fails with code connect', async () => {
  const port = await freePorts(4);
  await squatter(port);
  // The service probes from `port`: plain lands on port + 1 and TLS on port + 2.
  const { dir } = await service(port, port + 1);
  const plain = await open(port);
  cleanups.push(() => plain.close());
  assert.equal(plain.port, port + 1);

  const ca = fs.readFileSync(path.join(dir, 'certificates', 'rootCA.crt'));
  class TrustingWebSocket extends WebSocket {
    constructor(url) {
      super(url, { ca });
    }
  }
  const secure = await connect({ port, secure: true, WebSocket: TrustingWebSocket });
  cleanups.push(() => secure.close());
  assert.equal(secure.port, port + 2);
  assert.notEqual(secure.sessionId, plain.sessionId);

  const none = await freePorts(3);
  await assert.rejects(connect({ port: none, portCount: 3, WebSocket }), (e) => e.code === 'connect');
});

test('after the service is killed the client reconnects, wherever the service lands', async () => {
  const port = await freePorts(4);
  const first = await service(port);
  const client = await open(port, { reconnect: { initialDelayMs: 50, maxDelayMs: 200 } });
  cleanups.push(() => client.close());
  const seen = [];
  for (const name of ['disconnect', 'reconnecting', 'reconnect', 'close']) client.on(name, () => seen.push(name));
  const oldId = client.sessionId;

  first.svc.stop();
  await waitFor('the disconnect', () => seen.includes('disconnect'));
  // Its port is taken meanwhile: the new service starts one further on.
  const stopSquatter = await squatter(port);
  const again = await startService(first.dir, port + 1, '');
  cleanups.push(() => again.stop());
  await waitFor('the reconnect', () => seen.includes('reconnect'), 15000);

  assert.equal(client.state, 'open');
  assert.equal(client.port, port + 1);
  assert.notEqual(client.sessionId, oldId);
  assert.ok(!seen.includes('close'));
  assert.equal((await client.getSelectWndIndex()).errorCode, 0);
  await stopSquatter();
});
