#!/usr/bin/env python3
"""odi mount against the FUSE mounters of Debian: cp -r of every file out of a read-only mount.

The same files for each: those odi extracts (bin form) from one disk, packed into each peer's own
image (squashfs, zip, ext2, FAT). Cold is the first copy out of a fresh mount, warm a copy of
files read once before; the mounts are made and ended outside the clock. The kernel's tmpfs (the
extracted folder itself) is the floor. Medians over rounds, the peers taking turns round by round
so that a busy moment of the machine hits all alike.

Usage: mount_peers.py ODI DISK|- WORKDIR   ("-": a disk of 98 files made here)
"""
import os
import random
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

odi, disk, work = sys.argv[1], sys.argv[2], sys.argv[3]
rounds = int(os.environ.get("BENCH_ROUNDS", "15"))


def run(*cmd, **kw):
    subprocess.run(cmd, check=True, stdout=subprocess.DEVNULL, **kw)


def made_disk():
    """98 files of 300..12000 bytes: 2 at the root, 24 in each of four catalogues (a root holds
    32 entries), as many as bst_mx.odi holds."""
    path, src = os.path.join(work, "peers.odi"), tempfile.mkdtemp(dir=work)
    rng = random.Random(98)
    run(odi, "new", path)
    for cat, n in (("/", 2), ("A", 24), ("B", 24), ("C", 24), ("D", 24)):
        if cat != "/":
            run(odi, "mkdir", path, cat)
        files = []
        for i in range(n):
            files.append(os.path.join(src, f"{cat.strip('/') or 'R'}{i:02d}.BIN"))
            with open(files[-1], "wb") as f:
                f.write(rng.randbytes(rng.randint(300, 12000)))
        run(odi, "put", path, cat, *files)
    shutil.rmtree(src)
    return path


disk = made_disk() if disk == "-" else disk
files = os.path.join(work, "files")
run(odi, "extract", "--all", "-q", "--type", "bin", "-o", files, disk)
listed = [os.path.join(d, f) for d, _, fs in os.walk(files) for f in fs]
nbytes = sum(map(os.path.getsize, listed))


def image(name, *cmd, cwd=None):
    path = os.path.join(work, name)
    if os.path.exists(path):  # left by an earlier run: mkfs.fat will not write over it
        os.remove(path)
    run(*[a.replace("IMG", path) for a in cmd], cwd=cwd)
    return path


# Each peer: (the program, how its image is made, how it mounts IMAGE at MP).
peers = {
    "odi mount": (odi, lambda: disk, lambda i, mp: [odi, "mount", "--read-only", i, mp]),
    "squashfuse": ("mksquashfs", lambda: image("p.sqfs", "mksquashfs", files, "IMG", "-noappend",
                                               "-quiet"),
                   lambda i, mp: ["squashfuse", i, mp]),
    "fuse-zip": ("zip", lambda: image("p.zip", "zip", "-qr", "IMG", ".", cwd=files),
                 lambda i, mp: ["fuse-zip", "-r", i, mp]),
    "fuse2fs": ("mke2fs", lambda: image("p.ext2", "mke2fs", "-q", "-t", "ext2", "-d", files, "IMG",
                                        "4M"),
                lambda i, mp: ["fuse2fs", "-o", "ro", i, mp]),
    "fusefat": ("mcopy", lambda: image("p.fat", "sh", "-c", f"mkfs.fat -C IMG 4096 >/dev/null && "
                                       f"mcopy -s -i IMG '{files}'/* ::"),
                lambda i, mp: ["fusefat", "-o", "ro", i, mp]),
}
mounters = {"odi mount": odi, "squashfuse": "squashfuse", "fuse-zip": "fuse-zip",
            "fuse2fs": "fuse2fs", "fusefat": "fusefat"}
images = {}
for name, (maker, make, _) in peers.items():
    if shutil.which(maker) and shutil.which(mounters[name]):
        images[name] = make()
    else:
        print(f"({name} not installed: left out)")


def mounted(name):
    mp = tempfile.mkdtemp(dir=work)
    run(*peers[name][2](images[name], mp), stderr=subprocess.DEVNULL)  # fusefat talks
    return mp


def unmount(mp):
    run("fusermount3", "-u", mp)
    os.rmdir(mp)


def copy_out(src):
    out = tempfile.mkdtemp(dir=work)
    t0 = time.perf_counter()
    run("cp", "-r", src + "/.", out)
    ms = (time.perf_counter() - t0) * 1000
    got = sum(len(fs) for _, _, fs in os.walk(out))
    shutil.rmtree(out)
    return ms, got


times = {(n, k): [] for n in images for k in ("cold", "warm")}
times[("tmpfs", "floor")] = []
seen = {}
for _ in range(rounds):
    times[("tmpfs", "floor")].append(copy_out(files)[0])
    for name in images:
        mp = mounted(name)
        for kind in ("cold", "warm"):
            ms, seen[name] = copy_out(mp)
            times[(name, kind)].append(ms)
        unmount(mp)

print(f"{disk}: {len(listed)} files, {nbytes} bytes; cp -r out of a read-only mount, "
      f"median of {rounds} rounds, ms")
floor = statistics.median(times[("tmpfs", "floor")])
med = {key: statistics.median(v) for key, v in times.items()}
print(f"{'mounter':14} {'cold':>8} {'warm':>8}  files")
for name in images:
    print(f"{name:14} {med[(name, 'cold')]:8.1f} {med[(name, 'warm')]:8.1f}  {seen[name]}")
print(f"{'tmpfs (floor)':14} {floor:8.1f} {floor:8.1f}  {len(listed)}")
# The target: odi at or below the best peer, cold and warm.
others = [n for n in images if n != "odi mount"]
if "odi mount" in images and others:
    for kind in ("cold", "warm"):
        best = min(others, key=lambda n: med[(n, kind)])
        r = med[("odi mount", kind)] / med[(best, kind)]
        print(f"odi / best peer ({best}), {kind}: {r:.2f} <=1.0{'' if r <= 1.0 else '  MISSED'}")
