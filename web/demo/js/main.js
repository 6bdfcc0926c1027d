// The demo surveillance page: connects to the service, lays its window group over #video, plays
// the demo cameras and wires every control. First open: four cameras in 2x2 at once.
import { ctx, codeOf } from './context.js';
import { CAMERAS, cameraById, describe } from './cameras.js';
import { LAYOUTS, paneCount } from './layouts.js';
import { setStatus, notify } from './ui.js';
import { playIn, stopPane, stopAll, restorePanes, refusedPane, listeners } from './panes.js';
import { snapshot, toggleRecord, startDownload, onDownloadProgress, showFiles, loadFolders, saveFolders, browseFolder } from './files.js';
import { toggleSound, toggleZoom, toggleTalk, onTalkNotice, fullScreen } from './actions.js';
import { refreshTimebar, wireTimebar, togglePause, seekBy, stepSpeed } from './playback.js';
import { renderKeys, wireKeys } from './keys.js';
import * as Nimbrel from '../../nimbrel.mjs';

const $ = (id) => document.getElementById(id);
// The pane colours: a dark grid with the selection in the accent colour.
const kStyle = { wndColor: '#11161c', borderColor: '#2a323d', highlightColor: '#f5b400', borderPixel: 1, highlightPixel: 2 };
const kRetryMs = 3000;

// ---- what the page shows ------------------------------------------------------------------

function renderCameras() {
  const ul = $('cameras');
  ul.replaceChildren();
  for (const camera of CAMERAS) {
    const li = document.createElement('li');
    li.className = 'camera' + (camera.refuses ? ' offline' : '');
    li.dataset.camera = camera.id;
    li.title = camera.recorder ? 'Click: play its recording; Shift+click: live' : 'Click: live; Shift+click: its recording';
    const name = document.createElement('span');
    name.className = 'name';
    name.textContent = camera.name;
    const where = document.createElement('span');
    where.className = 'where';
    const meta = document.createElement('span');
    meta.className = 'meta';
    meta.textContent = describe(camera);
    li.append(name, where, meta);
    li.onclick = (e) => {
      const playback = camera.recorder ? !e.shiftKey : e.shiftKey;
      playIn(ctx.selected, { camera: camera.id, mode: playback ? 'playback' : 'live' });
    };
    ul.append(li);
  }
}

function renderLayouts() {
  const box = $('layouts');
  for (const layout of LAYOUTS) {
    const b = document.createElement('button');
    b.textContent = layout.label;
    b.dataset.layout = layout.type;
    b.title = layout.title || `${layout.panes} panes`;
    b.onclick = () => arrange(layout.type);
    box.append(b);
  }
}

// Buttons, camera badges and the time bar follow the panes and the selection.
function refresh() {
  for (const b of $('layouts').children) b.classList.toggle('on', Number(b.dataset.layout) === ctx.state.layout);
  const where = new Map();
  for (const [pane, entry] of ctx.panes) {
    if (!where.has(entry.camera)) where.set(entry.camera, []);
    where.get(entry.camera).push(pane + 1);
  }
  for (const li of $('cameras').children) {
    const panes = where.get(li.dataset.camera);
    li.querySelector('.where').textContent = panes ? `pane ${panes.join(', ')}` : '';
  }
  const entry = ctx.panes.get(ctx.selected);
  const camera = entry && cameraById(entry.camera);
  $('paneName').textContent = `Pane ${ctx.selected + 1}` + (camera ? ` · ${camera.name}${entry.mode === 'playback' ? ' (playback)' : ''}` : ' · empty');
  const online = Boolean(ctx.group);
  $('btnPlay').textContent = entry ? 'Stop' : 'Play';
  $('btnSound').classList.toggle('on', Boolean(entry?.sound));
  $('btnRecord').classList.toggle('recording', Boolean(entry?.recording));
  $('btnRecord').textContent = entry?.recording ? 'Stop recording' : 'Record';
  $('btnZoom').classList.toggle('on', Boolean(entry?.zoom));
  $('btnTalk').classList.toggle('on', Boolean(ctx.talk));
  $('btnTalk').textContent = ctx.talk ? `Talking to ${ctx.talk.camera.name}` : 'Talk';
  for (const id of ['btnPlay', 'btnSound', 'btnSnapshot', 'btnRecord', 'btnZoom', 'btnTalk', 'btnDownload', 'btnFull', 'btnStopAll']) {
    $(id).disabled = !online;
  }
  for (const id of ['btnSound', 'btnSnapshot', 'btnRecord', 'btnZoom']) if (!entry) $(id).disabled = true;
  refreshTimebar();
}
listeners.add(refresh);

