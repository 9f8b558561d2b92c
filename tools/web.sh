#!/usr/bin/env bash
# Builds the web page: the core (src/state, src/image, src/extract), the pieces of odi that give
# `ls --json` rows and walk trees (src/cli/common.cpp, ls_row.cpp) and that change an image in
# memory as its writing commands do (src/cli/change.cpp), the options panel's rules and
# the binding src/web/binding.cpp, with Debian's emscripten, into dist/web/: index.html, app.js,
# style.css and odicore.js (the WebAssembly embedded, and the worker's code). The page works
# opened from disk, from any static host, and offline.
# Usage: tools/web.sh    (tools/deps.sh --web installs emscripten)
set -euo pipefail
cd "$(dirname "$0")/.."
export NODE_PATH=/usr/share/nodejs
build=build/web
out=dist/web
mkdir -p "$build/include" "$out"
ln -sfn /usr/include/nlohmann "$build/include/nlohmann"

version=$(sed -n 's/^project(odiview VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
echo "#define ODI_VERSION \"$version\"" >"$build/version.h"
echo "-std=c++20 -O2 -Isrc -isystem $build/include -include $build/version.h" >"$build/flags"
# The page writes no files on a disk: the writing of fresh trees (renameat2) stays out.
sources=()
for s in src/state/*.cpp src/image/*.cpp src/image/*/*.cpp src/extract/*.cpp src/cli/common.cpp \
  src/cli/ls_row.cpp src/cli/change.cpp src/options/rules.cpp src/web/binding.cpp; do
  [[ $s == src/extract/fresh_tree.cpp ]] || sources+=("$s")
done

# One object per source, two at a time; only what changed is compiled again.
objects=()
for s in "${sources[@]}"; do objects+=("$build/$(echo "${s%.cpp}" | tr / _).o"); done
for i in "${!sources[@]}"; do
  s=${sources[$i]} o=${objects[$i]}
  if [[ ! -f $o || $s -nt $o || -n $(find src web -name '*.h' -newer "$o" -print -quit) ]]; then
    printf '%s\0%s\0' "$s" "$o"
  fi
done | xargs -0 -r -n2 -P2 sh -c 'echo "em++ $1"; em++ $(cat '"$build"'/flags) -c "$1" -o "$2"' sh
for o in "${objects[@]}"; do [[ -f $o ]] || { echo "not built: $o" >&2; exit 1; }; done

em++ -O2 --bind "${objects[@]}" -o "$build/module.js" \
  -s MODULARIZE=1 -s EXPORT_NAME=OdiCore -s SINGLE_FILE=1 -s ALLOW_MEMORY_GROWTH=1 \
  -s ENVIRONMENT=worker -s FILESYSTEM=0

# The worker's code is one function that the page turns into a worker of its own (a page opened
# from disk may not start a worker from a file).
{
  echo "function odiWorkerMain() {"
  cat "$build/module.js" web/worker.js
  echo "}"
} >"$out/odicore.js"
cp web/index.html web/app.js web/style.css "$out/"
echo "built $out/index.html"
