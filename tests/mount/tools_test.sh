#!/usr/bin/env bash
# The everyday tools on a mounted disk, one step each: sed -i, perl -i, Python's mkstemp and
# os.replace, vim, nano, cp -r, tar x, rsync -a in and out (MX_DOS), cp of a lower-case name
# (CP/M). After each, odi cat gives what the tool should have written. A tool that is not
# installed skips its step; under CI=true that fails, as does a missing FUSE (exit 77: skipped).
# Usage: tools_test.sh ODI
set -u
odi=$(realpath "$1")
tmp=$(mktemp -d)
mnt=$tmp/mnt
pid=
cleanup() {
  [[ -n $pid ]] && fusermount3 -u -z "$mnt" 2>/dev/null && wait "$pid"
  tmux -L "odi-tools-$$" kill-server 2>/dev/null
  rm -rf "$tmp"
}
trap cleanup EXIT
fails=0
fail() { echo "FAIL $*" && fails=1; }

# missing TOOL: true, and a skip or under CI a failure, when TOOL is not installed.
missing() {
  command -v "$1" >/dev/null && return 1
  if [[ ${CI:-} == true ]]; then fail "$1: not installed"; else echo "skip $1: not installed"; fi
}
if [[ ! -w /dev/fuse ]] || ! command -v fusermount3 >/dev/null; then
  [[ ${CI:-} == true ]] && { echo "FAIL: no FUSE" && exit 1; }
  echo "skip: no FUSE" && exit 77
fi

# mount_disk IMAGE: odi mount -f in the background until unmount_disk.
mount_disk() {
  image=$1
  mkdir -p "$mnt" && "$odi" mount -f "$image" "$mnt" &
  pid=$!
  for _ in $(seq 100); do mountpoint -q "$mnt" && return; sleep 0.05; done
  fail "$image: not mounted" && exit 1
}
unmount_disk() { fusermount3 -u "$mnt" && wait "$pid"; pid=; }

# expect STEP ENTRY WANT: odi cat of ENTRY gives the bytes WANT (printf's escapes).
expect() {
  local got want
  got=$("$odi" cat --type bin "$image" "$2" 2>&1 | od -c) want=$(printf "$3" | od -c)
  [[ $got == "$want" ]] || fail "$1: $2 is <$("$odi" cat --type bin "$image" "$2" 2>&1)>, not <$3>"
}

# step NAME COMMAND...: runs one tool, its failure told with what it printed.
step() {
  local name=$1
  shift
  "$@" </dev/null >"$tmp/said" 2>&1 || fail "$name: status $? ($(head -c 300 "$tmp/said"))"
}

cd "$tmp" || exit 1
"$odi" new mx.odi || exit 1
for f in SED PERL PY VIM NANO; do printf 'banana\n' >$f.TXT && "$odi" put mx.odi / $f.TXT; done
mount_disk mx.odi

missing sed || { step sed sed -i s/a/b/ "$mnt/SED.TXT" && expect sed SED.TXT 'bbnana\n'; }
missing perl || { step perl perl -i -pe 's/n/m/g' "$mnt/PERL.TXT"; expect perl PERL.TXT 'bamama\n'; }
missing python3 || {
  step python python3 -c 'import os, sys, tempfile
fd, name = tempfile.mkstemp(dir=sys.argv[1])
os.write(fd, b"python\n")
os.close(fd)
os.replace(name, os.path.join(sys.argv[1], "PY.TXT"))' "$mnt"
  expect python PY.TXT 'python\n'
}
vim=$(command -v vim vim.tiny vi | head -1)
missing "${vim:-vim}" || {
  step vim "$vim" -Es -i NONE -c '%s/a/o/g' -c wq "$mnt/VIM.TXT"
  expect vim VIM.TXT 'bonono\n'
}
# nano is driven through a terminal of tmux: it types, saves (^S) and leaves (^X).
missing nano || missing tmux || {
  t=(tmux -L "odi-tools-$$")
  "${t[@]}" new-session -d -x 80 -y 24 "nano '$mnt/NANO.TXT'"
  # Keys typed before nano shows the file can be lost (a slow start under a loaded machine or the
  # sanitizers): typing waits for its text on the screen.
  for _ in $(seq 200); do "${t[@]}" capture-pane -p 2>/dev/null | grep -q banana && break; sleep 0.05; done
  "${t[@]}" send-keys -l 'nano '
  "${t[@]}" send-keys C-s C-x
  for _ in $(seq 100); do "${t[@]}" has-session 2>/dev/null || break; sleep 0.05; done
  expect nano NANO.TXT 'nano banana\n'
}

mkdir -p tree/SUB && printf 'one\n' >tree/ONE.TXT && head -c 3000 /dev/urandom >tree/SUB/TWO.BIN
same_tree() {
  expect "$1" "$2ONE.TXT" 'one\n'
  cmp -s <("$odi" cat --type bin "$image" "$2SUB/TWO.BIN" 2>/dev/null) tree/SUB/TWO.BIN || fail "$1: TWO.BIN"
}
step "cp -r" cp -r tree "$mnt/CP" && same_tree "cp -r" CP/
missing tar || {
  tar -cf tree.tar -C tree ONE.TXT SUB && step "tar x" tar -xf tree.tar -C "$mnt/"
  same_tree "tar x" ""
}
missing rsync || {
  step "rsync -a in" rsync -a tree/ "$mnt/RS/" && same_tree "rsync -a in" RS/
  step "rsync -a out" rsync -a "$mnt/" out/
  diff -r tree out/RS >/dev/null || fail "rsync -a out: not the tree"
}
unmount_disk

"$odi" new --cpm cpm.odi && mount_disk cpm.odi
printf 'low\n' >lower.txt && step "cp lower.txt" cp lower.txt "$mnt/"
"$odi" ls --json cpm.odi | grep -q '"disk_name": "LOWER"' || fail "cp lower.txt: not LOWER.TXT"
expect "cp lower.txt" LOWER.TXT 'low\n'
unmount_disk
exit $fails
