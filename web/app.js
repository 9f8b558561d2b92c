// The page: opened images, the catalogue shown, the options panel, preview and downloads. Every
// answer about a disk comes from the core in the worker (odicore.js: the binding over the same
// C++ as odiview and odi); this file only shows them, and packs the whole-disk .zip. Changes
// (new, put, mkdir, rename, delete) are made there by odi's own code on the page's copy of an
// image; the file the user opened is never touched, "download" gives the result.
'use strict';

const $ = (id) => document.getElementById(id);
const BOXES = ['type-bin', 'type-rom', 'type-rks', 'type-txt', 'code-dos', 'code-win', 'koi8', 'koi7'];
const WORKER_TIMEOUT_MS = 20000;
const MAX_IMAGE_BYTES = 16 << 20;  // an ODI image is 819200 bytes

// ---- Languages: the window's Russian captions where it has them ----------------------------
const TEXTS = {
  en: {
    tagline: 'Specialist MX disk images, read in your browser: nothing is installed or uploaded',
    open: 'Open .odi files', drop: 'or drop them anywhere on the page', images: 'Images',
    image: 'Image', name: 'Disk name', fs: 'File system', version: 'DOS version', diskname: 'Disk name + catalogues',
    folder: 'Copies go to', enter: 'Open catalogue', type: 'File type', koi8: 'KOI-8',
    koi7: 'KOI-7', copy: 'Download file', copyall: 'Download the whole disk (.zip)',
    findings: 'Check', preview: 'Preview', sound: 'The disk is sound.',
    note: 'note', unknown: 'These bytes are no MX_DOS or CP/M disk the program knows; listed as MX_DOS disks are.',
    blank: 'A blank disk: no files.', size: 'Not 819200 bytes long: ', failed: 'Cannot read: ',
    damaged: 'damaged, the copy holds the error text', dateHead: 'Date: ', lang: 'Русский',
    kod: (k8, k7) => 'Recode ' + (k8 && k7 ? 'KOI-8 + KOI-7' : k7 ? 'KOI-7' : 'KOI-8') + ' for',
    timeout: 'The image took too long to read; the reader was restarted.',
    large: 'Far too large for a disk image, not opened: ',
    newMx: 'New MX_DOS disk', newCpm: 'New CP/M disk', edit: 'Change the image (in the page only)',
    put: 'Put files', form: 'as', start: 'start (hex)', mkdir: 'New catalogue', rename: 'Rename',
    delete: 'Delete', undo: 'Undo', downloadImage: 'Download the image',
    confirmDelete: (name, n) => 'Delete the catalogue ' + name + ' with all it holds (' + n +
        ' entries)?',
    changed: 'changed, not downloaded yet', newName: 'NAME.EXT', catName: 'catalogue name',
    failed2: 'The change failed; the image is as it was before it: ',
  },
  ru: {
    tagline: 'образы дискет Специалиста МХ прямо в браузере: ничего не устанавливается и не отправляется',
    open: 'Открыть ODI файлы', drop: 'или перетащите их на страницу', images: 'Образы',
    image: 'Имя ODI файла', name: 'Имя дискеты', fs: 'Файловая система', version: 'Версия Dos_MX на дискете',
    diskname: 'Внутреннее имя дискеты + каталоги', folder: 'ПРИЕМНИК', enter: 'Открыть каталог',
    type: 'Тип файла', koi8: 'кои8', koi7: 'кои7', copy: 'копировать',
    copyall: 'копировать всю дискету (.zip)', findings: 'Проверка', sound: 'Дискета исправна.',
    preview: 'Предварительный  просмотр  файла', note: 'замечание',
    unknown: 'Это не дискета MX_DOS или CP/M; показана, как дискеты MX_DOS.',
    blank: 'чистый диск', size: 'Длина не 819200 байт: ', failed: 'Не читается: ',
    damaged: 'повреждён, в копии текст ошибки', dateHead: 'Дата: ', lang: 'English',
    kod: null,
    timeout: 'Образ читался слишком долго; чтение перезапущено.',
    large: 'Слишком велик для образа дискеты, не открыт: ',
    newMx: 'Новая дискета MX_DOS', newCpm: 'Новая дискета CP/M',
    edit: 'Изменить образ (только на странице)', put: 'Записать файлы', form: 'как',
    start: 'адрес (hex)', mkdir: 'Создать каталог', rename: 'Переименовать', delete: 'Удалить',
    undo: 'Отменить', downloadImage: 'Скачать образ',
    confirmDelete: (name, n) => 'Удалить каталог ' + name + ' со всем содержимым (записей: ' + n +
        ')?',
    changed: 'изменён, ещё не скачан', newName: 'ИМЯ.РАС', catName: 'имя каталога',
    failed2: 'Изменение не удалось; образ остался прежним: ',
  },
};
let lang = (navigator.language || '').startsWith('ru') ? 'ru' : 'en';
const t = (key) => TEXTS[lang][key];

