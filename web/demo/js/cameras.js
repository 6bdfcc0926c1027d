// The demo cameras: streams of nimbrel-source, each chosen by the query of its URL
// (tools/source/README.md). One of them is a recorder (playback and download), one carries
// G.711 sound and answers talk, one refuses every stream as an offline device does.

// The AV library's codec codes the service takes in playParam.
const kVideoCoders = { h264: 96, h265: 150, mjpeg: 26 };
const kAudioCoders = { none: 0, g711a: 1, g711u: 2 };

export const CAMERAS = [
  { id: 'gate', name: 'Gate', codec: 'h264', width: 640, height: 360, fps: 25 },
  { id: 'lobby', name: 'Lobby', codec: 'h265', width: 640, height: 360, fps: 25 },
  { id: 'yard', name: 'Yard', codec: 'mjpeg', width: 640, height: 360, fps: 15 },
  { id: 'office', name: 'Office', codec: 'h264', width: 640, height: 360, fps: 25, audio: 'g711a', talk: true },
  { id: 'recorder', name: 'Recorder', codec: 'h264', width: 1280, height: 720, fps: 25, recorder: true },
  { id: 'backdoor', name: 'Back door', codec: 'h264', width: 640, height: 360, fps: 25, refuses: 4001 },
];

// The four a newcomer sees at once.
export const FIRST_FOUR = ['gate', 'lobby', 'yard', 'office'];

export function cameraById(id) {
  return CAMERAS.find((c) => c.id === id) || null;
}

export function describe(camera) {
  const parts = [camera.codec.toUpperCase(), `${camera.width}×${camera.height}`, `${camera.fps} fps`];
  if (camera.audio) parts.push('G.711 sound');
  if (camera.recorder) parts.push('recorder');
  return parts.join(' · ');
}

function query(camera, mode, extra = {}) {
  const q = new URLSearchParams({
    codec: camera.codec, width: camera.width, height: camera.height, fps: camera.fps, ...extra,
  });
  if (camera.audio) q.set('audio', camera.audio);
  if (mode !== 'live') q.set('mode', mode);
  if (camera.refuses) q.set('code', camera.refuses);
  return q.toString();
}

// `source` is the source's base address, for example ws://127.0.0.1:9100.
export function streamUrl(source, camera, mode, extra) {
  return `${source.replace(/\/+$/, '')}/${camera.id}?${query(camera, mode, extra)}`;
}

export function talkUrl(source, camera) {
  return `${source.replace(/\/+$/, '')}/${camera.id}/talk?mode=talk&audio=${camera.audio || 'g711a'}`;
}

export function playParam(camera) {
  return {
    videoCoder: kVideoCoders[camera.codec], audioCoder: kAudioCoders[camera.audio || 'none'],
    frameRate: camera.fps, bitRate: 0, width: camera.width, height: camera.height,
  };
}

// The codec tags the service puts into a recording's name ("_H264", "_G711A").
export function recordTags(camera) {
  const video = { h264: '_H264', h265: '_H265', mjpeg: '_MJPEG' }[camera.codec];
  const audio = { g711a: '_G711A', g711u: '_G711U' }[camera.audio] || '';
  return video + audio;
}