// ---- commands -------------------------------------------------------------------------------

async function arrange(type) {
  ctx.state.layout = type;
  ctx.save();
  refresh();
  if (!ctx.group) return;
  try {
    await ctx.group.arrange(type);
  } catch (err) {
    notify(`Layout ${type} refused (code ${codeOf(err)})`, 'error');
  }
}

function select(pane) {
  if (!Number.isInteger(pane) || pane < 0) return;
  ctx.selected = pane;
  ctx.state.selected = pane;
  ctx.save();
  refresh();
}

// Play or stop the selected pane: an empty pane gets the first camera no pane shows yet.
function playOrStop() {
  if (ctx.panes.has(ctx.selected)) return stopPane(ctx.selected);
  const shown = new Set([...ctx.panes.values()].map((e) => e.camera));
  const camera = CAMERAS.find((c) => !shown.has(c.id) && !c.refuses && !c.recorder) || CAMERAS[0];
  return playIn(ctx.selected, { camera: camera.id, mode: 'live' });
}

// ---- notices from the service ---------------------------------------------------------------

function onNotices(client) {
  client.on('onGetSelectWndIndex', (d) => select(d.wndIndex));
  client.on('startPlay', () => {
    const refused = refusedPane();
    const li = refused && document.querySelector(`.camera[data-camera="${refused.entry.camera}"]`);
    li?.classList.add('refused');
    const name = refused?.camera?.name || 'A camera';
    const code = refused?.camera?.refuses ? ` (code ${refused.camera.refuses})` : '';
    notify(`${name} refused the stream${code}: the device is offline or busy` +
      (refused ? ` (pane ${refused.pane + 1})` : ''), 'error');
  });
  client.on('notice', (d) => {
    const code = d.errorCode;
    const where = d.wndIndex >= 0 ? ` in pane ${d.wndIndex + 1}` : '';
    if (code === -5) notify(`A file could not be written${where}: is the disk full?`, 'error');
    else notify(`A camera ended its stream${where} (code ${code})`, 'warn');
  });
  // The resource guard repeats itself every two seconds while the machine is loaded: say it once
  // a minute.
  let resourceSaid = 0;
  client.on('resource', () => {
    if (Date.now() - resourceSaid < 60000) return;
    resourceSaid = Date.now();
    notify('The computer is short of processor or memory: fewer panes will play smoothly', 'warn');
  });
  client.on('playbackFileEnd', (d) => notify(`Pane ${d.wndIndex + 1}: the recording has reached its end`, 'info', { banner: true }));
  client.on('downloadStartTime', (d) => notify(`Download begins at ${new Date(Number(d.startTime) * 1000).toLocaleTimeString()}`));
  client.on('downloadProgress', (d) => onDownloadProgress(d.progress));
  client.on('startTalk', (d) => onTalkNotice(d.errorCode));
  // The client reconnects by itself and replays the group and its streams.
  client.on('reconnecting', () => setStatus('connecting', 'Connection lost, reconnecting…'));
  client.on('reconnect', () => setStatus('online', `Connected to service ${client.version || ''}`));
  client.on('close', () => setStatus('offline', 'Disconnected'));
}

// ---- start ----------------------------------------------------------------------------------

function sourceAddress() {
  const fromUrl = new URLSearchParams(location.search).get('source');
  const source = fromUrl || ctx.state.source || `ws://${location.hostname || '127.0.0.1'}:9100`;
  ctx.state.source = source;
  ctx.save();
  return source;
}

