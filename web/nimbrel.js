// nimbrel.js - the page side of Nimbrel, with no dependencies.
//
// As a plain script it sets window.Nimbrel:
//   <script src="nimbrel.js"></script>
//   const client = await Nimbrel.connect({ port: 9000 });
// As a module (nimbrel.mjs re-exports the same names):
//   import { connect } from './nimbrel.mjs';
// The file holds no import or export statement, so both loaders accept it; web/README.md has the
// whole API with examples.
(function (root) {
  'use strict';

  /**
   * A command that failed: `code` is the service's negative errorCode, or 'timeout' (no reply in
   * time), 'closed' (the connection closed before the reply), 'connect' (no service found),
   * 'busy' (the operation cannot run now).
   */
  class NimbrelError extends Error {
    /**
     * @param {number|string} code
     * @param {string} cmd
     * @param {string} message
     * @param {object} [data] the reply's data, when there was a reply
     */
    constructor(code, cmd, message, data) {
      super(message);
      this.name = 'NimbrelError';
      this.code = code;
      this.cmd = cmd;
      this.data = data;
    }
  }

  // Small event emitter: on/off/once/emit; a throwing listener does not stop the others.
  class Emitter {
    constructor() {
      this._listeners = new Map();
    }

    /** @param {string} name @param {(payload: any) => void} fn @returns {this} */
    on(name, fn) {
      if (!this._listeners.has(name)) this._listeners.set(name, new Set());
      this._listeners.get(name).add(fn);
      return this;
    }

    /** @param {string} name @param {(payload: any) => void} fn @returns {this} */
    off(name, fn) {
      const set = this._listeners.get(name);
      if (set) set.delete(fn);
      return this;
    }

    /** @param {string} name @param {(payload: any) => void} fn @returns {this} */
    once(name, fn) {
      const wrapped = (payload) => {
        this.off(name, wrapped);
        fn(payload);
      };
      return this.on(name, wrapped);
    }

    emit(name, payload) {
      const set = this._listeners.get(name);
      if (!set) return;
      for (const fn of [...set]) {
        try {
          fn(payload);
        } catch (err) {
          if (root.console) root.console.error(err);
        }
      }
    }
  }

  const kDefaults = {
    port: 9000,
    secure: false,
    host: '127.0.0.1',
    timeoutMs: 10000,
    portCount: 10, // the service probes ServicePortStart and the next 9
    webVersion: '',
    title: true,
    reconnect: { initialDelayMs: 250, maxDelayMs: 5000, maxAttempts: Infinity },
  };

  // Commands that wait on a person or on slow work get longer than the default time-out.
  const kCommandTimeouts = { browseFilePath: 0, openSound: 15000 };

  const hasDocument = () => typeof root.document !== 'undefined' && root.document !== null;
  const delay = (ms) => new Promise((resolve) => setTimeout(resolve, ms));

  function socketUrl(host, port, secure) {
    const h = host.includes(':') && !host.startsWith('[') ? '[' + host + ']' : host;
    return (secure ? 'wss://' : 'ws://') + h + ':' + port + '/';
  }

  // Opens one WebSocket and proves that a Nimbrel service answers on it: resolves with
  // {ws, hello} after a webconnect reply, rejects on failure or after timeoutMs.
  function openService(WebSocketImpl, url, webVersion, timeoutMs) {
    return new Promise((resolve, reject) => {
      let ws;
      try {
        ws = new WebSocketImpl(url);
      } catch (err) {
        reject(err);
        return;
      }
      const sequence = 'hello';
      let done = false;
      const finish = (err, value) => {
        if (done) return;
        done = true;
        clearTimeout(timer);
        ws.onopen = ws.onmessage = ws.onclose = null;
        ws.onerror = () => {}; // closing a socket still connecting reports an error
        if (err) {
          try {
            ws.close();
          } catch (e) {
            // already closed
          }
          reject(err);
        } else {
          resolve(value);
        }
      };
      const timer = setTimeout(() => finish(new Error('no answer from ' + url)), timeoutMs);
      ws.onopen = () => ws.send(JSON.stringify({ cmd: 'webconnect', data: { webVersion }, sequence }));
      ws.onmessage = (event) => {
        let msg;
        try {
          msg = JSON.parse(event.data);
        } catch (err) {
          finish(new Error(url + ' is not a Nimbrel service'));
          return;
        }
        if (msg && msg.cmd === 'webconnect' && msg.sequence === sequence && typeof msg.uuid === 'string') {
          finish(null, { ws, hello: msg });
        } else {
          finish(new Error(url + ' is not a Nimbrel service'));
        }
      };
      ws.onerror = () => finish(new Error('cannot connect to ' + url));
      ws.onclose = () => finish(new Error('cannot connect to ' + url));
    });
  }

  // Tries port, port+1, ... in order (the service takes the first free one of ten) and takes the
  // first that answers as the service does.
  async function findService(options) {
    const WebSocketImpl = options.WebSocket || root.WebSocket;
    if (!WebSocketImpl) throw new NimbrelError('connect', 'webconnect', 'no WebSocket in this environment (pass options.WebSocket)');
    const perPort = Math.min(options.timeoutMs || 3000, 3000);
    const errors = [];
    for (let i = 0; i < options.portCount; i++) {
      const port = options.port + i;
      const url = socketUrl(options.host, port, options.secure);
      try {
        const found = await openService(WebSocketImpl, url, options.webVersion, perPort);
        return { ...found, port, url };
      } catch (err) {
        errors.push(err.message);
      }
    }
    throw new NimbrelError('connect', 'webconnect',
      'no Nimbrel service on ' + options.host + ' ports ' + options.port + '..' + (options.port + options.portCount - 1)
      + ' (' + errors[errors.length - 1] + ')');
  }

  // Keeps the session id in document.title next to the page's own title, also when the page
  // changes its title later; the service finds the browser window by this id in its caption.
  class TitleTag {
    constructor() {
      this._id = '';
      this._observer = null;
      this._apply = () => {
        const doc = root.document;
        if (this._id && !doc.title.includes(this._id)) doc.title = doc.title ? doc.title + ' ' + this._id : this._id;
      };
    }

    set(id) {
      if (!hasDocument()) return;
      this.clear();
      this._id = id;
      this._apply();
      if (typeof root.MutationObserver === 'function' && root.document.head) {
        this._observer = new root.MutationObserver(this._apply);
        this._observer.observe(root.document.head, { childList: true, subtree: true, characterData: true });
      }
    }

    clear() {
      if (this._observer) this._observer.disconnect();
      this._observer = null;
      if (this._id && hasDocument()) {
        const doc = root.document;
        doc.title = doc.title.split(' ' + this._id).join('').split(this._id).join('');
      }
      this._id = '';
    }
  }

  /**
   * @typedef {Object} ConnectOptions
   * @property {number} [port=9000] first port to try (the service's ServicePortStart)
   * @property {boolean} [secure=false] wss:// instead of ws://
   * @property {string} [host='127.0.0.1']
   * @property {number} [timeoutMs=10000] default time-out of a command
   * @property {number} [portCount=10] ports tried from `port` on
   * @property {string} [webVersion=''] sent with webconnect
   * @property {boolean} [title=true] put the session id into document.title
   * @property {false|{initialDelayMs?: number, maxDelayMs?: number, maxAttempts?: number}} [reconnect]
   *   reconnect after the connection is lost (default on, back-off 250 ms doubling to 5 s)
   * @property {Function} [WebSocket] WebSocket constructor, for environments without a global one
   */

  /** @typedef {{timeoutMs?: number}} CommandOptions  timeoutMs 0 waits for ever */
  /** @typedef {{errorCode: number}} Reply */
  /** @typedef {{left: number, top: number, width: number, height: number, bodyHeight?: number}} Rect */
  /** @typedef {{wndColor: string, borderColor: string, highlightColor: string, borderPixel: number, highlightPixel: number}} WndStyle */
  /** @typedef {{videoCoder: number, audioCoder: number, frameRate: number, bitRate: number, width: number, height: number}} PlayParam */
  /** @typedef {{action?: string, data?: {channel?: number, sessionID?: string, speed?: number, seekTime?: string, startTime?: string, endTime?: string, fileSize?: string, id?: string, encodeType?: string|number, [key: string]: any}, [key: string]: any}} RequestJson */
  /** @typedef {{url: string, wndIndex: number, requestJson: RequestJson, playParam: PlayParam, dxva?: boolean}} PlayData */
  /** @typedef {{wndIndex: number, stream?: number, speed?: number, callback?: string}} PaneQuery */

  /**
   * One connection to the service. Made by `connect()`.
   * Events (client.on(name, fn)): the service's notices "onGetSelectWndIndex", "notice",
   * "startPlay", "startTalk", "playbackFileEnd", "downloadStartTime", "downloadProgress",
   * "resource" (the resource guard's notice, cmd "notice" with errorCode 1) with the notice's
   * `data` (plus `uuid`); '*' with every message received; 'disconnect' when the connection is
   * lost; 'reconnecting' {attempt, delayMs}; 'reconnect' {sessionId, port} once a new connection
   * is made and attached groups are replayed; 'close' when the client is finished (close(), or
   * the connection lost with reconnecting off or given up); 'error' with a NimbrelError of
   * background work (replaying a group).
   */
  class NimbrelClient extends Emitter {
    constructor(options, found) {
      super();
      this.options = options;
      /** @type {string} the session id (uuid) the service gave this connection */
      this.sessionId = '';
      /** @type {string} the service's version (config.ini Info/Version) */
      this.version = '';
      /** @type {number} the port connected to */
      this.port = 0;
      /** @type {'open'|'reconnecting'|'closed'} */
      this.state = 'open';
      this._sequence = 0;
      this._pending = new Map(); // sequence -> {resolve, reject, timer, cmd}
      this._title = new TitleTag();
      this._groups = new Set();
      this._adopt(found);
    }

    _adopt(found) {
      this._ws = found.ws;
      this.port = found.port;
      this.sessionId = found.hello.uuid;
      this.version = (found.hello.data && found.hello.data.version) || '';
      this.state = 'open';
      if (this.options.title) this._title.set(this.sessionId);
      this._ws.onmessage = (event) => this._receive(event.data);
      this._ws.onclose = () => this._lost(found.ws);
      this._ws.onerror = () => {};
    }

    _receive(text) {
      let msg;
      try {
        msg = JSON.parse(text);
      } catch (err) {
        return;
      }
      if (!msg || typeof msg !== 'object') return;
      const pending = msg.sequence ? this._pending.get(msg.sequence) : undefined;
      if (pending) {
        this._pending.delete(msg.sequence);
        clearTimeout(pending.timer);
        const data = msg.data || {};
        if (typeof data.errorCode === 'number' && data.errorCode < 0) {
          pending.reject(new NimbrelError(data.errorCode, pending.cmd, pending.cmd + ' failed with errorCode ' + data.errorCode, data));
        } else {
          pending.resolve(data);
        }
      } else if (!msg.sequence && typeof msg.cmd === 'string') {
        const payload = { ...(msg.data || {}), uuid: msg.uuid };
        // The resource guard's notice is a "notice" with errorCode 1; it gets a name of its own.
        const name = msg.cmd === 'notice' && payload.errorCode === 1 ? 'resource' : msg.cmd;
        this.emit(name, payload);
      }
      this.emit('*', msg);
    }

    _rejectPending(code, message) {
      const pending = [...this._pending.values()];
      this._pending.clear();
      for (const p of pending) {
        clearTimeout(p.timer);
        p.reject(new NimbrelError(code, p.cmd, p.cmd + ': ' + message));
      }
    }

    _lost(ws) {
      if (ws !== this._ws || this.state === 'closed') return;
      this._rejectPending('closed', 'the connection closed before the reply');
      this._title.clear();
      this.emit('disconnect', { sessionId: this.sessionId });
      if (this.options.reconnect) this._reconnect();
      else this._finish();
    }

    _finish() {
      this.state = 'closed';
      this._title.clear();
      for (const group of [...this._groups]) group._detach();
      this.emit('close', { sessionId: this.sessionId });
    }

    async _reconnect() {
      this.state = 'reconnecting';
      const r = { ...kDefaults.reconnect, ...(typeof this.options.reconnect === 'object' ? this.options.reconnect : {}) };
      let wait = r.initialDelayMs;
      for (let attempt = 1; attempt <= r.maxAttempts; attempt++) {
        const delayMs = Math.round(wait * (0.8 + 0.4 * Math.random()));
        this.emit('reconnecting', { attempt, delayMs });
        await delay(delayMs);
        if (this.state !== 'reconnecting') return; // closed meanwhile
        wait = Math.min(wait * 2, r.maxDelayMs);
        let found;
        try {
          found = await findService(this.options);
        } catch (err) {
          continue;
        }
        if (this.state !== 'reconnecting') {
          found.ws.close();
          return;
        }
        this._adopt(found);
        for (const group of this._groups) {
          try {
            await group._replay();
          } catch (err) {
            this.emit('error', err);
          }
        }
        if (this.state === 'open') this.emit('reconnect', { sessionId: this.sessionId, port: this.port });
        return;
      }
      this._finish();
    }

    /**
     * Sends any command and resolves with the reply's `data` (errorCode 0 or positive); rejects
     * with NimbrelError on a negative errorCode, a time-out or a closed connection.
     * @param {string} cmd
     * @param {object} [data]
     * @param {CommandOptions} [options]
     * @returns {Promise<Reply & Record<string, any>>}
     */
    command(cmd, data, options) {
      return this._send(cmd, data, options, JSON.stringify);
    }

    _send(cmd, data, options, serialise) {
      return new Promise((resolve, reject) => {
        if (this.state !== 'open') {
          reject(new NimbrelError('closed', cmd, cmd + ': the connection is ' + this.state));
          return;
        }
        const sequence = String(++this._sequence);
        const timeoutMs = options && options.timeoutMs !== undefined ? options.timeoutMs
          : cmd in kCommandTimeouts ? kCommandTimeouts[cmd] : this.options.timeoutMs;
        const timer = timeoutMs > 0 ? setTimeout(() => {
          this._pending.delete(sequence);
          reject(new NimbrelError('timeout', cmd, cmd + ': no reply within ' + timeoutMs
            + ' ms (the service does not answer a command whose keys it cannot read)'));
        }, timeoutMs) : null;
        this._pending.set(sequence, { resolve, reject, timer, cmd });
        try {
          this._ws.send(serialise({ cmd, data: data || {}, sequence }));
        } catch (err) {
          this._pending.delete(sequence);
          clearTimeout(timer);
          reject(new NimbrelError('closed', cmd, cmd + ': ' + err.message));
        }
      });
    }

    /** Closes the connection for good: no reconnect; pending commands reject with 'closed'. */
    close() {
      if (this.state === 'closed') return;
      const ws = this._ws;
      this._rejectPending('closed', 'the client was closed');
      this._finish();
      try {
        ws.close();
      } catch (err) {
        // already closed
      }
    }

    /**
     * Lays a window group over `element` and keeps it there; see AttachedGroup.
     * @param {Element} element
     * @param {AttachOptions} [options]
     * @returns {Promise<AttachedGroup>}
     */
    async attach(element, options) {
      for (const g of this._groups) {
        if (!g.destroyed) throw new NimbrelError('busy', 'createWnd', 'this connection already has an attached group (one per connection)');
      }
      const group = new AttachedGroup(this, element, options || {});
      this._groups.add(group);
      try {
        await group._create();
      } catch (err) {
        this._groups.delete(group);
        group._detach();
        throw err;
      }
      group._watch();
      return group;
    }

    // ---- Connection ----

    /** @param {{webVersion?: string}} [data] @param {CommandOptions} [o] @returns {Promise<Reply & {version: string}>} */
    webconnect(data, o) { return this.command('webconnect', data, o); }
    /** @param {{processName: string}} data @param {CommandOptions} [o] @returns {Promise<Reply & {isAdministrator: boolean}>} */
    getProcessIsAdmin(data, o) { return this.command('getProcessIsAdmin', data, o); }
    /** @param {{decStrategy: number}} data @param {CommandOptions} [o] @returns {Promise<Reply>} */
    setDecStrategy(data, o) { return this.command('setDecStrategy', data, o); }

    // ---- Window commands ----

    /** Creates the window group; the browser's caption must hold sessionId (connect() sees to it).
     * @param {{rect: Rect, style?: WndStyle}} data @param {CommandOptions} [o] @returns {Promise<Reply & {browser: string}>} */
    createWnd(data, o) { return this.command('createWnd', data, o); }
    /** @param {{rect: Rect}} data @param {CommandOptions} [o] @returns {Promise<Reply>} */
    moveWnd(data, o) { return this.command('moveWnd', data, o); }
    /** Destroys the group and stops every play channel (talk and download go on).
     * @param {object} [data] @param {CommandOptions} [o] @returns {Promise<Reply>} */
    destroyWnd(data, o) { return this.command('destroyWnd', data, o); }
    /** @param {{arrangeType: number}} data 1..64 panes, or 1001/2001/3001/4001 @param {CommandOptions} [o] @returns {Promise<Reply>} */
    arrangeWnd(data, o) { return this.command('arrangeWnd', data, o); }
    /** @param {{ratioType: number}} data @param {CommandOptions} [o] @returns {Promise<Reply>} */
    setWndRatio(data, o) { return this.command('setWndRatio', data, o); }
    /** @param {object} [data] @param {CommandOptions} [o] @returns {Promise<Reply>} */
    hideWnd(data, o) { return this.command('hideWnd', data, o); }
    /** @param {object} [data] @param {CommandOptions} [o] @returns {Promise<Reply>} */
    showWnd(data, o) { return this.command('showWnd', data, o); }
    /** @param {object} [data] @param {CommandOptions} [o] @returns {Promise<Reply>} */
    updateWebWnd(data, o) { return this.command('updateWebWnd', data, o); }
    /** @param {object} [data] @param {CommandOptions} [o] @returns {Promise<Reply>} */
    fullScreen(data, o) { return this.command('fullScreen', data, o); }
    /** @param {object} [data] @param {CommandOptions} [o] @returns {Promise<Reply & {wndIndex: number, channel: number}>} */
    getSelectWndIndex(data, o) { return this.command('getSelectWndIndex', data, o); }
    /** @param {{status: boolean}} data @param {CommandOptions} [o] @returns {Promise<Reply>} */
    corridorModeStatus(data, o) { return this.command('corridorModeStatus', data, o); }
    /** Cuts a width x height hole at the group's bottom right.
     * @param {{rect: {width: number, height: number}}} data @param {CommandOptions} [o] @returns {Promise<Reply>} */
    cuttingPartWnd(data, o) { return this.command('cuttingPartWnd', data, o); }
    /** @param {object} [data] @param {CommandOptions} [o] @returns {Promise<Reply>} */
    repairPartWnd(data, o) { return this.command('repairPartWnd', data, o); }

    // ---- Stream commands ----

    /** Live view of camera channel requestJson.data.channel in pane wndIndex; a channel that
     * already plays in another pane is restarted in that pane instead.
     * @param {PlayData} data @param {CommandOptions} [o] @returns {Promise<Reply>} */
    startPlay(data, o) { return this.command('startPlay', data, o); }
    /** @param {PlayData} data @param {CommandOptions} [o] @returns {Promise<Reply & {wndIndex: number}>} */
    startPlayBack(data, o) { return this.command('startPlayBack', data, o); }
    /** @param {{url: string, param: Array<{requestJson: RequestJson, wndIndex: number, playParam: PlayParam, dxva?: boolean}>}} data @param {CommandOptions} [o] @returns {Promise<Reply>} */
    startMultiPlay(data, o) { return this.command('startMultiPlay', data, o); }
    /** @param {{url: string, param: Array<{requestJson: RequestJson, wndIndex: number, playParam: PlayParam, dxva?: boolean}>}} data @param {CommandOptions} [o] @returns {Promise<Reply>} */
    startMultiPlayBack(data, o) { return this.command('startMultiPlayBack', data, o); }
    /** Stops camera channel `channel` (-1: every play channel).
     * @param {{channel: number, requestJson: RequestJson}} data @param {CommandOptions} [o] @returns {Promise<Reply>} */
    stopPlay(data, o) { return this.command('stopPlay', data, o); }
    /** Stops the stream of pane wndIndex (-1: every pane), live or playback.
     * @param {{wndIndex: number, requestJson: RequestJson}} data @param {CommandOptions} [o] @returns {Promise<Reply>} */
    stopPlayBack(data, o) { return this.command('stopPlayBack', data, o); }
    /** @param {{wndIndex: number, requestJson: RequestJson}} data @param {CommandOptions} [o] @returns {Promise<Reply>} */
    pausePlayBack(data, o) { return this.command('pausePlayBack', data, o); }
    /** @param {{wndIndex: number, requestJson: RequestJson}} data @param {CommandOptions} [o] @returns {Promise<Reply>} */
    resumePlayBack(data, o) { return this.command('resumePlayBack', data, o); }
    /** requestJson.data.seekTime names the target.
     * @param {{wndIndex: number, requestJson: RequestJson}} data @param {CommandOptions} [o] @returns {Promise<Reply & {wndIndex: number, seekTime: string}>} */
    seekPlayBack(data, o) { return this.command('seekPlayBack', data, o); }
    /** requestJson.data.speed names the speed.
     * @param {{wndIndex: number, requestJson: RequestJson}} data @param {CommandOptions} [o] @returns {Promise<Reply>} */
    setPlaybackSpeed(data, o) { return this.command('setPlaybackSpeed', data, o); }
    /** @param {PaneQuery} data @param {CommandOptions} [o] @returns {Promise<Reply & {osdTime: number, wndIndex: number, stream: number, speed: number, callback: string}>} */
    getOSDTime(data, o) { return this.command('getOSDTime', data, o); }
    /** @param {PaneQuery} data @param {CommandOptions} [o] @returns {Promise<Reply>} */
    openSound(data, o) { return this.command('openSound', data, o); }
    /** @param {object} [data] @param {CommandOptions} [o] @returns {Promise<Reply>} */
    closeSound(data, o) { return this.command('closeSound', data, o); }
    /** Snapshot of pane wndIndex into fileName (.jpg, .png, .bmp).
     * @param {{wndIndex: number, fileName: string, channel?: number, platform?: number}} data @param {CommandOptions} [o] @returns {Promise<Reply>} */
    capture(data, o) { return this.command('capture', data, o); }
    /** @param {{wndIndex: number, fileName: string, channel?: number, platform?: number}} data @param {CommandOptions} [o] @returns {Promise<Reply>} */
    startRecord(data, o) { return this.command('startRecord', data, o); }
    /** @param {{wndIndex?: number, channel?: number, platform?: number}} data @param {CommandOptions} [o] @returns {Promise<Reply>} */
    stopRecord(data, o) { return this.command('stopRecord', data, o); }
    /** @param {{param: Array<{fileName: string, channel: number, wndIndex: number}>}} data @param {CommandOptions} [o] @returns {Promise<Reply>} */
    startMultiRecord(data, o) { return this.command('startMultiRecord', data, o); }
    /** @param {PaneQuery} data @param {CommandOptions} [o] @returns {Promise<Reply>} */
    enableZoom(data, o) { return this.command('enableZoom', data, o); }
    /** @param {PaneQuery} data @param {CommandOptions} [o] @returns {Promise<Reply>} */
    disableZoom(data, o) { return this.command('disableZoom', data, o); }
    /** Coordinates are percentages; they are sent as JSON numbers with a fraction, as the service requires.
     * @param {{wndIndex: number, coordinateX: number, coordinateY: number, penWidth: number, penColor: string}} data @param {CommandOptions} [o] @returns {Promise<Reply>} */
    setDigitalZoom(data, o) { return this._send('setDigitalZoom', data, o, serialiseWithFractions); }
    /** @param {PaneQuery} data @param {CommandOptions} [o] @returns {Promise<Reply & {coordinateX: number, coordinateY: number}>} */
    getDigitalZoom(data, o) { return this.command('getDigitalZoom', data, o); }
    /** @param {PaneQuery} data @param {CommandOptions} [o] @returns {Promise<Reply>} */
    closeDigitalZoom(data, o) { return this.command('closeDigitalZoom', data, o); }
    /** @param {{channel: number}} data @param {CommandOptions} [o] @returns {Promise<Reply & {bitRate: number}>} */
    getBitRate(data, o) { return this.command('getBitRate', data, o); }
    /** @param {{rate: string, channel: number}} data @param {CommandOptions} [o] @returns {Promise<Reply>} */
    setDrawPTZRate(data, o) { return this.command('setDrawPTZRate', data, o); }
    /** Progress arrives as "downloadStartTime" and "downloadProgress" events.
     * @param {{url: string, fileName: string, fileSize?: string, requestJson: RequestJson}} data @param {CommandOptions} [o] @returns {Promise<Reply>} */
    startDownload(data, o) { return this.command('startDownload', data, o); }
    /** @param {{requestJson: RequestJson}} data @param {CommandOptions} [o] @returns {Promise<Reply>} */
    stopDownload(data, o) { return this.command('stopDownload', data, o); }
    /** requestJson.data.encodeType: "G711A", "G711U", "AAC", "MP2L2" or a codec number.
     * @param {{url: string, requestJson: RequestJson}} data @param {CommandOptions} [o] @returns {Promise<Reply & {channel: number}>} */
    startTalk(data, o) { return this.command('startTalk', data, o); }
    /** @param {{requestJson: RequestJson}} data @param {CommandOptions} [o] @returns {Promise<Reply>} */
    stopTalk(data, o) { return this.command('stopTalk', data, o); }
    /** @param {{fileName: string, fileBase64: string}} data @param {CommandOptions} [o] @returns {Promise<Reply>} */
    downloadPicture(data, o) { return this.command('downloadPicture', data, o); }

    // ---- Local settings and files ----

    /** @param {{deviceType?: string}} data @param {CommandOptions} [o] @returns {Promise<Reply & {localConfig: {savePath?: string, recordFilePath?: string, downloadFilePath?: string, captureLivePath?: string, capturePlaybackPath?: string, clipsPlaybackPath?: string}}>} */
    getLocalConfig(data, o) { return this.command('getLocalConfig', data, o); }
    /** @param {{deviceType: string, localConfig: Record<string, string>}} data @param {CommandOptions} [o] @returns {Promise<Reply>} */
    setLocalConfig(data, o) { return this.command('setLocalConfig', data, o); }
    /** Shows a folder picker; waits for the user (no time-out unless given).
     * @param {object} [data] @param {CommandOptions} [o] @returns {Promise<Reply & {filePath: string}>} */
    browseFilePath(data, o) { return this.command('browseFilePath', data, o); }
    /** @param {{filePath: string}} data @param {CommandOptions} [o] @returns {Promise<Reply>} */
    openDownloadFloder(data, o) { return this.command('openDownloadFloder', data, o); }

    // ---- Device, P2P and platform commands: the service accepts them and does no work ----

    /** @param {{ipType: number, deviceProtocol: number, onvifMultiNet: boolean}} data @param {CommandOptions} [o] @returns {Promise<Reply>} */
    searchDevice(data, o) { return this.command('searchDevice', data, o); }
    /** @param {{ip: string, url: string, isPost: boolean, requestJson: RequestJson}} data @param {CommandOptions} [o] @returns {Promise<Reply & {param: string}>} */
    callHttpRequest(data, o) { return this.command('callHttpRequest', data, o); }
    /** @param {{ip: string, httpPort: number, userName: string, password: string}} data @param {CommandOptions} [o] @returns {Promise<Reply & {sessionId: string}>} */
    loginDevice(data, o) { return this.command('loginDevice', data, o); }
    /** @param {{ip: string}} data @param {CommandOptions} [o] @returns {Promise<Reply>} */
    logoutDevice(data, o) { return this.command('logoutDevice', data, o); }
    /** @param {{platform: number, param: object}} data @param {CommandOptions} [o] @returns {Promise<Reply & {param: string}>} */
    startP2PPlay(data, o) { return this.command('startP2PPlay', data, o); }
    /** @param {{platform: number, param: {channelId: number}}} data @param {CommandOptions} [o] @returns {Promise<Reply>} */
    stopP2PPlay(data, o) { return this.command('stopP2PPlay', data, o); }
    /** @param {{platform: number, param: object}} data @param {CommandOptions} [o] @returns {Promise<Reply>} */
    startP2PPlayBack(data, o) { return this.command('startP2PPlayBack', data, o); }
    /** @param {{platform: number, param: {channelId: number}}} data @param {CommandOptions} [o] @returns {Promise<Reply>} */
    stopP2PPlayBack(data, o) { return this.command('stopP2PPlayBack', data, o); }
    /** @param {{platform: number, param: object}} data @param {CommandOptions} [o] @returns {Promise<Reply>} */
    skipRecordStream(data, o) { return this.command('skipRecordStream', data, o); }
    /** @param {{platform: number, param: object}} data @param {CommandOptions} [o] @returns {Promise<Reply & {param: string}>} */
    searchRecordFile(data, o) { return this.command('searchRecordFile', data, o); }
    /** @param {{platform: number, param?: object}} data @param {CommandOptions} [o] @returns {Promise<Reply & {param: string}>} */
    startPtzControl(data, o) { return this.command('startPtzControl', data, o); }
    /** @param {{platform: number, show: boolean}} data @param {CommandOptions} [o] @returns {Promise<Reply>} */
    showChannelNo(data, o) { return this.command('showChannelNo', data, o); }
    /** @param {{number: number}} data @param {CommandOptions} [o] @returns {Promise<Reply>} */
    setNumForOnePage(data, o) { return this.command('setNumForOnePage', data, o); }
    /** @param {{type: number}} data @param {CommandOptions} [o] @returns {Promise<Reply & {param: string}>} */
    showFirstPage(data, o) { return this.command('showFirstPage', data, o); }
    /** @param {{type: number}} data @param {CommandOptions} [o] @returns {Promise<Reply & {param: string}>} */
    showNextPage(data, o) { return this.command('showNextPage', data, o); }
    /** @param {{type: number, startTime: string, endTime: string}} data @param {CommandOptions} [o] @returns {Promise<Reply & {param: string}>} */
    searchByMonth(data, o) { return this.command('searchByMonth', data, o); }
    /** @param {{type: number, filePath: string}} data @param {CommandOptions} [o] @returns {Promise<Reply>} */
    deleteLocalFile(data, o) { return this.command('deleteLocalFile', data, o); }
    /** @param {{loginType: number, platform: object}} data @param {CommandOptions} [o] @returns {Promise<Reply>} */
    loginPlatform(data, o) { return this.command('loginPlatform', data, o); }
  }

  // setDigitalZoom's coordinates must be JSON numbers written with a fraction: the service reads
  // an integer literal such as 25 as a type error and drops the command without a reply.
  function serialiseWithFractions(message) {
    return JSON.stringify(message).replace(/"(coordinateX|coordinateY)":(-?\d+)(?=[,}])/g, '"$1":$2.0');
  }

  // ---------------------------------------------------------------------------------------------
  // Geometry: where an element lies, in the device pixels the service works in.

  /**
   * The page region of `element` as createWnd and moveWnd take it: device pixels relative to the
   * viewport, and bodyHeight (the viewport's height) with which the service places the group
   * from the browser window's bottom edge.
   * @param {Element} element
   * @param {number} [scale] device pixels per CSS pixel (default: devicePixelRatio, which page zoom changes)
   * @returns {Rect}
   */
  function regionOf(element, scale) {
    const s = scale || root.devicePixelRatio || 1;
    const r = element.getBoundingClientRect();
    const left = Math.round(r.left * s);
    const top = Math.round(r.top * s);
    return {
      left,
      top,
      width: Math.round(r.right * s) - left,
      height: Math.round(r.bottom * s) - top,
      bodyHeight: Math.round(root.innerHeight * s),
    };
  }

  const kClipsOverflow = /(hidden|scroll|auto|clip)/;

  // The part of the viewport where `element` can be seen: the viewport without scroll bars, cut
  // down by every ancestor that clips its overflow. CSS pixels, viewport-relative.
  function visibleBox(element) {
    const doc = root.document;
    let box = { left: 0, top: 0, right: doc.documentElement.clientWidth, bottom: doc.documentElement.clientHeight };
    for (let node = element.parentElement; node && node !== doc.body && node !== doc.documentElement; node = node.parentElement) {
      const style = root.getComputedStyle(node);
      const clipX = kClipsOverflow.test(style.overflowX), clipY = kClipsOverflow.test(style.overflowY);
      if (!clipX && !clipY) continue;
      const r = node.getBoundingClientRect();
      const inner = {
        left: r.left + node.clientLeft,
        top: r.top + node.clientTop,
        right: r.left + node.clientLeft + node.clientWidth,
        bottom: r.top + node.clientTop + node.clientHeight,
      };
      if (clipX) box = { ...box, left: Math.max(box.left, inner.left), right: Math.min(box.right, inner.right) };
      if (clipY) box = { ...box, top: Math.max(box.top, inner.top), bottom: Math.min(box.bottom, inner.bottom) };
    }
    return box;
  }

  function elementShown(element) {
    if (typeof element.checkVisibility === 'function') {
      return element.checkVisibility({ visibilityProperty: true, checkVisibilityCSS: true });
    }
    return element.getClientRects().length > 0 && root.getComputedStyle(element).visibility !== 'hidden';
  }

  /**
   * What the group should look like now: {visible, rect, cut} with cut {width, height} in device
   * pixels or null. `partial` decides what happens when only part of the element can be seen:
   * 'cut' cuts away what lies beyond the bottom or the right edge and hides the group when the
   * element is cut at its top or left, or at both bottom and right (the service can only remove
   * one rectangle at the bottom right); 'hide' hides the group unless all of it can be seen;
   * 'none' shows it whole as long as any of it can be seen.
   */
  function desiredState(element, partial, scale) {
    const rect = regionOf(element, scale);
    if (hasDocument() && root.document.visibilityState === 'hidden') return { visible: false, rect, cut: null };
    const r = element.getBoundingClientRect();
    if (r.width <= 0 || r.height <= 0 || !elementShown(element)) return { visible: false, rect, cut: null };
    const box = visibleBox(element);
    const seen = {
      left: Math.max(r.left, box.left), top: Math.max(r.top, box.top),
      right: Math.min(r.right, box.right), bottom: Math.min(r.bottom, box.bottom),
    };
    if (seen.right - seen.left < 1 || seen.bottom - seen.top < 1) return { visible: false, rect, cut: null };
    const s = scale || root.devicePixelRatio || 1;
    const outLeft = Math.round((seen.left - r.left) * s), outTop = Math.round((seen.top - r.top) * s);
    const outRight = Math.round((r.right - seen.right) * s), outBottom = Math.round((r.bottom - seen.bottom) * s);
    if (!outLeft && !outTop && !outRight && !outBottom) return { visible: true, rect, cut: null };
    if (partial === 'none') return { visible: true, rect, cut: null };
    if (partial === 'hide' || outLeft || outTop || (outRight && outBottom)) return { visible: false, rect, cut: null };
    const cut = outBottom ? { width: rect.width, height: outBottom } : { width: outRight, height: rect.height };
    return { visible: true, rect, cut };
  }

  const sameRect = (a, b) => !!a && !!b && a.left === b.left && a.top === b.top && a.width === b.width
    && a.height === b.height && a.bodyHeight === b.bodyHeight;
  const sameCut = (a, b) => (a === null && b === null) || (!!a && !!b && a.width === b.width && a.height === b.height);

  /**
   * @typedef {Object} AttachOptions
   * @property {WndStyle} [style] colours and frame widths of the panes
   * @property {number} [layout=4] arrangeType at creation
   * @property {'cut'|'hide'|'none'} [partial='cut'] what to do while the element is partly out of view
   * @property {number} [scale] device pixels per CSS pixel (default: devicePixelRatio at each measure)
   * @property {number} [pollMs=250] how often to check for moves no event reports (0: never)
   */

  /**
   * A window group laid over a page element, made by client.attach(). It follows the element
   * (moveWnd once per animation frame at most), hides while the element or the tab is hidden or
   * out of view, cuts itself while partly out of view, and after the service restarts is created
   * again with its layout and the streams started through play().
   */
  class AttachedGroup extends Emitter {
    constructor(client, element, options) {
      super();
      this.client = client;
      this.element = element;
      this.options = { layout: 4, partial: 'cut', pollMs: 250, ...options };
      /** @type {number} the current arrangeType */
      this.layout = this.options.layout;
      /** @type {number|undefined} the ratioType set through setRatio */
      this.ratio = undefined;
      /** @type {Map<number, {cmd: string, data: object}>} the streams to replay, by pane */
      this.streams = new Map();
      /** @type {boolean} */
      this.destroyed = false;
      // What the service was last told.
      this._sent = { visible: true, rect: null, cut: null };
      this._frame = 0;
      this._creating = false;
      this._held = false;
      this._syncing = null;
      this._dirty = false;
      this._cleanup = [];
      this._onNotice = (n) => this._noticeEnded(n);
    }

    _state() {
      const state = desiredState(this.element, this.options.partial, this.options.scale);
      return this._held ? { ...state, visible: false } : state;
    }

    /**
     * Hides the group until resume(), for page content that must show over the element (a menu,
     * a dialog): the group is a window of its own and would cover it. @returns {Promise<void>}
     */
    suspend() {
      this._held = true;
      return this._sync();
    }

    /** Shows the group again where the element is now. @returns {Promise<void>} */
    resume() {
      this._held = false;
      return this._sync();
    }

    // createWnd, visibility, layout and cut; used at attach and again after a reconnect.
    async _create() {
      this._creating = true;
      try {
        await this._createSteps();
      } finally {
        this._creating = false;
      }
      this._schedule();
    }

    async _createSteps() {
      const c = this.client;
      const state = this._state();
      const data = { rect: state.rect };
      if (this.options.style) data.style = this.options.style;
      try {
        await c.createWnd(data);
      } catch (err) {
        // A failed createWnd leaves an empty group in the session that would swallow the next one.
        c.destroyWnd().catch(() => {});
        if (typeof err.code === 'number') {
          err.message = 'createWnd failed (' + err.code + '): the service found no browser window whose caption holds '
            + c.sessionId + ' (is document.title shown as the window caption?)';
        }
        throw err;
      }
      this._sent = { visible: true, rect: state.rect, cut: null };
      if (!state.visible) {
        await c.hideWnd();
        this._sent.visible = false;
      }
      await c.arrangeWnd({ arrangeType: this.layout });
      if (this.ratio !== undefined) await c.setWndRatio({ ratioType: this.ratio });
    }

    async _replay() {
      this._sent = { visible: true, rect: null, cut: null };
      await this._create();
      for (const s of [...this.streams.values()]) {
        try {
          await this.client.command(s.cmd, s.data);
        } catch (err) {
          this.client.emit('error', err);
        }
      }
    }

    _watch() {
      const listen = (target, name, fn, opts) => {
        if (!target || !target.addEventListener) return;
        target.addEventListener(name, fn, opts);
        this._cleanup.push(() => target.removeEventListener(name, fn, opts));
      };
      const schedule = () => this._schedule();
      // capture: scrolls of any scrolling ancestor reach the window only in the capture phase.
      listen(root, 'scroll', schedule, { capture: true, passive: true });
      listen(root, 'resize', schedule);
      listen(root.visualViewport, 'resize', schedule);
      listen(root.visualViewport, 'scroll', schedule);
      listen(root.document, 'fullscreenchange', schedule);
      // A hidden tab runs no animation frames: act at once.
      listen(root.document, 'visibilitychange', () => this._sync());
      this._watchResolution();
      if (typeof root.ResizeObserver === 'function') {
        const ro = new root.ResizeObserver(schedule);
        ro.observe(this.element);
        ro.observe(root.document.documentElement);
        this._cleanup.push(() => ro.disconnect());
      }
      if (typeof root.IntersectionObserver === 'function') {
        const io = new root.IntersectionObserver(schedule, { threshold: [0, 0.01, 0.5, 0.99, 1] });
        io.observe(this.element);
        this._cleanup.push(() => io.disconnect());
      }
      if (this.options.pollMs > 0) {
        // Layout changes that move the element without resizing anything raise no event.
        const timer = setInterval(schedule, this.options.pollMs);
        this._cleanup.push(() => clearInterval(timer));
      }
      this.client.on('playbackFileEnd', this._onNotice);
      this._cleanup.push(() => this.client.off('playbackFileEnd', this._onNotice));
    }

    // Page zoom changes devicePixelRatio; a media query on the current ratio says when.
    _watchResolution() {
      if (typeof root.matchMedia !== 'function') return;
      let stop = () => {};
      const arm = () => {
        const mq = root.matchMedia('(resolution: ' + (root.devicePixelRatio || 1) + 'dppx)');
        const fn = () => {
          stop();
          arm();
          this._schedule();
        };
        mq.addEventListener('change', fn);
        stop = () => mq.removeEventListener('change', fn);
      };
      arm();
      this._cleanup.push(() => stop());
    }

    _noticeEnded(notice) {
      // A playback that reached its end is not started again after a reconnect.
      const s = this.streams.get(notice.wndIndex);
      if (s && s.cmd === 'startPlayBack') this.streams.delete(notice.wndIndex);
    }

    /** Measures again at the next animation frame (for changes no observer reports). */
    update() {
      this._schedule();
    }

    _schedule() {
      if (this.destroyed || this._frame) return;
      const run = () => {
        this._frame = 0;
        this._sync();
      };
      const hidden = hasDocument() && root.document.visibilityState === 'hidden';
      if (typeof root.requestAnimationFrame === 'function' && !hidden) this._frame = root.requestAnimationFrame(run);
      else this._frame = setTimeout(run, 16);
    }

    // Tells the service what changed, one command at a time; changes that arrive meanwhile are
    // measured again when the running pass ends, so a fast scroll sends only what is current.
    _sync() {
      // While the group is being created, _create measures again when it is done.
      if (this.destroyed || this._creating || this.client.state !== 'open') return Promise.resolve();
      if (this._syncing) {
        this._dirty = true;
        return this._syncing;
      }
      this._syncing = (async () => {
        try {
          do {
            this._dirty = false;
            await this._apply(this._state());
          } while (this._dirty && !this.destroyed && this.client.state === 'open');
        } catch (err) {
          if (err.code !== 'closed') this.client.emit('error', err);
        } finally {
          this._syncing = null;
        }
      })();
      return this._syncing;
    }

    async _apply(want) {
      const c = this.client;
      const sent = this._sent;
      if (!want.visible) {
        if (sent.visible) {
          await c.hideWnd();
          sent.visible = false;
        }
        return;
      }
      if (!sameRect(want.rect, sent.rect)) {
        await c.moveWnd({ rect: want.rect });
        sent.rect = want.rect;
        sent.cut = null; // moving drops a cut
      }
      if (!sameCut(want.cut, sent.cut)) {
        if (want.cut) await c.cuttingPartWnd({ rect: want.cut });
        else await c.repairPartWnd();
        sent.cut = want.cut;
      }
      if (!sent.visible) {
        await c.showWnd();
        sent.visible = true;
      }
    }

    /**
     * Changes the layout (arrangeType: 1..64 panes, or 1001/2001/3001/4001); kept for a replay.
     * @param {number} layout @returns {Promise<Reply>}
     */
    async arrange(layout) {
      const reply = await this.client.arrangeWnd({ arrangeType: layout });
      this.layout = layout;
      return reply;
    }

    /** @param {number} ratioType kept for a replay @returns {Promise<Reply>} */
    async setRatio(ratioType) {
      const reply = await this.client.setWndRatio({ ratioType });
      this.ratio = ratioType;
      return reply;
    }

    /**
     * Starts a stream in `pane` (live with startPlay, or playback with startPlayBack when
     * options.playback is set) and keeps it to start again after a reconnect. Resolves with the
     * reply's data and the pane it plays in: a live camera channel that already plays in another
     * pane is restarted there by the service.
     * @param {number} pane
     * @param {{url: string, requestJson: RequestJson, playParam: PlayParam, dxva?: boolean}} data
     * @param {{playback?: boolean, timeoutMs?: number}} [options]
     * @returns {Promise<Reply & {wndIndex: number}>}
     */
    async play(pane, data, options) {
      const playback = !!(options && options.playback);
      const cmd = playback ? 'startPlayBack' : 'startPlay';
      let target = pane;
      if (!playback) {
        const channel = cameraChannel(data);
        for (const [p, s] of this.streams) {
          if (s.cmd === 'startPlay' && cameraChannel(s.data) === channel) {
            target = p;
            break;
          }
        }
      }
      const reply = await this.client.command(cmd, { ...data, wndIndex: pane }, options);
      this.streams.set(target, { cmd, data: { ...data, wndIndex: target } });
      return { ...reply, wndIndex: target };
    }

    /**
     * Stops the stream of `pane`; requestJson defaults to a stop text with the stream's sessionID.
     * @param {number} pane
     * @param {RequestJson} [requestJson]
     * @returns {Promise<Reply>}
     */
    async stop(pane, requestJson) {
      const s = this.streams.get(pane);
      this.streams.delete(pane);
      const sessionID = s && s.data.requestJson && s.data.requestJson.data ? s.data.requestJson.data.sessionID : undefined;
      const text = requestJson || (sessionID !== undefined ? { action: 'stop', data: { sessionID } } : {});
      return this.client.stopPlayBack({ wndIndex: pane, requestJson: text });
    }

    /** Stops every stream of the group. @returns {Promise<Reply>} */
    async stopAll() {
      this.streams.clear();
      return this.client.stopPlayBack({ wndIndex: -1, requestJson: {} });
    }

    _detach() {
      this.destroyed = true;
      if (this._frame) {
        if (typeof root.cancelAnimationFrame === 'function') root.cancelAnimationFrame(this._frame);
        clearTimeout(this._frame);
        this._frame = 0;
      }
      for (const fn of this._cleanup.splice(0)) fn();
      this.client._groups.delete(this);
    }

    /** Stops following the element and destroys the group (its streams end with it). @returns {Promise<Reply|undefined>} */
    async destroy() {
      if (this.destroyed) return undefined;
      this._detach();
      this.streams.clear();
      if (this.client.state !== 'open') return undefined;
      return this.client.destroyWnd();
    }
  }

  function cameraChannel(data) {
    const rj = data && data.requestJson;
    const ch = rj && rj.data ? rj.data.channel : undefined;
    return Number.isInteger(ch) ? ch : 0;
  }

  /**
   * Finds the service on `port` or one of the next 9 ports, answers webconnect, and resolves with
   * the connected client (its session id is in client.sessionId and in document.title).
   * @param {ConnectOptions} [options]
   * @returns {Promise<NimbrelClient>}
   */
  async function connect(options) {
    const o = { ...kDefaults, ...(options || {}) };
    if (options && options.reconnect === undefined) o.reconnect = kDefaults.reconnect;
    o.port = Number(o.port) || kDefaults.port;
    const found = await findService(o);
    return new NimbrelClient(o, found);
  }

  root.Nimbrel = { connect, regionOf, NimbrelClient, NimbrelError, AttachedGroup };
})(typeof window !== 'undefined' ? window : globalThis);