// ---- The worker ----------------------------------------------------------------------------
// Made from the code odicore.js holds, so that it starts from a page opened from disk as well.
let worker = null;
let seq = 0;
const waiting = new Map();

let actions = 0;  // steps under way that wait on something besides the worker
function setPending() {
  document.documentElement.dataset.pending = String(waiting.size + actions);
}
async function busy(step) {
  actions++;
  setPending();
  try { return await step(); } finally { actions--; setPending(); }
}

function startWorker() {
  const src = '(' + odiWorkerMain.toString() + ')()';
  worker = new Worker(URL.createObjectURL(new Blob([src], {type: 'text/javascript'})));
  worker.onmessage = (ev) => {
    const m = ev.data;
    const w = waiting.get(m.id);
    if (!w) return;
    waiting.delete(m.id);
    clearTimeout(w.timer);
    setPending();
    if (m.ok) w.resolve(m.result); else w.reject(new Error(m.error));
    if (m.fatal) restartWorker(m.error);
  };
}

// A worker that does not answer is replaced; the images are opened again on their next use.
function restartWorker(reason) {
  worker.terminate();
  for (const w of waiting.values()) { clearTimeout(w.timer); w.reject(new Error(reason)); }
  waiting.clear();
  setPending();
  for (const img of images) img.disk = null;
  startWorker();
}

function ask(op, args = {}, transfer = []) {
  return new Promise((resolve, reject) => {
    const id = ++seq;
    const timer = setTimeout(() => restartWorker(t('timeout')), WORKER_TIMEOUT_MS);
    waiting.set(id, {resolve, reject, timer});
    setPending();
    worker.postMessage({id, op, ...args}, transfer);
  });
}

// ---- State ---------------------------------------------------------------------------------
// {name, bytes (ArrayBuffer), disk (worker id or null), failed, check, history (the bytes before
// each change), saved (the bytes last opened or downloaded)}
const images = [];
const isChanged = (img) => img.bytes !== img.saved;
let current = -1;
let shown = null;   // {info, rows}
let selected = -1;  // row index; rows.length is the "<<<" row
let panel = null;
window.odiTimes = {};

function message(text) { $('message').textContent = text || ''; }

const openFiles = (files) => busy(async () => {
  message('');
  let first = -1;
  for (const f of files) {
    if (f.size > MAX_IMAGE_BYTES) { message(t('large') + f.name); continue; }
    const t0 = performance.now();
    const bytes = await f.arrayBuffer();
    images.push({name: f.name, bytes, disk: null, failed: null, check: null, history: [],
                 saved: bytes});
    if (first < 0) first = images.length - 1;
    window.odiTimes.read = performance.now() - t0;
  }
  renderImages();
  if (first >= 0) await choose(first);
});

async function ensureOpen(img) {
  if (img.disk !== null || img.failed) return null;
  // The worker keeps its own copy: the page's bytes stay for a restart.
  const r = await ask('open', {bytes: img.bytes.slice(0), name: img.name});
  img.disk = r.disk;
  img.check = r.check;
  return r;
}

async function choose(index) {
  current = index;
  selected = -1;
  renderImages();
  const img = images[index];
  $('disk').hidden = false;
  $('image-name').textContent = img.name;
  const t0 = performance.now();
  try {
    const opened = await ensureOpen(img);
    shown = opened ? {info: opened.info, rows: opened.rows} : await ask('show', {disk: img.disk});
  } catch (e) {
    img.failed = String(e.message || e);
  }
  if (img.failed) {
    shown = null;
    message(t('failed') + img.name + ': ' + img.failed);
    renderDisk();
    return;
  }
  renderDisk();
  window.odiTimes.openList = performance.now() - t0;
  if (shown.rows.length) await select(0);
  else await select(-1);
}

