// The studio's page: a connection of its own (one document per tab), the panels, the
// painter, and the document's buttons. `window.studio` shows its state to tests and to
// the latency bench.
import { Connection, PictureKind } from './connection.js';
import { Painter } from './painter.js';
import { Panels } from './panels.js';

const $ = (id) => document.getElementById(id);
const picture = $('picture');
const cursor = $('cursor');

const studio = {
  state: null,        // the document as the server last described it
  strokesEnded: 0,    // strokes whose last pixels have been drawn
  errors: [],         // every error reply
  replies: [],        // the type of every text reply, in order
  replaying: false,
  closed: null,       // the close event, once the connection is gone
  zoom: 1,
  painter: null,
};
window.studio = studio;

function status(text, error = false) {
  $('status').textContent = text;
  $('status').classList.toggle('error', error);
}

const connection = new Connection(`ws://${location.host}/ws`, {
  onText: (m) => text(m),
  onPicture: (p) => pictureMessage(p),
  onClose: (e) => {
    studio.closed = { code: e.code, reason: e.reason };
    status(`disconnected (${e.code}${e.reason ? ': ' + e.reason : ''}): reload to start again`, true);
  },
});

const painter = new Painter(picture, connection, {
  onAltClick: (x, y) => connection.send({ type: 'clonePoint', x, y }),
  onStrokeEnd: () => { studio.strokesEnded++; },
});
studio.painter = painter;
studio.send = (message) => connection.send(message);

const panels = new Panels((tool) => {
  connection.send(tool);
  requestCursor();
});

// Replies
// ======================================================================================

let replayFrames = [];
let replayTimer = 0;

function text(m) {
  studio.replies.push(m.type);
  switch (m.type) {
    case 'presets':
      panels.setPresets(m.presets);
      break;
    case 'state':
      studio.state = m;
      $('doc-name').textContent = m.name;
      $('doc-size').textContent = `${m.width} × ${m.height}, ${m.depth === 32 ? 'float' : m.depth + ' bits'}`;
      $('undo').disabled = m.strokes === 0;
      $('clear').disabled = m.strokes === 0;
      $('redo').disabled = m.redo === 0;
      $('replay').disabled = m.strokes === 0;
      $('clone-info').textContent = m.image
        ? `${m.image.name}, ${m.image.width} × ${m.image.height}. Alt-click sets the source point.`
        : 'No image. Alt-click on the canvas sets the source point.';
      break;
    case 'error':
      studio.errors.push(m);
      status(`${m.request}: ${m.message}`, true);
      if (['begin', 'samples', 'end'].includes(m.request) && painter.stroke) {
        painter.stroke.inFlight.clear();
        if (m.request !== 'samples') painter.stroke = null;
      }
      break;
    case 'saved':
      status(`saved ${m.name}`);
      break;
    case 'exported':
      status(`exported ${m.name}`);
      download(m.url, m.name);
      break;
    case 'files':
      showFiles(m);
      break;
    case 'clonePoint':
      status(`clone source point set at ${(m.x * 100).toFixed(1)} %, ${(m.y * 100).toFixed(1)} %`);
      break;
    case 'replay':
      studio.replaying = true;
      replayFrames = [];
      status('replaying…');
      break;
    case 'replayed':
      replayFrames.push(null);
      break;
    case 'stats':
      studio.lastStats = m;
      break;
    case 'closed':
      status('closed after being idle: reload to start again', true);
      break;
    default:
      break;
  }
}

function pictureMessage(p) {
  if (p.kind === PictureKind.patch) painter.patch(p);
  else if (p.kind === PictureKind.whole) {
    stopReplay();
    const resized = picture.width !== p.width || picture.height !== p.height;
    painter.draw(p);
    if (resized) fit();
  } else if (p.kind === PictureKind.frame) {
    replayFrames.push(p);
    if (!replayTimer) replayTimer = setInterval(nextFrame, 1000 / 24);
  } else if (p.kind === PictureKind.cursor) showCursor(p);
}

// Frames are drawn at 24 a second, whatever pace they come at.
function nextFrame() {
  if (!replayFrames.length) return;
  const p = replayFrames.shift();
  if (p) painter.draw(p);
  else {
    stopReplay();
    status('replayed');
  }
}

function stopReplay() {
  clearInterval(replayTimer);
  replayTimer = 0;
  replayFrames = [];
  studio.replaying = false;
}

function download(url, name) {
  const a = document.createElement('a');
  a.href = url;
  a.download = name;
  document.body.appendChild(a);
  a.click();
  a.remove();
}

// The cursor: the engine's brush outline, following the pointer
// ======================================================================================

let cursorCentre = [0, 0];

function requestCursor() {
  connection.send({ type: 'outline', zoom: Math.max(0.01, Math.min(100, studio.zoom)) });
}

