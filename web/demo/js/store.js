// What the page remembers across reloads: layout, selected pane, what each pane shows, the
// source address and the recent files. One JSON value in localStorage.
import { FIRST_FOUR } from './cameras.js';
import { isLayout } from './layouts.js';

const kKey = 'nimbrel.demo.v1';
const kMaxFiles = 30;

function firstOpen() {
  const panes = {};
  FIRST_FOUR.forEach((id, i) => { panes[i] = { camera: id, mode: 'live' }; });
  return { layout: 4, selected: 0, panes, source: '', files: [], speed: 1 };
}

// A saved value from an older or damaged page falls back to the first-open state piece by piece.
function sanitize(saved) {
  const state = firstOpen();
  if (!saved || typeof saved !== 'object') return state;
  if (isLayout(saved.layout)) state.layout = saved.layout;
  if (Number.isInteger(saved.selected) && saved.selected >= 0 && saved.selected < 64) state.selected = saved.selected;
  if (saved.panes && typeof saved.panes === 'object') {
    state.panes = {};
    for (const [k, v] of Object.entries(saved.panes)) {
      const i = Number(k);
      if (Number.isInteger(i) && i >= 0 && i < 64 && v && typeof v.camera === 'string') {
        state.panes[i] = { camera: v.camera, mode: v.mode === 'playback' ? 'playback' : 'live', start: v.start, end: v.end };
      }
    }
  }
  if (typeof saved.source === 'string') state.source = saved.source;
  if (Array.isArray(saved.files)) state.files = saved.files.filter((f) => f && typeof f.path === 'string').slice(0, kMaxFiles);
  if ([-4, -2, 1, 2, 4, 8].includes(saved.speed)) state.speed = saved.speed;
  return state;
}

export function load() {
  try {
    const text = localStorage.getItem(kKey);
    return { state: sanitize(text ? JSON.parse(text) : null), fresh: !text };
  } catch (err) {
    return { state: firstOpen(), fresh: true };
  }
}

export function save(state) {
  try {
    state.files = state.files.slice(0, kMaxFiles);
    localStorage.setItem(kKey, JSON.stringify(state));
  } catch (err) {
    // Private windows may refuse storage: the page still works, it only forgets.
  }
}
