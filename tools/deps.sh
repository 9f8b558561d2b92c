#!/usr/bin/env bash
# Installs, with apt-get, whatever of the build and test dependencies is missing.
# Usage: tools/deps.sh [--fuzz] [--web]   (--fuzz adds clang and its sanitizer runtimes; --web
# emscripten for tools/web.sh, and headless Chromium with Selenium for the web page's test)
set -euo pipefail

pkgs=(cmake ninja-build g++ pkg-config qt6-base-dev libgl-dev libcli11-dev nlohmann-json3-dev
      libgtest-dev libgmock-dev googletest libbenchmark-dev xvfb xauth fonts-liberation
      fonts-dejavu-core clang-format clang-tidy cpmtools dpkg-dev lintian groff-base
      appstream bash-completion libfuse3-dev fuse3
      perl python3 vim-tiny nano tmux rsync)  # the tools the mount's test drives
for flag in "$@"; do
  case $flag in
    --fuzz) pkgs+=(clang-14 libclang-rt-14-dev) ;;
    --web) pkgs+=(emscripten node-acorn chromium chromium-driver python3-selenium) ;;
    *) echo "usage: tools/deps.sh [--fuzz] [--web]" >&2; exit 64 ;;
  esac
done

missing=()
for p in "${pkgs[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  echo "Installing: ${missing[*]}"
  if [[ $(id -u) -ne 0 ]]; then SUDO=sudo; else SUDO=; fi
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
