// Keyboard shortcuts: one key per action, never while typing into a field.
export const KEYS = [
  ['1 … 7', 'layouts 1, 4, 9, 16, 25, 36, 64'],
  ['8 9 0 -', 'layouts 1+5, 1+7, 2+8, 12+1'],
  ['P', 'play / stop the selected pane'],
  ['A', 'sound of the selected pane'],
  ['S', 'snapshot'],
  ['R', 'record / stop recording'],
  ['Z', 'digital zoom'],
  ['T', 'talk / stop talking'],
  ['D', 'download a clip of the recorder'],
  ['F', 'full screen (Esc leaves it)'],
  ['X', 'stop every pane'],
  ['Space', 'pause / resume playback'],
  ['← →', 'seek 10 s back / forward'],
  ['[ ]', 'slower / faster'],
  [',', 'settings'],
];

const kLayoutKeys = { Digit1: 1, Digit2: 4, Digit3: 9, Digit4: 16, Digit5: 25, Digit6: 36, Digit7: 64,
  Digit8: 1001, Digit9: 2001, Digit0: 3001, Minus: 4001 };

export function renderKeys() {
  const dl = document.getElementById('keys');
  for (const [key, what] of KEYS) {
    const dt = document.createElement('dt');
    dt.textContent = key;
    const dd = document.createElement('dd');
    dd.textContent = what;
    dl.append(dt, dd);
  }
}

// handlers: {layout(type), play, sound, snapshot, record, zoom, talk, download, full, stopAll,
// pause, seek(delta), speed(direction), settings, help}
export function wireKeys(h) {
  document.addEventListener('keydown', (e) => {
    if (e.ctrlKey || e.metaKey || e.altKey) return;
    const t = e.target;
    if (t instanceof HTMLInputElement || t instanceof HTMLSelectElement || t instanceof HTMLTextAreaElement) return;
    const letters = { KeyP: h.play, KeyA: h.sound, KeyS: h.snapshot, KeyR: h.record, KeyZ: h.zoom, KeyT: h.talk,
      KeyD: h.download, KeyF: h.full, KeyX: h.stopAll, Space: h.pause, Comma: h.settings,
      ArrowLeft: () => h.seek(-10), ArrowRight: () => h.seek(10),
      BracketLeft: () => h.speed(-1), BracketRight: () => h.speed(1) };
    let fn = null;
    if (e.key === '?') fn = h.help;
    else if (!e.shiftKey && kLayoutKeys[e.code]) fn = () => h.layout(kLayoutKeys[e.code]);
    else if (!e.shiftKey) fn = letters[e.code];
    if (!fn) return;
    e.preventDefault();
    fn();
  });
}
