#!/usr/bin/env bash
# The run command: installs what is missing, builds, writes the sample disk and opens the main
# window on its folder. Without a display it says so and shows the sample disk with `odi` instead.
set -euo pipefail
cd "$(dirname "$0")/.."

tools/deps.sh
cmake --preset dev >/dev/null
cmake --build --preset dev -j "$(nproc)"

sample=build/dev/sample/sample.odi
if [[ -n "${DISPLAY:-}" || -n "${WAYLAND_DISPLAY:-}" ]]; then
  exec build/dev/src/app/odiview "$sample"
fi

echo "No display here: to see the window, run under a virtual display: xvfb-run -a tools/run.sh"
echo "The sample disk, as odi shows it:"
echo
build/dev/src/cli/odi info "$sample"
build/dev/src/cli/odi ls -R "$sample"
echo
echo "--- odi cat $sample ОПИСАНИЕ.TXT (first lines, recoded to CP1251, shown here as UTF-8):"
build/dev/src/cli/odi cat "$sample" ОПИСАНИЕ.TXT | iconv -f CP1251 -t UTF-8 | head -n 12 || true
