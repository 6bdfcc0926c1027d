// Playing cameras in panes: live and playback starts and stops, and restoring what the panes
// showed before a reload.
import { ctx, codeOf } from './context.js';
import { cameraById, streamUrl, playParam } from './cameras.js';
import { notify } from './ui.js';

// Channels are per pane, so one camera may play in several panes at once.
const channelOf = (pane) => 1000 + pane;
// A playback without a saved range shows the last ten minutes of the recorder.
const kPlaybackSeconds = 600;

export const listeners = new Set();  // called after any pane changed
export function changed() {
  for (const fn of listeners) fn();
}

function request(camera, pane, mode, start, end) {
  const data = { channel: channelOf(pane), sessionID: `${camera.id}-${pane}` };
  if (mode === 'playback') Object.assign(data, { startTime: String(start), endTime: String(end), speed: 1 });
  return {
    url: streamUrl(ctx.source, camera, mode),
    requestJson: { action: mode === 'playback' ? 'playback' : 'play', data },
    playParam: playParam(camera),
  };
}

// Starts `choice` ({camera, mode, start, end}) in `pane`, replacing what plays there.
export async function playIn(pane, choice) {
  const camera = cameraById(choice.camera);
  if (!camera || !ctx.group) return false;
  if (ctx.panes.has(pane)) await stopPane(pane);
  const mode = choice.mode === 'playback' ? 'playback' : 'live';
  let { start, end } = choice;
  if (mode === 'playback' && !(start > 0 && end > start)) {
    end = Math.floor(Date.now() / 1000);
    start = end - kPlaybackSeconds;
  }
  const entry = { camera: camera.id, mode, start, end, startedAt: Date.now(), sound: false, recording: null,
    zoom: false, paused: false, speed: 1, osd: start };
  ctx.panes.set(pane, entry);
  ctx.state.panes[pane] = { camera: camera.id, mode, start, end };
  ctx.save();
  changed();
  try {
    await ctx.group.play(pane, request(camera, pane, mode, start, end), { playback: mode === 'playback' });
    return true;
  } catch (err) {
    // The pane stays the camera's: the service keeps a failed stream in its pane until stopped.
    notify(`${camera.name} did not start in pane ${pane + 1} (code ${codeOf(err)})`, 'error');
    return false;
  }
}

export async function stopPane(pane) {
  const entry = ctx.panes.get(pane);
  if (!entry) return;
  ctx.panes.delete(pane);
  delete ctx.state.panes[pane];
  ctx.save();
  changed();
  try {
    await ctx.group.stop(pane);
  } catch (err) {
    notify(`Pane ${pane + 1} did not stop (code ${codeOf(err)})`, 'error');
  }
}

export async function stopAll() {
  await Promise.all([...ctx.panes.keys()].map((pane) => stopPane(pane)));
}

// What the panes showed before the reload, all at once.
export function restorePanes() {
  return Promise.all(Object.entries(ctx.state.panes).map(([pane, choice]) => playIn(Number(pane), choice)));
}

// The pane a "startPlay" refusal belongs to: the notice names none, so the most recent start
// of a camera that refuses, else the most recent start at all.
export function refusedPane() {
  let best = null;
  for (const [pane, entry] of ctx.panes) {
    const camera = cameraById(entry.camera);
    const score = (camera?.refuses ? 1e13 : 0) + entry.startedAt;
    if (!best || score > best.score) best = { pane, entry, camera, score };
  }
  return best;
}