function showCursor(p) {
  cursor.width = p.width;
  cursor.height = p.height;
  cursor.getContext('2d').putImageData(p.pixels, 0, 0);
  cursorCentre = [p.left, p.top];
}

picture.addEventListener('pointermove', (e) => {
  const stage = $('stage').getBoundingClientRect();
  cursor.style.display = 'block';
  cursor.style.transform =
    `translate(${e.clientX - stage.left - cursorCentre[0]}px, ${e.clientY - stage.top - cursorCentre[1]}px)`;
});
picture.addEventListener('pointerleave', () => { cursor.style.display = 'none'; });

// The view's zoom
// ======================================================================================

function setZoom(zoom) {
  studio.zoom = zoom;
  picture.style.width = `${picture.width * zoom}px`;
  picture.style.height = `${picture.height * zoom}px`;
  picture.style.imageRendering = zoom > 1 ? 'pixelated' : 'auto';
  requestCursor();
}

// The whole canvas in the window, never larger than its pixels.
function fit() {
  const view = $('view');
  const zoom = Math.min(1, (view.clientWidth - 40) / picture.width, (view.clientHeight - 40) / picture.height);
  setZoom(Math.max(0.05, zoom));
}

$('zoom-fit').addEventListener('click', () => fit());
$('zoom-one').addEventListener('click', () => setZoom(1));

// Document buttons
// ======================================================================================

function whenIdle(request) {
  if (painter.painting) return status('finish the stroke first', true);
  connection.send(request);
}

$('undo').addEventListener('click', () => whenIdle({ type: 'undo' }));
$('redo').addEventListener('click', () => whenIdle({ type: 'redo' }));
$('clear').addEventListener('click', () => whenIdle({ type: 'clear' }));
$('replay').addEventListener('click', () => whenIdle({ type: 'replay', frames: 48 }));
document.addEventListener('keydown', (e) => {
  if (!(e.ctrlKey || e.metaKey) || e.target instanceof HTMLInputElement) return;
  const key = e.key.toLowerCase();
  if (key === 'z' && !e.shiftKey) whenIdle({ type: 'undo' });
  else if (key === 'y' || (key === 'z' && e.shiftKey)) whenIdle({ type: 'redo' });
  else return;
  e.preventDefault();
});

$('new').addEventListener('click', () => $('new-dialog').showModal());
$('new-dialog').addEventListener('close', () => {
  if ($('new-dialog').returnValue !== 'ok') return;
  const hex = $('new-background').value;
  const rgb = [1, 3, 5].map((i) => parseInt(hex.slice(i, i + 2), 16) / 255);
  whenIdle({
    type: 'new',
    width: Number($('new-width').value),
    height: Number($('new-height').value),
    depth: Number($('new-depth').value),
    background: [...rgb, $('new-transparent').checked ? 0 : 1],
  });
});

// Open, save and export share one dialog: a list of the folder's files and a name.
let filesMode = 'open';
function askFiles(mode) {
  filesMode = mode;
  connection.send({ type: 'files' });
}

function showFiles(m) {
  const list = $('files-list');
  list.innerHTML = '';
  const names = filesMode === 'export' ? m.images : m.documents;
  for (const n of names) {
    const o = document.createElement('option');
    o.value = o.textContent = n;
    list.appendChild(o);
  }
  const name = studio.state ? studio.state.name : 'untitled.json';
  $('files-title').textContent = { open: 'Open', save: 'Save', export: 'Export' }[filesMode];
  $('files-name').value = filesMode === 'open' ? (names[0] || '') :
    filesMode === 'save' ? name : name.replace(/\.(json|kst)$/, '.png');
  $('files-hint').textContent = filesMode === 'export'
    ? 'PNG (.png), OpenEXR (.exr) or TIFF (.tif), in the studio\'s folder'
    : filesMode === 'save' ? 'a stroke description (.json) or a stroke file (.kst)' : '';
  $('files-dialog').showModal();
}

$('files-list').addEventListener('change', () => { $('files-name').value = $('files-list').value; });
$('files-dialog').addEventListener('close', () => {
  if ($('files-dialog').returnValue !== 'ok') return;
  const name = $('files-name').value.trim();
  whenIdle({ type: filesMode, name });
});
$('open').addEventListener('click', () => askFiles('open'));
$('save').addEventListener('click', () => askFiles('save'));
$('export').addEventListener('click', () => askFiles('export'));

$('clone-file').addEventListener('change', async () => {
  const file = $('clone-file').files[0];
  if (!file) return;
  await connection.sendImage(file);
  $('source').value = 'clone';
  panels.changed();
});

window.addEventListener('resize', () => fit());
connection.opened.then(() => status('connected'), () => status('cannot connect', true));
