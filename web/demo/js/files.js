// Files the service writes for the page: snapshots, recordings and downloads, and the save
// folders they go to (the service's settings of this page's device type).
import { ctx, codeOf, stamp, joinPath } from './context.js';
import { cameraById, streamUrl, recordTags, CAMERAS } from './cameras.js';
import { notify, renderFiles, showDownload } from './ui.js';
import { changed } from './panes.js';

const kFolderKeys = ['recordFilePath', 'downloadFilePath', 'captureLivePath', 'capturePlaybackPath', 'clipsPlaybackPath'];
// A download is a 10 s clip of the recorder, delivered at its own pace so the progress shows.
const kClipSeconds = 10;

// The service's file name with the codec tags it adds before the extension.
function tagged(path, camera) {
  const dot = path.lastIndexOf('.');
  return path.slice(0, dot) + recordTags(camera) + path.slice(dot);
}

export function openFile(path) {
  return ctx.client?.openDownloadFloder({ filePath: path }).catch((err) =>
    notify(`Cannot open ${path} (code ${codeOf(err)})`, 'error'));
}

export function openFolder(path) {
  return openFile(path.replace(/[\\/][^\\/]*$/, ''));
}

export function showFiles() {
  renderFiles(ctx.state.files, { open: openFile, folder: openFolder });
}

function addFile(kind, path) {
  ctx.state.files.unshift({ kind, path, at: Date.now() });
  ctx.save();
  showFiles();
}

export async function loadFolders() {
  const reply = await ctx.client.getLocalConfig({ deviceType: ctx.deviceType });
  ctx.folders = { ...reply.localConfig };
  return ctx.folders;
}

export async function saveFolders(folders) {
  const localConfig = {};
  for (const k of kFolderKeys) localConfig[k] = String(folders[k] || '').trim();
  await ctx.client.setLocalConfig({ deviceType: ctx.deviceType, localConfig });
  ctx.folders = localConfig;
}

export async function browseFolder() {
  const reply = await ctx.client.browseFilePath({});
  return reply.filePath || '';
}

async function folder(key) {
  if (!ctx.folders) await loadFolders();
  return ctx.folders[key];
}

function selectedEntry(what) {
  const entry = ctx.panes.get(ctx.selected);
  if (!entry) notify(`Pane ${ctx.selected + 1} shows no camera to ${what}`, 'warn');
  return entry;
}

// A snapshot of the selected pane, then shown by the desktop's picture viewer.
export async function snapshot() {
  const entry = selectedEntry('take a snapshot of');
  if (!entry) return;
  const camera = cameraById(entry.camera);
  const key = entry.mode === 'playback' ? 'capturePlaybackPath' : 'captureLivePath';
  const path = joinPath(await folder(key), `${camera.id}_${stamp()}.jpg`);
  try {
    await ctx.client.capture({ wndIndex: ctx.selected, fileName: path });
  } catch (err) {
    notify(`No snapshot of ${camera.name}: no picture yet or the folder cannot be written (code ${codeOf(err)})`, 'error');
    return;
  }
  addFile('snapshot', path);
  notify(`Snapshot of ${camera.name}: ${path}`, 'ok', { banner: true });
  openFile(path);
}

export async function toggleRecord() {
  const pane = ctx.selected;
  const entry = selectedEntry('record');
  if (!entry) return;
  const camera = cameraById(entry.camera);
  if (entry.recording) {
    const { path } = entry.recording;
    entry.recording = null;
    changed();
    try {
      await ctx.client.stopRecord({ wndIndex: pane });
    } catch (err) {
      notify(`Recording of ${camera.name} did not stop cleanly (code ${codeOf(err)})`, 'error');
    }
    addFile('recording', path);
    notify(`Recording saved: ${path}`, 'ok', { banner: true });
    return;
  }
  const key = entry.mode === 'playback' ? 'clipsPlaybackPath' : 'recordFilePath';
  const requested = joinPath(await folder(key), `${camera.id}_${stamp()}.mp4`);
  try {
    await ctx.client.startRecord({ wndIndex: pane, fileName: requested });
  } catch (err) {
    notify(`${camera.name} cannot be recorded (code ${codeOf(err)})`, 'error');
    return;
  }
  entry.recording = { path: tagged(requested, camera), since: Date.now() };
  changed();
  notify(`Recording ${camera.name} to ${entry.recording.path}`);
}

// A clip of the recorder: from the playback position when the selected pane plays it back,
// else from a minute ago.
export async function startDownload() {
  if (ctx.download) {
    notify('A download is already running', 'warn');
    return;
  }
  const recorder = CAMERAS.find((c) => c.recorder);
  const entry = ctx.panes.get(ctx.selected);
  const from = entry?.camera === recorder.id && entry.mode === 'playback' && entry.osd > 0
    ? Math.floor(entry.osd) : Math.floor(Date.now() / 1000) - 60;
  const startTime = String(from), endTime = String(from + kClipSeconds);
  const requested = joinPath(await folder('downloadFilePath'), `${recorder.id}_${stamp()}.mkv`);
  ctx.download = { path: tagged(requested, recorder), camera: recorder };
  showDownload(ctx.download.path.replace(/^.*[\\/]/, ''), 0);
  try {
    await ctx.client.startDownload({
      url: streamUrl(ctx.source, recorder, 'download', { pace: 1 }),
      fileName: requested,
      requestJson: { action: 'download', data: { startTime, endTime, fileSize: '0', id: stamp() } },
    });
    notify(`Downloading ${kClipSeconds} s of ${recorder.name}`);
  } catch (err) {
    ctx.download = null;
    notify(`The download did not start (code ${codeOf(err)})`, 'error');
  }
}

export function onDownloadProgress(progress) {
  if (!ctx.download) return;
  showDownload(ctx.download.path.replace(/^.*[\\/]/, ''), progress);
  if (progress < 100) return;
  const { path } = ctx.download;
  ctx.download = null;
  // The stop seals the file (its trailer); the source has sent everything.
  ctx.client.stopDownload({ requestJson: { action: 'stop' } }).catch(() => {});
  addFile('download', path);
  notify(`Download complete: ${path}`, 'ok', { banner: true });
}
