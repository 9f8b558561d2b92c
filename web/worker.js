// The worker: the core (OdiCore, the emscripten module above this code in odicore.js) and the
// open images. The page asks with {id, op, ...} and hears {id, ok, result} or {id, ok: false,
// error}; bytes travel as transferred ArrayBuffers. Nothing here reads a disk itself: every
// answer comes from the core through the binding, and every change is made there, by the code
// odi's writing commands run.
'use strict';
const ready = OdiCore();
const disks = new Map();
let nextDisk = 1;
let panel = null;

function bytesOf(disk) {
  return disk.buffer().slice().buffer;  // a copy out of the module's memory
}

// A change's answer ({status, message, changed, row}) with what the page shows after it, and the
// image's bytes when they changed.
function after(disk, answer, transfer) {
  const r = JSON.parse(answer);
  if (r.changed) {
    r.bytes = disk.image().slice().buffer;
    transfer.push(r.bytes);
  }
  r.info = JSON.parse(disk.info());
  r.rows = JSON.parse(disk.list());
  r.check = JSON.parse(disk.check());
  return r;
}

const ops = {
  open(core, m) {
    const disk = new core.Disk(new Uint8Array(m.bytes));
    disk.setName(m.name);
    const id = nextDisk++;
    disks.set(id, disk);
    return {disk: id, info: JSON.parse(disk.info()), rows: JSON.parse(disk.list()),
            check: JSON.parse(disk.check())};
  },
  close(core, m) {
    const disk = disks.get(m.disk);
    if (disk) disk.delete();
    disks.delete(m.disk);
    return true;
  },
  show(core, m) {
    const disk = disks.get(m.disk);
    return {info: JSON.parse(disk.info()), rows: JSON.parse(disk.list())};
  },
  enter(core, m) {
    const disk = disks.get(m.disk);
    const moved = m.row < 0 ? disk.up() : disk.enter(m.row);
    return {moved, info: JSON.parse(disk.info()), rows: JSON.parse(disk.list())};
  },
  preview(core, m) {
    return disks.get(m.disk).preview(m.row, panel.mask());
  },
  copy(core, m, transfer) {
    const disk = disks.get(m.disk);
    const meta = JSON.parse(disk.copy(m.row, panel.mask()));
    if (!meta) return null;
    meta.bytes = bytesOf(disk);
    transfer.push(meta.bytes);
    return meta;
  },
  all(core, m, transfer) {
    const disk = disks.get(m.disk);
    const files = JSON.parse(disk.extractAll(panel.mask()));
    const bytes = bytesOf(disk);
    transfer.push(bytes);
    return {files, bytes};
  },
  // A fresh disk as `odi new` makes it, opened as `file`.
  create(core, m, transfer) {
    const r = JSON.parse(core.newDisk(m.cpm, m.name, m.file));
    if (r.status) return r;
    const bytes = core.newBytes().slice();
    const opened = ops.open(core, {bytes, name: m.file});
    transfer.push(bytes.buffer);
    return {...r, ...opened, bytes: bytes.buffer};
  },
  put(core, m, transfer) {
    const disk = disks.get(m.disk);
    for (const s of m.sources) disk.addSource(s.name, new Uint8Array(s.bytes));
    return after(disk, disk.put(m.form, m.start, panel.mask()), transfer);
  },
  mkdir(core, m, transfer) {
    const disk = disks.get(m.disk);
    return after(disk, disk.mkdir(m.name), transfer);
  },
  rename(core, m, transfer) {
    const disk = disks.get(m.disk);
    return after(disk, disk.rename(m.row, m.name), transfer);
  },
  remove(core, m, transfer) {
    const disk = disks.get(m.disk);
    return after(disk, disk.remove(m.row), transfer);
  },
  holds(core, m) {
    return disks.get(m.disk).holds(m.row);
  },
  // Undo: the image as it was, the same catalogue shown where it still is.
  reset(core, m) {
    const disk = disks.get(m.disk);
    disk.reset(new Uint8Array(m.bytes));
    return {info: JSON.parse(disk.info()), rows: JSON.parse(disk.list()),
            check: JSON.parse(disk.check())};
  },
  panel(core, m) {
    if (m.click !== undefined) panel.click(m.click);
    if (m.select !== undefined) panel.select(m.select);
    return JSON.parse(panel.state());
  },
};

self.onmessage = async (ev) => {
  const m = ev.data;
  const transfer = [];
  try {
    const core = await ready;
    if (!panel) panel = new core.Panel();
    const result = ops[m.op](core, m, transfer);
    self.postMessage({id: m.id, ok: true, result}, transfer);
  } catch (e) {
    // After a trap or an abort the module is no use any more: the page starts a new worker.
    const fatal = e instanceof WebAssembly.RuntimeError || /abort/i.test(String(e));
    self.postMessage({id: m.id, ok: false, fatal, error: String(e && e.message || e)});
  }
};
