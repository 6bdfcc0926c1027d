// Shared pieces of the end-to-end tests: a virtual X display with a window manager, the service
// in a temporary run directory, Debian's Chromium driven by playwright-core, and screenshots read
// as pixels.
import { spawn, execFileSync } from 'node:child_process';
import fs from 'node:fs';
import net from 'node:net';
import os from 'node:os';
import path from 'node:path';
import { chromium } from 'playwright-core';

export const RUN_DIR = process.env.NIMBREL_RUN_DIR || path.resolve('build/run');
export const SCREEN = { width: 1280, height: 800 };

// A sanitizer tree runs the service and the source several times slower; its ctest sets
// NIMBREL_TIME_FACTOR (tests/sanitizers/Sanitizers.cmake) and every wait stretches by it.
export const TIME_FACTOR = Number(process.env.NIMBREL_TIME_FACTOR) || 1;

export async function waitFor(what, fn, timeoutMs = 10000, intervalMs = 50) {
  const deadline = Date.now() + timeoutMs * TIME_FACTOR;
  let last;
  for (;;) {
    try {
      last = await fn();
      if (last) return last;
    } catch (err) {
      last = err;
    }
    if (Date.now() > deadline) throw new Error(`timed out waiting for ${what}: ${last}`);
    await new Promise((r) => setTimeout(r, intervalMs));
  }
}

function portFree(port) {
  return new Promise((resolve) => {
    const s = net.createServer();
    s.once('error', () => resolve(false));
    s.listen(port, '127.0.0.1', () => s.close(() => resolve(true)));
  });
}

// Two consecutive free ports: plain and TLS.
export async function freePortPair() {
  for (let i = 0; i < 200; i++) {
    const p = 20000 + Math.floor(Math.random() * 40000);
    if ((await portFree(p)) && (await portFree(p + 1))) return p;
  }
  throw new Error('no free port pair');
}

// The root window names the window manager once one runs (EWMH).
function windowManagerRuns(display) {
  try {
    const root = execFileSync('xprop', ['-display', display, '-root', '_NET_SUPPORTING_WM_CHECK'], {
      stdio: ['ignore', 'pipe', 'ignore'],
    });
    return root.toString().includes('window id');
  } catch (err) {
    return false;
  }
}

// Starts a window manager on `display`; resolves once it manages the screen.
async function startWindowManager(display, name) {
  // Its own configuration, not the user's, so every machine sees the same desktop.
  const config = fs.mkdtempSync(path.join(os.tmpdir(), 'nimbrel-wm-'));
  // xfwm4 reads its settings over a session bus, which a bare display lacks: it gets one of its
  // own, which ends with it.
  const [program, args] = {
    openbox: ['openbox', ['--sm-disable']],
    xfwm4: ['dbus-run-session', ['--', 'xfwm4', '--compositor=off']],
  }[name] || [name, []];
  const proc = spawn(program, args, {
    stdio: ['ignore', 'ignore', 'pipe'],
    env: { ...process.env, DISPLAY: display, XDG_CONFIG_HOME: config, XDG_CACHE_HOME: config, NO_AT_BRIDGE: '1' },
  });
  let failed = null;
  let said = '';
  proc.on('error', (err) => { failed = err; });
  proc.stderr.on('data', (d) => { said = (said + d).slice(-2000); });
  const stop = () => {
    // The manager itself; a bus session around it then ends by itself, taking its bus along.
    let manager = [String(proc.pid)];
    if (program !== name) {
      try {
        manager = execFileSync('pgrep', ['-P', String(proc.pid), '-x', name]).toString().split('\n').filter(Boolean);
      } catch (err) {
        // the session is gone already
      }
    }
    for (const pid of manager) {
      try {
        process.kill(Number(pid));
      } catch (err) {
        // already gone
      }
    }
    fs.rmSync(config, { recursive: true, force: true });
  };
  try {
    // An ended manager ends the wait at once rather than at the deadline.
    const state = await waitFor(`the window manager ${name}`, () => {
      if (failed) throw new Error(`${name} did not start (${failed.code}); scripts/install-deps.sh installs it`);
      if (proc.exitCode !== null) return 'ended';
      return windowManagerRuns(display) && 'runs';
    }, 30000, 100);
    if (state === 'ended') {
      throw Object.assign(new Error(`${name} ended with ${proc.exitCode}: ${said.trim()}`), { ended: true });
    }
  } catch (err) {
    stop();
    throw err;
  }
  return stop;
}