// ---- Rendering -----------------------------------------------------------------------------
function renderImages() {
  const ul = $('images');
  ul.replaceChildren(...images.map((img, i) => {
    const li = document.createElement('li');
    li.textContent = img.name;
    li.className = i === current ? 'chosen' : '';
    if (img.failed) li.classList.add('failed');
    if (isChanged(img)) {
      li.classList.add('changed');
      li.title = t('changed');
    }
    li.onclick = () => choose(i);
    return li;
  }));
}

function renderDisk() {
  const img = images[current];
  const info = shown && shown.info;
  $('fs').textContent = info ? info.file_system : '';
  $('version').textContent = info ? info.version : '';
  $('disk-name').textContent = info ? info.disk_name : '';
  $('path').textContent = info ? info.path : '';
  $('folder').textContent = info ? img.name.replace(/\.odi$/i, '') +
      (info.folder ? '/' + info.folder : '') : '';
  const warn = [];
  if (info && info.file_system === 'unknown') warn.push(t('unknown'));
  if (info && info.file_system === 'blank') warn.push(t('blank'));
  if (info && info.size !== 819200) warn.push(t('size') + info.size);
  $('no-disk').textContent = warn.join(' ');
  $('no-disk').hidden = !warn.length;
  renderLegend();
  renderEntries();
  renderFindings(img && img.check);
  $('preview').textContent = '';
  $('preview-name').textContent = '';
  renderEdit();
}

// The change controls: what the catalogue shown and the row selected allow.
function renderEdit() {
  const img = images[current];
  const writable = !!(img && shown && !img.failed);
  const r = selectedRow();
  for (const id of ['put-files', 'put-form', 'mkdir', 'download-image']) $(id).disabled = !writable;
  $('put-start').disabled = !writable || $('put-form').value !== 'bin';
  $('rename').disabled = $('delete').disabled = !writable || !r;
  $('undo').disabled = !writable || !img.history.length;
}

function renderLegend() {
  if (!shown) { $('frm-disk').textContent = ''; return; }
  const row = shown.rows[selected];
  $('frm-disk').textContent = t('dateHead') + (row ? row.date : shown.info.today);
}

function cell(cls, text) {
  const s = document.createElement('span');
  s.className = cls;
  s.textContent = text;
  return s;
}

function renderEntries() {
  const ul = $('entries');
  const items = [];
  if (shown) {
    shown.rows.forEach((r, i) => {
      const li = document.createElement('li');
      li.dataset.ref = r.ref;
      li.dataset.row = String(i);
      li.dataset.kind = r.kind;
      li.append(cell('text', r.text), cell('kind', r.kind), cell('date', r.date));
      items.push(li);
    });
    if (shown.info.level > 0) {
      const li = document.createElement('li');
      li.dataset.up = '1';
      li.dataset.row = String(shown.rows.length);
      li.append(cell('text', '<<<'));
      items.push(li);
    }
  }
  items.forEach((li) => {
    li.onclick = () => select(Number(li.dataset.row));
    li.ondblclick = () => enter(Number(li.dataset.row));
  });
  ul.replaceChildren(...items);
  markSelected();
}

function markSelected() {
  for (const li of $('entries').children)
    li.classList.toggle('selected', Number(li.dataset.row) === selected);
}

function renderFindings(check) {
  const box = $('findings');
  box.replaceChildren();
  if (!check) return;
  if (check.sound) box.append(cell('sound', t('sound')));
  for (const p of check.problems) {
    const d = document.createElement('div');
    d.className = p.note ? 'note' : 'bad';
    d.dataset.kind = p.kind;
    d.textContent = (p.path ? p.path + ': ' : '') + (p.note ? t('note') + ': ' : '') + p.message;
    box.append(d);
  }
}

function renderPanel() {
  if (!panel) return;
  BOXES.forEach((id, b) => {
    $(id).checked = panel.values[b];
    $(id).disabled = !panel.usable[b];
  });
  const k8 = panel.values[6], k7 = panel.values[7];
  $('kod-caption').textContent = lang === 'ru' ? panel.kod_caption : t('kod')(k8, k7);
}

