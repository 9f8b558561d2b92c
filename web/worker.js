// The worker: the core (OdiCore, the emscripten module above this code in odicore.js) and the
// open images. The page asks with {id, op, ...} and hears {id, ok, result} or {id, ok: false,
// error}; bytes travel as transferred ArrayBuffers. Nothing here reads a disk itself: every
// answer comes from the core through the binding.
'use strict';
const ready = OdiCore();
const disks = new Map();
let nextDisk = 1;
let panel = null;

function bytesOf(disk) {
  return disk.buffer().slice().buffer;  // a copy out of the module's memory
}

const ops = {
  open(core, m) {
    const disk = new core.Disk(new Uint8Array(m.bytes));
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
