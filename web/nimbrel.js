// A small client for pages that drive the Nimbrel service.
//   const svc = await Nimbrel.connect({ port: 9000 });
//   const reply = await svc.command('webconnect', { webVersion: '1' });
//   svc.on('onGetSelectWndIndex', (msg) => ...);
(function (root) {
  'use strict';

  class NimbrelClient {
    constructor(ws) {
      this.ws = ws;
      this.uuid = '';
      this.nextSequence = 1;
      this.pending = new Map();  // sequence -> {resolve, reject, timer}
      this.listeners = new Map();  // cmd -> [fn]
      ws.onmessage = (e) => this.receive(e.data);
      ws.onclose = () => {
        for (const p of this.pending.values()) {
          clearTimeout(p.timer);
          p.reject(new Error('connection closed'));
        }
        this.pending.clear();
        this.emit('close', {});
      };
    }

    receive(text) {
      let msg;
      try {
        msg = JSON.parse(text);
      } catch (err) {
        return;
      }
      if (msg.uuid) this.uuid = msg.uuid;
      const p = msg.sequence ? this.pending.get(msg.sequence) : undefined;
      if (p) {
        this.pending.delete(msg.sequence);
        clearTimeout(p.timer);
        p.resolve(msg);
      } else {
        this.emit(msg.cmd, msg);
      }
      this.emit('*', msg);
    }

    // Resolves with the whole reply {cmd, data:{errorCode,...}, sequence, uuid}.
    command(cmd, data, timeoutMs = 10000) {
      const sequence = String(this.nextSequence++);
      return new Promise((resolve, reject) => {
        const timer = setTimeout(() => {
          this.pending.delete(sequence);
          reject(new Error(cmd + ': no reply within ' + timeoutMs + ' ms'));
        }, timeoutMs);
        this.pending.set(sequence, { resolve, reject, timer });
        this.ws.send(JSON.stringify({ cmd, data: data || {}, sequence }));
      });
    }

    on(cmd, fn) {
      if (!this.listeners.has(cmd)) this.listeners.set(cmd, []);
      this.listeners.get(cmd).push(fn);
    }

    emit(cmd, msg) {
      for (const fn of this.listeners.get(cmd) || []) fn(msg);
    }

    close() {
      this.ws.close();
    }
  }

  // Options: port (default: the page's own port), secure (default: the page's scheme), host.
  function connect(options = {}) {
    const secure = options.secure !== undefined ? options.secure : root.location.protocol === 'https:';
    const host = options.host || root.location.hostname || '127.0.0.1';
    const port = options.port || root.location.port;
    const url = (secure ? 'wss://' : 'ws://') + (host.includes(':') ? '[' + host + ']' : host) + ':' + port + '/';
    return new Promise((resolve, reject) => {
      const ws = new WebSocket(url);
      ws.onopen = () => resolve(new NimbrelClient(ws));
      ws.onerror = () => reject(new Error('cannot connect to ' + url));
    });
  }

  // The page region of an element, as createWnd and moveWnd expect it. bodyHeight lets the service
  // place the windows from the browser window's bottom edge on Linux.
  function regionOf(element) {
    const r = element.getBoundingClientRect();
    return {
      left: Math.round(r.left),
      top: Math.round(r.top),
      width: Math.round(r.width),
      height: Math.round(r.height),
      bodyHeight: root.innerHeight,
    };
  }

  root.Nimbrel = { connect, regionOf, NimbrelClient };
})(typeof window !== 'undefined' ? window : globalThis);