function renderTexts() {
  document.documentElement.lang = lang;
  for (const el of document.querySelectorAll('[data-i18n]')) el.textContent = t(el.dataset.i18n);
  for (const el of document.querySelectorAll('[data-i18n-hint]')) el.placeholder = t(el.dataset.i18nHint);
  $('lang').textContent = t('lang');
  renderPanel();
  if (current >= 0 && shown) { renderLegend(); renderFindings(images[current].check); }
}

// ---- Actions -------------------------------------------------------------------------------
const selectedRow = () => (shown && shown.rows[selected]) || null;

async function select(row) {
  selected = row;
  markSelected();
  renderLegend();
  const r = selectedRow();
  const file = !!r && r.kind === 'file';
  $('download').disabled = !file;
  $('enter').disabled = !(r && r.kind === 'catalogue') && !(shown && row === shown.rows.length &&
                                                            shown.info.level > 0);
  renderEdit();
  panel = await ask('panel', {select: file});
  renderPanel();
  await showPreview();
}

async function showPreview() {
  const r = selectedRow();
  if (!r || r.kind !== 'file') {
    $('preview').textContent = '';
    $('preview-name').textContent = '';
    return;
  }
  const text = await ask('preview', {disk: images[current].disk, row: selected});
  $('preview-name').textContent = '\\' + r.name;
  $('preview').textContent = text;
}

async function enter(row) {
  if (!shown) return;
  const up = row === shown.rows.length;
  const r = shown.rows[row];
  if (!up && !(r && r.kind === 'catalogue')) return;
  const res = await ask('enter', {disk: images[current].disk, row: up ? -1 : row});
  if (!res.moved) return;
  shown = {info: res.info, rows: res.rows};
  selected = -1;
  renderDisk();
  await select(shown.rows.length ? 0 : (shown.info.level > 0 ? 0 : -1));
}

function save(blob, name) {
  const a = document.createElement('a');
  a.href = URL.createObjectURL(blob);
  a.download = name;
  document.body.append(a);
  a.click();
  a.remove();
  setTimeout(() => URL.revokeObjectURL(a.href), 60000);
}

async function downloadFile() {
  const r = selectedRow();
  if (!r || r.kind !== 'file') return;
  const res = await ask('copy', {disk: images[current].disk, row: selected});
  if (!res) return;
  if (res.err) message(r.path + ': ' + t('damaged') + ' (ERR_COP ' + res.err + ')');
  save(new Blob([res.bytes], {type: 'application/octet-stream'}), res.name);
}

const downloadAll = () => busy(async () => {
  if (current < 0 || !shown) return;
  const t0 = performance.now();
  const res = await ask('all', {disk: images[current].disk});
  const zip = await makeZip(res.files, new Uint8Array(res.bytes));
  window.odiTimes.zip = performance.now() - t0;
  save(zip, images[current].name.replace(/\.odi$/i, '') + '.zip');
});

// ---- Changes: each made by the worker on its copy; the page keeps the bytes before it ------
// The image shown after a change, the row it names selected.
async function showChange(img, r) {
  if (r.changed) {
    img.history.push(img.bytes);
    img.bytes = r.bytes;
  }
  img.check = r.check;
  const before = selected;
  shown = {info: r.info, rows: r.rows};
  renderImages();
  renderDisk();
  message(r.message);
  const n = shown.rows.length;
  let row = r.row >= 0 ? r.row : Math.min(before, n - 1);
  if (row < 0 && shown.info.level > 0) row = n;  // the "<<<" row
  await select(row);
}

// One change of the image shown. A change that traps restarts the worker: the image is opened
// again as it was before the change.
let changesTried = 0;  // counted in data-changes when each attempt ends, made or refused
const change = (op, args = {}, transfer = []) => busy(async () => {
  const img = images[current];
  if (!img || !shown || img.failed) return;
  message('');
  const t0 = performance.now();
  try {
    await ensureOpen(img);
    const r = await ask(op, {disk: img.disk, ...args}, transfer);
    await showChange(img, r);
    window.odiTimes.change = performance.now() - t0;
  } catch (e) {
    await choose(current);
    message(t('failed2') + String(e.message || e));
  } finally {
    document.documentElement.dataset.changes = String(++changesTried);
  }
});