async function start() {
  setStatus('connecting', 'Connecting to the service…');
  let client;
  try {
    const port = Number(location.port) || undefined;
    client = await Nimbrel.connect({ port, secure: location.protocol === 'https:', webVersion: 'demo' });
  } catch (err) {
    setStatus('offline', 'The Nimbrel service is not running: start it with ./scripts/run.sh');
    setTimeout(start, kRetryMs);
    return;
  }
  ctx.client = client;
  window.demo.client = client;
  $('session').textContent = client.sessionId || '';
  onNotices(client);
  setStatus('online', `Connected to service ${client.version || ''}`);
  try {
    ctx.group = await client.attach($('video'), { style: kStyle, layout: ctx.state.layout });
  } catch (err) {
    setStatus('offline', `The video windows could not be laid over this page (${err.code}): ${err.message}`);
    return;
  }
  window.demo.group = ctx.group;
  const count = paneCount(ctx.state.layout);
  if (ctx.selected >= count) select(0);
  await restorePanes();
  refresh();
  showFiles();
  loadFolders().then(fillSettings).catch((err) => notify(`Save folders unknown (code ${codeOf(err)})`, 'warn'));
  if (ctx.fresh) notify('Welcome: four demo cameras play below. Click a pane, then a camera to change it.', 'ok', { banner: true });
}

// ---- settings -------------------------------------------------------------------------------

function fillSettings(folders) {
  const form = $('settingsForm');
  for (const [k, v] of Object.entries(folders || {})) if (form.elements[k]) form.elements[k].value = v;
}

function wireSettings() {
  const form = $('settingsForm');
  const toggle = (show = $('settings').hidden) => {
    $('settings').hidden = !show;
    if (show && ctx.client) loadFolders().then(fillSettings).catch(() => {});
  };
  $('openSettings').onclick = () => toggle();
  $('openHelp').onclick = () => toggle(true);
  $('settingsReload').onclick = () => loadFolders().then(fillSettings).catch((err) => notify(`Reload failed (code ${codeOf(err)})`, 'error'));
  form.onsubmit = async (e) => {
    e.preventDefault();
    const folders = Object.fromEntries(new FormData(form));
    try {
      await saveFolders(folders);
      notify('Save folders stored', 'ok', { banner: true });
    } catch (err) {
      notify(`Save folders not stored (code ${codeOf(err)})`, 'error');
    }
  };
  for (const b of form.querySelectorAll('[data-browse]')) {
    b.onclick = async () => {
      try {
        const path = await browseFolder();
        if (path) form.elements[b.dataset.browse].value = path;
      } catch (err) {
        notify(`No folder picker (code ${codeOf(err)})`, 'error');
      }
    };
  }
  document.addEventListener('keydown', (e) => {
    if (e.key === 'Escape' && !$('settings').hidden) toggle(false);
  });
  return toggle;
}

function wireControls(toggleSettings) {
  $('btnPlay').onclick = playOrStop;
  $('btnSound').onclick = toggleSound;
  $('btnSnapshot').onclick = snapshot;
  $('btnRecord').onclick = toggleRecord;
  $('btnZoom').onclick = toggleZoom;
  $('btnTalk').onclick = toggleTalk;
  $('btnDownload').onclick = startDownload;
  $('btnFull').onclick = fullScreen;
  $('btnStopAll').onclick = stopAll;
  const source = $('source');
  source.value = ctx.source;
  source.onchange = () => {
    ctx.source = source.value.trim();
    ctx.state.source = ctx.source;
    ctx.save();
    notify(`Cameras now come from ${ctx.source}; start a camera again to use it`);
  };
  wireTimebar();
  wireKeys({
    layout: arrange, play: playOrStop, sound: toggleSound, snapshot, record: toggleRecord, zoom: toggleZoom,
    talk: toggleTalk, download: startDownload, full: fullScreen, stopAll, pause: togglePause,
    seek: seekBy, speed: stepSpeed, settings: () => toggleSettings(), help: () => toggleSettings(true),
  });
}

window.demo = { ctx, client: null, group: null };
ctx.source = sourceAddress();
renderCameras();
renderLayouts();
renderKeys();
showFiles();
wireControls(wireSettings());
refresh();
start();
