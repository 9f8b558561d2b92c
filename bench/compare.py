#!/usr/bin/env python3
"""Whole-process timings of odi against the raw-I/O floor, side by side in one run.

Each task alternates with its floor round by round, so that a busy moment of the machine hits
both alike; the table gives medians per image and the ratio to the floor.
"""
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

build, one_dir, many_dir, cpm_dir = sys.argv[1], sys.argv[2], sys.argv[3], sys.argv[4]
diskdefs = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "cpm")
rounds = int(os.environ.get("BENCH_ROUNDS", "15"))
odi = os.path.join(build, "src/cli/odi")
floor = os.path.join(build, "bench/odi-floor")
one = os.path.join(one_dir, "disk000.odi")
many = sorted(os.path.join(many_dir, f) for f in os.listdir(many_dir) if f.endswith(".odi"))
cpm = os.path.join(cpm_dir, "disk000.odi")

# The floor writes as many files and bytes as odi extract does for the same disk.
probe = tempfile.mkdtemp()
subprocess.run([odi, "extract", "--all", "-q", "--type", "bin", "-o", probe, one], check=True)
nfiles = sum(len(f) for _, _, f in os.walk(probe))
nbytes = sum(os.path.getsize(os.path.join(d, f)) for d, _, fs in os.walk(probe) for f in fs)
shutil.rmtree(probe)
probe = tempfile.mkdtemp()
subprocess.run([odi, "extract", "--all", "-q", "-o", probe, one], check=True)
txt_bytes = sum(os.path.getsize(os.path.join(d, f)) for d, _, fs in os.walk(probe) for f in fs)
shutil.rmtree(probe)

probe = tempfile.mkdtemp()
subprocess.run([odi, "extract", "--all", "-q", "--type", "bin", "-o", probe, cpm], check=True)
cpm_files = sum(len(f) for _, _, f in os.walk(probe))
cpm_bytes = sum(os.path.getsize(os.path.join(d, f)) for d, _, fs in os.walk(probe) for f in fs)
shutil.rmtree(probe)

def cpmcp(o):
    # cpmtools finds its disk definitions only in the current folder; one run copies every user area.
    return ["sh", "-c", f"cd '{diskdefs}' && cpmcp -f specmx '{cpm}' '0:*' '1:*' '2:*' '5:*' '{o}'"]

def out_dir():
    return tempfile.mkdtemp(dir=os.environ.get("BENCH_TMP"))

tasks = {
    "extract --all --type bin, 1 disk": (lambda o: [odi, "extract", "--all", "-q", "--type", "bin", "-o", o, one], 1),
    "extract --all (txt), 1 disk": (lambda o: [odi, "extract", "--all", "-q", "-o", o, one], 1),
    "floor, 1 disk": (lambda o: [floor, "--files", str(nfiles), "--bytes", str(nbytes), o, one], 1),
    "floor (txt size), 1 disk": (lambda o: [floor, "--files", str(nfiles), "--bytes", str(txt_bytes), o, one], 1),
    f"extract --all --type bin, {len(many)} disks": (lambda o: [odi, "extract", "--all", "-q", "--type", "bin", "-j", "1", "-o", o] + many, len(many)),
    f"extract --all --type bin, {len(many)} disks, default jobs": (lambda o: [odi, "extract", "--all", "-q", "--type", "bin", "-o", o] + many, len(many)),
    f"floor, {len(many)} disks": (lambda o: [floor, "--files", str(nfiles), "--bytes", str(nbytes), o] + many, len(many)),
    "ls -R, 1 disk": (lambda o: [odi, "ls", "-R", one], 1),
    "floor --read-only, 1 disk": (lambda o: [floor, "--read-only", o, one], 1),
    "extract --all --type bin, CP/M disk": (lambda o: [odi, "extract", "--all", "-q", "--type", "bin", "-o", o, cpm], 1),
    "floor, CP/M disk": (lambda o: [floor, "--files", str(cpm_files), "--bytes", str(cpm_bytes), o, cpm], 1),
    "cpmcp, CP/M disk (cpmtools)": (cpmcp, 1),
}
pairs = [
    ("extract --all --type bin, 1 disk", "floor, 1 disk", 1.0),
    ("extract --all (txt), 1 disk", "floor (txt size), 1 disk", 1.3),
    (f"extract --all --type bin, {len(many)} disks", f"floor, {len(many)} disks", 1.1),
    (f"extract --all --type bin, {len(many)} disks, default jobs", f"floor, {len(many)} disks", 1.1),
    ("ls -R, 1 disk", "floor --read-only, 1 disk", 1.0),
    ("extract --all --type bin, CP/M disk", "floor, CP/M disk", 1.1),
]
if shutil.which("cpmcp"):
    pairs.append(("cpmcp, CP/M disk (cpmtools)", "floor, CP/M disk", None))
# Each task alternates with its own floor, round by round; a pair's output folders are made
# before and removed after the timed run, so the file system's clean-up of one task does not land
# in the other's time.
times = {k: [] for k in tasks}
for task, base, _ in pairs:
    n = rounds if "disks" not in task else max(3, rounds // 3)
    for _ in range(n):
        for name in (task, base):
            cmd, per = tasks[name]
            o = out_dir()
            subprocess.run(["sync"])
            t0 = time.perf_counter()
            subprocess.run(cmd(o), check=True, stdout=subprocess.DEVNULL)
            times[name].append((time.perf_counter() - t0) * 1000 / per)
            shutil.rmtree(o)

med = {k: statistics.median(v) for k, v in times.items()}
print(f"one disk: {nfiles} files, {nbytes} bytes (bin), {txt_bytes} bytes (txt); {rounds} rounds")
print(f"CP/M disk: {cpm_files} files, {cpm_bytes} bytes (bin)")
print(f"{'task':62} {'ms/image':>9} {'floor':>9} {'ratio':>6} {'target':>7}")
for task, base, target in pairs:
    r = med[task] / med[base]
    goal = "" if target is None else "<=" + str(target)
    print(f"{task:62} {med[task]:9.3f} {med[base]:9.3f} {r:6.2f} {goal:>7}"
          f"{'' if target is None or r <= target else '  MISSED'}")