const putFiles = (files) => busy(async () => {
  const sources = await Promise.all(files.map(async (f) => ({name: f.name,
                                                              bytes: await f.arrayBuffer()})));
  const form = $('put-form').value;
  await change('put', {sources, form, start: form === 'bin' ? $('put-start').value.trim() : ''},
               sources.map((s) => s.bytes));
});

async function deleteRow() {
  const r = selectedRow();
  if (!r || current < 0) return;
  if (r.kind === 'catalogue') {
    const n = await ask('holds', {disk: images[current].disk, row: selected});
    if (n > 0 && !window.confirm(t('confirmDelete')(r.name, n))) return;
  }
  await change('remove', {row: selected});
}

const undo = () => busy(async () => {
  const img = images[current];
  if (!img || !img.history.length) return;
  img.bytes = img.history.pop();
  message('');
  const opened = await ensureOpen(img);
  const r = opened || await ask('reset', {disk: img.disk, bytes: img.bytes.slice(0)});
  await showChange(img, {...r, changed: false, message: '', row: -1});
});

function downloadImage() {
  const img = images[current];
  if (!img || img.failed) return;
  save(new Blob([img.bytes], {type: 'application/octet-stream'}), img.name);
  img.saved = img.bytes;
  renderImages();
}

// new.odi, then new-2.odi, ...: a name no image in the list has.
function freeName() {
  for (let i = 1; ; i++) {
    const name = i === 1 ? 'new.odi' : 'new-' + i + '.odi';
    if (!images.some((img) => img.name === name)) return name;
  }
}

const newDisk = (cpm) => busy(async () => {
  message('');
  const file = freeName();
  const r = await ask('create', {cpm, name: cpm ? '' : $('new-name').value, file});
  if (r.status) { message(r.message); return; }
  images.push({name: file, bytes: r.bytes, disk: r.disk, failed: null, check: r.check,
               history: [], saved: null});
  await choose(images.length - 1);
});

// ---- The .zip: our own container (local headers, central directory, CRC-32); the data
// deflated by the browser's CompressionStream, or stored when that gains nothing. ----------
const CRC_TABLE = (() => {
  const tab = new Uint32Array(256);
  for (let n = 0; n < 256; n++) {
    let c = n;
    for (let k = 0; k < 8; k++) c = c & 1 ? 0xEDB88320 ^ (c >>> 1) : c >>> 1;
    tab[n] = c >>> 0;
  }
  return tab;
})();

function crc32(data) {
  let c = 0xFFFFFFFF;
  for (let i = 0; i < data.length; i++) c = CRC_TABLE[(c ^ data[i]) & 0xFF] ^ (c >>> 8);
  return (c ^ 0xFFFFFFFF) >>> 0;
}

async function deflateRaw(data) {
  if (typeof CompressionStream === 'undefined') return null;
  const stream = new Blob([data]).stream().pipeThrough(new CompressionStream('deflate-raw'));
  return new Uint8Array(await new Response(stream).arrayBuffer());
}