// A virtual X display with a window manager, as a desktop has: it puts frames around windows,
// and browsers that draw their own frame reach beyond what they show by invisible borders.
// `windowManager` (default $NIMBREL_E2E_WM or openbox) names another one, or 'none'.
export async function startXvfb({ windowManager = process.env.NIMBREL_E2E_WM || 'openbox' } = {}) {
  // A loaded machine has seen a manager fail to open a display its server had just announced;
  // a fresh pair starts then, and a manager that fails three times is a real fault.
  for (let attempt = 1; ; attempt++) {
    try {
      return await startDisplayOnce(windowManager);
    } catch (err) {
      if (!err.ended || attempt === 3) throw err;
      console.error(`# starting the display again: ${err.message}`);
    }
  }
}

async function startDisplayOnce(windowManager) {
  // -displayfd: the server takes a free display number itself and writes it once it accepts
  // clients, so tests started side by side never share one.
  const screen = `${SCREEN.width}x${SCREEN.height}x24`;
  const proc = spawn('Xvfb', ['-displayfd', '3', '-screen', '0', screen, '-nolisten', 'tcp'], {
    stdio: ['ignore', 'ignore', 'ignore', 'pipe'],
  });
  let written = '';
  proc.stdio[3].on('data', (d) => { written += d; });
  let display;
  try {
    display = ':' + await waitFor('Xvfb', () => {
      if (proc.exitCode !== null) throw new Error(`Xvfb ended with ${proc.exitCode}`);
      return /^\d+\n/.test(written) ? written.trim() : null;
    }, 10000);
  } catch (err) {
    proc.kill();
    throw err;
  }
  let stopWindowManager = () => {};
  if (windowManager !== 'none') {
    try {
      stopWindowManager = await startWindowManager(display, windowManager);
    } catch (err) {
      proc.kill();
      throw err;
    }
  }
  return {
    display,
    windowManager,
    stop: () => {
      stopWindowManager();
      proc.kill();
    },
  };
}

export function makeRunDir(port) {
  const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'nimbrel-e2e-'));
  fs.copyFileSync(path.join(RUN_DIR, 'nimbrelsvc'), path.join(dir, 'nimbrelsvc'));
  fs.chmodSync(path.join(dir, 'nimbrelsvc'), 0o755);
  fs.cpSync(path.join(RUN_DIR, 'certificates'), path.join(dir, 'certificates'), { recursive: true });
  fs.cpSync(path.join(RUN_DIR, 'web'), path.join(dir, 'web'), { recursive: true });
  fs.writeFileSync(path.join(dir, 'config.ini'), `[Port]\nServicePortStart=${port}\n[Info]\nVersion=e2e\n`);
  fs.mkdirSync(path.join(dir, 'home'));
  return dir;
}

// `env` adds to or overrides the service's environment.
export async function startService(dir, port, display, env = {}) {
  const log = [];
  const proc = spawn('./nimbrelsvc', [], {
    cwd: dir,
    env: { ...process.env, DISPLAY: display, HOME: path.join(dir, 'home'), XDG_DATA_HOME: path.join(dir, 'home'), ...env },
    stdio: ['ignore', 'pipe', 'pipe'],
  });
  proc.stdout.on('data', (d) => log.push(String(d)));
  proc.stderr.on('data', (d) => log.push(String(d)));
  await waitFor('the service to listen', () => new Promise((resolve) => {
    if (proc.exitCode !== null) return resolve(false);
    const s = net.connect(port, '127.0.0.1', () => { s.destroy(); resolve(true); });
    s.on('error', () => resolve(false));
  }), 15000);
  // A sanitizer build's report fails the test file without cutting the other clean-ups short.
  const stop = () => {
    proc.kill('SIGKILL');
    const text = log.join('');
    const at = text.search(/Sanitizer|runtime error:/);
    if (at >= 0) {
      console.error(`the service printed a sanitizer report:\n${text.slice(text.lastIndexOf('\n', at) + 1)}`);
      process.exitCode = 1;
    }
  };
  return { proc, log, stop };
}

// nimbrel-source of the run directory on a free port; its event lines are kept in `events`.
export async function startSource() {
  const proc = spawn(path.join(RUN_DIR, 'nimbrel-source'), ['--port', '0'], { stdio: ['ignore', 'pipe', 'ignore'] });
  const events = [];
  let rest = '';
  proc.stdout.on('data', (d) => {
    const lines = (rest + String(d)).split('\n');
    rest = lines.pop();
    for (const line of lines) {
      try {
        events.push(JSON.parse(line));
      } catch (err) {
        // not an event line
      }
    }
  });
  const listening = await waitFor('the source to listen', () => {
    if (proc.exitCode !== null) throw new Error('nimbrel-source ended');
    return events.find((e) => e.event === 'listening');
  }, 15000);
  return { proc, events, port: listening.port, stop: () => proc.kill() };
}

