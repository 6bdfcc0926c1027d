// The time bar of the selected pane when it plays a recording: position, pause and resume,
// seek by clicking, speed.
import { ctx, codeOf } from './context.js';
import { notify, formatTime } from './ui.js';

const $ = (id) => document.getElementById(id);
const kPollMs = 500;
let timer = null;

function selectedPlayback() {
  const entry = ctx.panes.get(ctx.selected);
  return entry && entry.mode === 'playback' ? entry : null;
}

function draw(entry) {
  const span = entry.end - entry.start;
  const at = Math.min(Math.max(entry.osd || entry.start, entry.start), entry.end);
  const share = span > 0 ? (at - entry.start) / span : 0;
  $('trackFill').style.width = `${share * 100}%`;
  $('trackCursor').style.left = `${share * 100}%`;
  $('timeNow').textContent = formatTime(at);
  $('timeEnd').textContent = formatTime(entry.end);
  $('btnPause').textContent = entry.paused ? 'Resume' : 'Pause';
  $('speed').value = String(entry.speed);
}

async function poll() {
  const entry = selectedPlayback();
  if (!entry || !ctx.client) return;
  const pane = ctx.selected;
  try {
    const reply = await ctx.client.getOSDTime({ wndIndex: pane });
    if (reply.osdTime > 0 && ctx.panes.get(pane) === entry) entry.osd = reply.osdTime;
  } catch (err) {
    // The next poll asks again.
  }
  if (ctx.panes.get(ctx.selected) === entry) draw(entry);
}

// Shows or hides the bar for the selected pane; called whenever panes or the selection change.
export function refreshTimebar() {
  const entry = selectedPlayback();
  $('timebar').hidden = !entry;
  if (entry) {
    draw(entry);
    timer ??= setInterval(poll, kPollMs);
  } else if (timer) {
    clearInterval(timer);
    timer = null;
  }
}

export async function togglePause() {
  const entry = selectedPlayback();
  if (!entry) return;
  const pause = !entry.paused;
  const cmd = pause ? 'pausePlayBack' : 'resumePlayBack';
  try {
    await ctx.client[cmd]({ wndIndex: ctx.selected, requestJson: { action: pause ? 'pause' : 'resume' } });
    entry.paused = pause;
  } catch (err) {
    notify(`${pause ? 'Pause' : 'Resume'} failed (code ${codeOf(err)})`, 'error');
  }
  draw(entry);
}

export async function seekTo(seconds) {
  const entry = selectedPlayback();
  if (!entry) return;
  const target = Math.round(Math.min(Math.max(seconds, entry.start), entry.end));
  try {
    await ctx.client.seekPlayBack({ wndIndex: ctx.selected, requestJson: { action: 'seek', data: { seekTime: String(target) } } });
    entry.osd = target;
    entry.paused = false;  // the source resumes at a seek
  } catch (err) {
    notify(`Seek failed (code ${codeOf(err)})`, 'error');
  }
  draw(entry);
}

export function seekBy(delta) {
  const entry = selectedPlayback();
  if (entry) seekTo((entry.osd || entry.start) + delta);
}

export async function setSpeed(speed) {
  const entry = selectedPlayback();
  if (!entry) return;
  try {
    await ctx.client.setPlaybackSpeed({ wndIndex: ctx.selected, requestJson: { action: 'speed', data: { speed } } });
    entry.speed = speed;
    ctx.state.speed = speed;
    ctx.save();
  } catch (err) {
    notify(`Speed ${speed} refused (code ${codeOf(err)})`, 'error');
  }
  draw(entry);
}

const kSpeeds = [-4, -2, 1, 2, 4, 8];
export function stepSpeed(direction) {
  const entry = selectedPlayback();
  if (!entry) return;
  const i = kSpeeds.indexOf(entry.speed);
  const next = kSpeeds[Math.min(Math.max((i < 0 ? 2 : i) + direction, 0), kSpeeds.length - 1)];
  if (next !== entry.speed) setSpeed(next);
}

export function wireTimebar() {
  $('btnPause').onclick = togglePause;
  $('speed').onchange = () => setSpeed(Number($('speed').value));
  $('track').onclick = (e) => {
    const entry = selectedPlayback();
    if (!entry) return;
    const r = $('track').getBoundingClientRect();
    const share = Math.min(Math.max((e.clientX - r.left) / r.width, 0), 1);
    seekTo(entry.start + share * (entry.end - entry.start));
  };
}
