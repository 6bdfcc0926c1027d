// Actions on the selected pane that need no file: sound, digital zoom, talk and full screen.
import { ctx, codeOf } from './context.js';
import { cameraById, talkUrl, CAMERAS } from './cameras.js';
import { notify } from './ui.js';
import { changed } from './panes.js';

function selected() {
  const entry = ctx.panes.get(ctx.selected);
  return entry ? { entry, camera: cameraById(entry.camera), pane: ctx.selected } : null;
}

// One pane is heard at a time, as in a control room.
export async function toggleSound() {
  const s = selected();
  if (!s) return;
  if (!s.camera.audio) {
    notify(`${s.camera.name} has no microphone; ${CAMERAS.find((c) => c.audio).name} has one`, 'warn');
    return;
  }
  const wasOn = s.entry.sound;
  for (const e of ctx.panes.values()) e.sound = false;
  try {
    await ctx.client.closeSound({});
    if (!wasOn) {
      await ctx.client.openSound({ wndIndex: s.pane });
      s.entry.sound = true;
    }
  } catch (err) {
    notify(`No sound from ${s.camera.name} (code ${codeOf(err)})`, 'error');
  }
  changed();
}

export async function toggleZoom() {
  const s = selected();
  if (!s) return;
  const on = !s.entry.zoom;
  try {
    await ctx.client[on ? 'enableZoom' : 'disableZoom']({ wndIndex: s.pane });
    s.entry.zoom = on;
    if (on) notify(`Zoom on in pane ${s.pane + 1}: drag over the picture to zoom into that area`, 'info', { banner: true });
  } catch (err) {
    notify(`Zoom failed (code ${codeOf(err)})`, 'error');
  }
  changed();
}

export async function toggleTalk() {
  if (ctx.talk) {
    const { camera } = ctx.talk;
    ctx.talk = null;
    changed();
    await ctx.client.stopTalk({ requestJson: { action: 'stop' } }).catch(() => {});
    notify(`Stopped talking to ${camera.name}`);
    return;
  }
  const s = selected();
  const camera = s?.camera?.talk ? s.camera : CAMERAS.find((c) => c.talk);
  try {
    await ctx.client.startTalk({
      url: talkUrl(ctx.source, camera),
      requestJson: { action: 'talk', data: { channel: s?.camera?.talk ? 1000 + s.pane : 0, encodeType: 'G711A' } },
    });
    ctx.talk = { camera };
    notify(`Talking to ${camera.name}: the microphone goes to its speaker`, 'ok', { banner: true });
  } catch (err) {
    notify(`Cannot talk to ${camera.name} (code ${codeOf(err)})`, 'error');
  }
  changed();
}

// A talk the camera refused or that captures nothing ends here.
export function onTalkNotice(code) {
  if (!ctx.talk) return;
  const { camera } = ctx.talk;
  if (code === -3) {
    notify(`No sound from this computer's microphone while talking to ${camera.name}`, 'warn');
    return;
  }
  ctx.talk = null;
  changed();
  ctx.client.stopTalk({ requestJson: { action: 'stop' } }).catch(() => {});
  notify(`${camera.name} refused the talk (code ${code})`, 'error');
}

export async function fullScreen() {
  try {
    await ctx.client.fullScreen({});
    notify('Full screen: press Esc to leave', 'info', { banner: true });
  } catch (err) {
    notify(`Full screen failed (code ${codeOf(err)})`, 'error');
  }
}
