// The page's shared state: the service connection, its window group, what each pane shows and
// what the page remembers. Every module works on this one object.
import { load, save } from './store.js';

const { state, fresh } = load();

export const ctx = {
  state,            // what survives a reload (store.js)
  fresh,            // true on the very first open
  client: null,     // the connection, once open
  group: null,      // the window group over #video
  source: '',       // the camera source's base address
  selected: state.selected,
  panes: new Map(), // pane -> {camera, mode, start, end, startedAt, sound, recording, zoom, paused, speed}
  folders: null,    // the save folders of the service's settings
  talk: null,       // {pane, camera} while talking
  download: null,   // {path, camera} while downloading
  deviceType: 'Demo',
  save: () => save(state),
};

// The service's codes come as NimbrelError.code; anything else reads as -1.
export function codeOf(err) {
  return err && Number.isInteger(err.code) ? err.code : -1;
}

// Local time as a file name part: 20261209_001530.
export function stamp(date = new Date()) {
  const p = (n) => String(n).padStart(2, '0');
  return `${date.getFullYear()}${p(date.getMonth() + 1)}${p(date.getDate())}_${p(date.getHours())}${p(date.getMinutes())}${p(date.getSeconds())}`;
}

// Folders from the service use the platform's separator (C:\Demo\Capture on Windows).
export function joinPath(folder, name) {
  const sep = folder.includes('\\') && !folder.includes('/') ? '\\' : '/';
  return folder.replace(/[\\/]+$/, '') + sep + name;
}