export async function launchBrowser(display, url) {
  const browser = await chromium.launch({
    executablePath: '/usr/bin/chromium',
    headless: false,
    env: { ...process.env, DISPLAY: display },
    args: [
      '--no-sandbox', '--disable-gpu', '--no-first-run', '--disable-background-networking',
      '--disable-component-update', '--disable-sync', '--disable-quic',
      '--window-position=60,40', '--window-size=1000,700',
    ],
  });
  const context = await browser.newContext({ viewport: null });
  const page = await context.newPage();
  await page.goto(url);
  return { browser, page };
}

// Debian's Firefox ESR driven by puppeteer-core over WebDriver BiDi (never a downloaded browser).
// Resolves with the same {browser, page} pair as launchBrowser; puppeteer's page has evaluate,
// click, keyboard.press and reload as playwright's does. The window is as large as Chromium's and
// the page is not resized behind the window's back (no viewport emulation).
export async function launchFirefox(display, url) {
  const { default: puppeteer } = await import('puppeteer-core');
  const browser = await puppeteer.launch({
    browser: 'firefox',
    executablePath: process.env.NIMBREL_FIREFOX || '/usr/bin/firefox-esr',
    headless: false,
    defaultViewport: null,
    env: { ...process.env, DISPLAY: display },
    args: ['--width=1000', '--height=700'],
    extraPrefsFirefox: {
      // No first-run pages, update or telemetry traffic, no session restore prompts.
      'browser.shell.checkDefaultBrowser': false,
      'browser.startup.homepage_override.mstone': 'ignore',
      'datareporting.policy.dataSubmissionEnabled': false,
      'app.update.auto': false,
      'browser.sessionstore.resume_from_crash': false,
    },
  });
  const page = (await browser.pages())[0] || (await browser.newPage());
  await page.goto(url);
  return { browser, page };
}

// Screenshots of a failing step are kept here: build/e2e-failures next to the run directory.
export const FAILURE_DIR = path.join(RUN_DIR, '..', 'e2e-failures');

// Runs `fn`; when it throws, keeps the screen as FAILURE_DIR/<name>.png and throws on.
export async function keepShotOnFailure(display, name, fn) {
  try {
    return await fn();
  } catch (err) {
    try {
      fs.mkdirSync(FAILURE_DIR, { recursive: true });
      const file = path.join(FAILURE_DIR, `${name.replace(/[^A-Za-z0-9_.-]+/g, '-')}.png`);
      savePng(display, file);
      err.message += ` (screen kept in ${file})`;
    } catch (shotErr) {
      // the failure itself matters more than its picture
    }
    throw err;
  }
}

export function xdotool(display, ...args) {
  return execFileSync('xdotool', args, { env: { ...process.env, DISPLAY: display } }).toString().trim();
}

// The screen as RGB pixels.
export function screenshot(display) {
  const data = execFileSync('import', ['-display', display, '-window', 'root', '-depth', '8', 'rgb:-'], {
    maxBuffer: 64 * 1024 * 1024,
  });
  return { width: SCREEN.width, height: SCREEN.height, data };
}

export function savePng(display, file) {
  execFileSync('import', ['-display', display, '-window', 'root', file]);
}

export function pixel(img, x, y) {
  const i = (y * img.width + x) * 3;
  return [img.data[i], img.data[i + 1], img.data[i + 2]];
}

// Bounding box {x, y, w, h, count} of the pixels that satisfy pred([r,g,b]), or null; only
// pixels inside `area` ({x, y, w, h}, default the whole image) are looked at.
export function bbox(img, pred, area = { x: 0, y: 0, w: img.width, h: img.height }) {
  let x0 = Infinity, y0 = Infinity, x1 = -1, y1 = -1, count = 0;
  const yEnd = Math.min(img.height, area.y + area.h), xEnd = Math.min(img.width, area.x + area.w);
  for (let y = Math.max(0, area.y); y < yEnd; y++) {
    for (let x = Math.max(0, area.x); x < xEnd; x++) {
      if (!pred(pixel(img, x, y))) continue;
      count++;
      if (x < x0) x0 = x;
      if (x > x1) x1 = x;
      if (y < y0) y0 = y;
      if (y > y1) y1 = y;
    }
  }
  return count ? { x: x0, y: y0, w: x1 - x0 + 1, h: y1 - y0 + 1, count } : null;
}

// The share of pixels of `area` that differ between two screenshots by more than `threshold` in
// any channel.
export function changedShare(a, b, area, threshold = 24) {
  let changed = 0, total = 0;
  for (let y = area.y; y < area.y + area.h; y++) {
    for (let x = area.x; x < area.x + area.w; x++) {
      const p = pixel(a, x, y), q = pixel(b, x, y);
      total++;
      if (Math.abs(p[0] - q[0]) > threshold || Math.abs(p[1] - q[1]) > threshold || Math.abs(p[2] - q[2]) > threshold) changed++;
    }
  }
  return total ? changed / total : 0;
}

export const isGreen = ([r, g, b]) => r < 40 && g > 215 && b < 40;
