// What the user is told: the connection status, a short-lived banner, the notice log and the
// list of files the service wrote.
const $ = (id) => document.getElementById(id);

export function setStatus(state, text) {
  $('status').dataset.state = state;
  $('statusText').textContent = text;
}

function clock(date = new Date()) {
  return date.toTimeString().slice(0, 8);
}

// level: 'info', 'ok', 'warn' or 'error'. Errors and warnings also show in the banner.
export function notify(text, level = 'info', { banner = level !== 'info' } = {}) {
  const log = $('log');
  log.querySelector('.empty')?.remove();
  const li = document.createElement('li');
  const time = document.createElement('time');
  time.textContent = clock();
  const span = document.createElement('span');
  span.textContent = text;
  span.className = level;
  li.append(time, span);
  log.prepend(li);
  while (log.children.length > 200) log.lastChild.remove();
  if (banner) showBanner(text, level);
}

// The latest message stands in the top bar for a few seconds: nothing of the page may lie over
// the video area (the service's windows would hide it), and nothing should cover the controls.
let bannerTimer = 0;
export function showBanner(text, level = 'info') {
  const banner = $('banner');
  const span = document.createElement('span');
  span.textContent = text;
  banner.replaceChildren(span);
  banner.title = text;
  banner.className = `banner shown ${level}`;
  clearTimeout(bannerTimer);
  bannerTimer = setTimeout(() => banner.classList.remove('shown'), level === 'error' ? 8000 : 4000);
}

const kKinds = { snapshot: 'Snapshot', recording: 'Recording', download: 'Download' };

// files: [{kind, path, at}], newest first; open(path) shows the file, folder(path) its folder.
export function renderFiles(files, { open, folder }) {
  const list = $('files');
  list.replaceChildren();
  if (!files.length) {
    const li = document.createElement('li');
    li.className = 'empty';
    li.textContent = 'Snapshots, recordings and downloads appear here.';
    list.append(li);
    return;
  }
  for (const f of files) {
    const li = document.createElement('li');
    li.dataset.kind = f.kind;
    li.dataset.path = f.path;
    const kind = document.createElement('span');
    kind.className = 'kind';
    kind.textContent = kKinds[f.kind] || f.kind;
    const path = document.createElement('span');
    path.className = 'path';
    path.title = f.path;
    // The name matters most: with rtl ellipsis the start of a long folder is what gets cut.
    path.textContent = `\u200e${f.path}\u200e`;
    const buttons = document.createElement('span');
    buttons.className = 'row';
    const show = document.createElement('button');
    show.textContent = 'Open';
    show.title = 'Open with the desktop';
    show.onclick = () => open(f.path);
    const dir = document.createElement('button');
    dir.textContent = 'Folder';
    dir.onclick = () => folder(f.path);
    buttons.append(show, dir);
    li.append(kind, path, buttons);
    list.append(li);
  }
}

export function showDownload(name, percent) {
  $('download').hidden = false;
  $('downloadName').textContent = name;
  $('downloadPct').textContent = `${percent}%`;
  $('downloadBar').value = percent;
}

export function formatTime(seconds) {
  if (!Number.isFinite(seconds) || seconds <= 0) return '--:--:--';
  return clock(new Date(seconds * 1000));
}
