// The demo page: lays the service's pane grid over #video and plays four cameras of the demo
// source (nimbrel-source) in its four panes. The source is ws://<this host>:9100 unless the page's
// address names another with ?source=ws://host:port.
(async () => {
  const status = document.getElementById('status');
  const events = document.getElementById('events');
  const video = document.getElementById('video');
  const source = document.getElementById('source');
  const query = new URLSearchParams(location.search);
  source.value = query.get('source') || 'ws://' + (location.hostname || '127.0.0.1') + ':9100';
  let selected = 0;
  const log = (text) => {
    events.textContent = text + '\n' + events.textContent.slice(0, 4000);
  };

  // One camera per pane: the source's codecs side by side.
  const cameras = [
    { channel: 1, query: 'codec=h264&width=640&height=360&fps=25' },
    { channel: 2, query: 'codec=h265&width=640&height=360&fps=25' },
    { channel: 3, query: 'codec=mjpeg&width=640&height=360&fps=15' },
    { channel: 4, query: 'codec=h264&width=640&height=360&fps=10' },
  ];
  const videoCoders = { h264: 96, h265: 150, mjpeg: 26 };

  let svc, group;
  try {
    // The page is served by the service, so its port is where the service listens.
    svc = await Nimbrel.connect({ port: Number(location.port) || 9000 });
  } catch (err) {
    status.textContent = 'The Nimbrel service is not running (start it with scripts/run.sh).';
    return;
  }
  svc.on('*', (m) => log(JSON.stringify(m)));
  svc.on('onGetSelectWndIndex', (n) => { selected = n.wndIndex; });
  svc.on('close', () => { status.textContent = 'disconnected'; });
  svc.on('reconnecting', () => { status.textContent = 'reconnecting...'; });
  svc.on('reconnect', () => { status.textContent = 'service ' + svc.version + ' (reconnected)'; });
  status.textContent = 'service ' + svc.version;

  try {
    // Lays the panes over #video and keeps them there while the page scrolls or resizes.
    group = await svc.attach(video, {
      layout: 4,
      style: { wndColor: '#101418', borderColor: '#3a4756', highlightColor: '#f5b400', borderPixel: 1, highlightPixel: 2 },
    });
  } catch (err) {
    status.textContent = 'could not lay the video windows over this page (' + err.code + ')';
    return;
  }

  // Starts camera `channel` from `url` in `pane`; the service answers -1 when the pane plays.
  const play = (url, pane, channel) => {
    const q = new URL(url.replace(/^ws/, 'http')).searchParams;
    return group.play(pane, {
      url,
      requestJson: { action: 'play', data: { channel, sessionID: 'demo-' + channel } },
      playParam: {
        videoCoder: videoCoders[q.get('codec') || 'h264'] || 96, audioCoder: 0,
        frameRate: Number(q.get('fps') || 25), bitRate: 0,
        width: Number(q.get('width') || 640), height: Number(q.get('height') || 360),
      },
    });
  };
  const playAll = async () => {
    const replies = await Promise.allSettled(cameras.map((c, pane) => play(source.value + '/live?' + c.query, pane, c.channel)));
    const failed = replies.filter((r) => r.status !== 'fulfilled').length;
    status.textContent = failed ? failed + ' of 4 cameras did not start (is nimbrel-source running?)'
      : 'playing 4 cameras from ' + source.value;
  };
  await playAll();

  const layouts = document.getElementById('layouts');
  for (const n of [1, 4, 9, 16, 25, 36, 64]) {
    const b = document.createElement('button');
    b.textContent = n;
    b.onclick = () => group.arrange(n);
    layouts.appendChild(b);
  }

  document.getElementById('playAll').onclick = playAll;
  // A camera of its own in the selected pane: channel 10 + pane.
  document.getElementById('play').onclick = () =>
    play(source.value + '/live?' + cameras[0].query, selected, 10 + selected);
  document.getElementById('stop').onclick = () => group.stop(selected);
  document.getElementById('stopAll').onclick = () => group.stopAll();
  document.getElementById('fullscreen').onclick = () => svc.fullScreen();
})();