async function makeZip(files, all) {
  const enc = new TextEncoder();
  const now = new Date();
  const dosTime = (now.getHours() << 11) | (now.getMinutes() << 5) | (now.getSeconds() >> 1);
  const dosDate = ((now.getFullYear() - 1980) << 9) | ((now.getMonth() + 1) << 5) | now.getDate();
  // A later file of the same name replaces an earlier one, as on disk.
  const last = new Map();
  let offset = 0;
  const parts = files.map((f) => {
    const data = all.subarray(offset, offset + f.size);
    offset += f.size;
    return {name: f.path, data};
  });
  parts.forEach((p, i) => last.set(p.name, i));
  const kept = parts.filter((p, i) => last.get(p.name) === i);
  const packed = await Promise.all(kept.map(async (p) => {
    const deflated = p.data.length ? await deflateRaw(p.data) : null;
    const use = deflated && deflated.length < p.data.length;
    return {name: enc.encode(p.name), crc: crc32(p.data), size: p.data.length,
            method: use ? 8 : 0, body: use ? deflated : p.data};
  }));
  const chunks = [];
  const central = [];
  let pos = 0;
  for (const p of packed) {
    const h = new DataView(new ArrayBuffer(30));
    h.setUint32(0, 0x04034b50, true);
    h.setUint16(4, 20, true);
    h.setUint16(6, 0x0800, true);  // names in UTF-8
    h.setUint16(8, p.method, true);
    h.setUint16(10, dosTime, true);
    h.setUint16(12, dosDate, true);
    h.setUint32(14, p.crc, true);
    h.setUint32(18, p.body.length, true);
    h.setUint32(22, p.size, true);
    h.setUint16(26, p.name.length, true);
    chunks.push(h, p.name, p.body);
    const c = new DataView(new ArrayBuffer(46));
    c.setUint32(0, 0x02014b50, true);
    c.setUint16(4, 20, true);
    c.setUint16(6, 20, true);
    c.setUint16(8, 0x0800, true);
    c.setUint16(10, p.method, true);
    c.setUint16(12, dosTime, true);
    c.setUint16(14, dosDate, true);
    c.setUint32(16, p.crc, true);
    c.setUint32(20, p.body.length, true);
    c.setUint32(24, p.size, true);
    c.setUint16(28, p.name.length, true);
    c.setUint32(38, 0o100644 << 16, true);  // a plain file, rw-r--r--
    c.setUint32(42, pos, true);
    central.push(c, p.name);
    pos += 30 + p.name.length + p.body.length;
  }
  const centralSize = central.reduce((n, x) => n + x.byteLength, 0);
  const end = new DataView(new ArrayBuffer(22));
  end.setUint32(0, 0x06054b50, true);
  end.setUint16(8, packed.length, true);
  end.setUint16(10, packed.length, true);
  end.setUint32(12, centralSize, true);
  end.setUint32(16, pos, true);
  return new Blob([...chunks, ...central, end], {type: 'application/zip'});
}

// ---- Wiring --------------------------------------------------------------------------------
startWorker();
$('open').addEventListener('change', (ev) => { openFiles([...ev.target.files]); ev.target.value = ''; });
document.addEventListener('dragover', (ev) => { ev.preventDefault(); $('source').classList.add('drop'); });
document.addEventListener('dragleave', () => $('source').classList.remove('drop'));
// Images open wherever they are dropped; other files dropped onto the list are put into the
// catalogue shown.
document.addEventListener('drop', async (ev) => {
  ev.preventDefault();
  $('source').classList.remove('drop');
  const files = [...ev.dataTransfer.files];
  const onList = $('entries').contains(ev.target) && current >= 0 && !!shown;
  const isImage = (f) => /\.odi$/i.test(f.name);
  const others = onList ? files.filter((f) => !isImage(f)) : [];
  const opened = onList ? files.filter(isImage) : files;
  if (others.length) await putFiles(others);
  if (opened.length) await openFiles(opened);
});
window.addEventListener('beforeunload', (ev) => {
  if (!images.some(isChanged)) return;
  ev.preventDefault();
  ev.returnValue = '';
});
BOXES.forEach((id, b) => $(id).addEventListener('click', async (ev) => {
  ev.preventDefault();  // the rules decide what the boxes hold
  panel = await ask('panel', {click: b});
  renderPanel();
  await showPreview();
}));
$('enter').onclick = () => enter(selected);
$('download').onclick = downloadFile;
$('download-all').onclick = downloadAll;
$('entries').addEventListener('keydown', (ev) => {
  if (!shown) return;
  const last = shown.rows.length - (shown.info.level > 0 ? 0 : 1);
  if (ev.key === 'ArrowDown' && selected < last) { ev.preventDefault(); select(selected + 1); }
  if (ev.key === 'ArrowUp' && selected > 0) { ev.preventDefault(); select(selected - 1); }
  if (ev.key === 'Enter') enter(selected);
});
$('new-mxdos').onclick = () => newDisk(false);
$('new-cpm').onclick = () => newDisk(true);
$('put-files').addEventListener('change', (ev) => {
  const files = [...ev.target.files];
  ev.target.value = '';
  if (files.length) putFiles(files);
});
$('put-form').onchange = renderEdit;
$('mkdir').onclick = () => change('mkdir', {name: $('mkdir-name').value});
$('rename').onclick = () => change('rename', {row: selected, name: $('rename-name').value});
$('delete').onclick = deleteRow;
$('undo').onclick = undo;
$('download-image').onclick = downloadImage;
$('lang').onclick = () => { lang = lang === 'ru' ? 'en' : 'ru'; renderTexts(); };
ask('panel').then((p) => { panel = p; renderTexts(); });
renderTexts();
