// The demo page: lays the service's pane grid over #video and plays the demo camera source.
(async () => {
  const status = document.getElementById('status');
  const events = document.getElementById('events');
  const video = document.getElementById('video');
  let selected = 0;
  const log = (text) => {
    events.textContent = text + '\n' + events.textContent.slice(0, 4000);
  };

  let svc;
  try {
    svc = await Nimbrel.connect();
  } catch (err) {
    status.textContent = 'The Nimbrel service is not running (start it with scripts/run.sh).';
    return;
  }
  svc.on('*', (m) => log(JSON.stringify(m)));
  svc.on('onGetSelectWndIndex', (m) => { selected = m.data.wndIndex; });
  svc.on('close', () => { status.textContent = 'disconnected'; });

  const hello = await svc.command('webconnect', { webVersion: 'demo' });
  // The service finds this browser window by the session id in its caption.
  document.title = 'Nimbrel demo ' + hello.uuid;
  status.textContent = 'service ' + hello.data.version;

  const created = await svc.command('createWnd', {
    rect: Nimbrel.regionOf(video),
    style: { wndColor: '#101418', borderColor: '#3a4756', highlightColor: '#f5b400', borderPixel: 1, highlightPixel: 2 },
  });
  if (created.data.errorCode !== 0) {
    status.textContent = 'could not lay the video windows over this page (' + created.data.errorCode + ')';
  }
  await svc.command('arrangeWnd', { arrangeType: 4 });

  const layouts = document.getElementById('layouts');
  for (const n of [1, 4, 9, 16, 25, 36, 64]) {
    const b = document.createElement('button');
    b.textContent = n;
    b.onclick = () => svc.command('arrangeWnd', { arrangeType: n });
    layouts.appendChild(b);
  }

  const follow = () => svc.command('moveWnd', { rect: Nimbrel.regionOf(video) });
  window.addEventListener('resize', follow);
  window.addEventListener('scroll', follow);

  document.getElementById('play').onclick = () => {
    const url = document.getElementById('source').value;
    const q = new URL(url.replace(/^ws/, 'http')).searchParams;
    svc.command('startPlay', {
      url,
      wndIndex: selected,
      requestJson: { data: { channel: selected, sessionID: 'demo' } },
      playParam: {
        videoCoder: 96, audioCoder: 0, frameRate: Number(q.get('fps') || 25), bitRate: 0,
        width: Number(q.get('width') || 640), height: Number(q.get('height') || 360),
      },
    });
  };
  document.getElementById('stop').onclick = () =>
    svc.command('stopPlay', { channel: selected, requestJson: {} });
  document.getElementById('fullscreen').onclick = () => svc.command('fullScreen', {});
})();
