#!/usr/bin/env bash
# The package command: a Release build of odi and odiview (preset `package`, in build/pkg) and
# its Debian package, written to dist/odiview_<version>_<arch>.deb. The version is the one of
# `project(odiview VERSION ...)` in CMakeLists.txt; Depends come from dpkg-shlibdeps.
#
# Usage: tools/package.sh [--check]
#   --check  then tests the package (tools/test.sh does): lintian's errors and warnings fail it;
#            its files are exactly the expected ones; appstreamcli validates its AppStream file;
#            it is installed with apt-get (as root: for a throwaway machine such as CI), odi and
#            odiview run from /usr/bin, and it is removed again.
#            The sample disk comes from the test-image builder of build/ci (or another build).
set -euo pipefail
cd "$(dirname "$0")/.."

tools/deps.sh

# The changelog's date is the last commit's, so the same sources give the same package.
if [[ -z "${SOURCE_DATE_EPOCH:-}" ]] && git rev-parse --git-dir >/dev/null 2>&1; then
  export SOURCE_DATE_EPOCH=$(git log -1 --format=%ct)
fi

cmake --preset package >/dev/null
cmake --build --preset package -j "$(nproc)"
rm -rf build/pkg/cpack
cpack --preset package >/dev/null

debs=(build/pkg/cpack/odiview_*.deb)
if ((${#debs[@]} != 1)) || [[ ! -f "${debs[0]}" ]]; then
  echo "package.sh: expected one .deb in build/pkg/cpack, found: ${debs[*]}" >&2
  exit 1
fi
mkdir -p dist
rm -f dist/odiview_*.deb
mv "${debs[0]}" dist/
deb=dist/$(basename "${debs[0]}")
echo "$deb"

[[ "${1:-}" == "--check" ]] || exit 0

fail() { echo "package check: $*" >&2; exit 1; }
version=$(sed -n 's/^project(odiview VERSION \([0-9][0-9.]*\).*/\1/p' CMakeLists.txt)
[[ -n "$version" ]] || fail "no version in CMakeLists.txt's project()"
[[ "$deb" == "dist/odiview_${version}_$(dpkg --print-architecture).deb" ]] || fail "named $deb"
[[ "$(dpkg-deb -f "$deb" Version)" == "$version" ]] || fail "its Version is not $version"
dpkg-deb -f "$deb" Depends | grep -q libqt6widgets6 || fail "Depends names no Qt 6 Widgets"

echo "-- lintian (errors and warnings fail)"
lintian --fail-on error,warning "$deb" 2> >(grep -v 'running with root privileges' >&2)

builder=build/ci/tests/builder/odi-mkimage
[[ -x "$builder" ]] || builder=$(ls build/*/tests/builder/odi-mkimage 2>/dev/null | head -n 1)
[[ -n "$builder" && -x "$builder" ]] || fail "no build has the test-image builder; build one first"
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
mkdir "$scratch/disks"
"$builder" --sample "$scratch/disks/sample.odi"
build=${builder%/tests/builder/odi-mkimage}
reference=$build/src/cli/odi

echo "-- cmake --install of $build (tests built too): only the program's files"
DESTDIR="$scratch/destdir" cmake --install "$build" --prefix /usr >/dev/null
diff -u - <(cd "$scratch/destdir" && find . ! -type d | sort) <<'LIST' || fail "unexpected files"
./usr/bin/odi
./usr/bin/odiview
./usr/share/applications/io.github.odiview.odiview.desktop
./usr/share/bash-completion/completions/odi
./usr/share/icons/hicolor/scalable/apps/odiview.svg
./usr/share/icons/hicolor/scalable/mimetypes/application-x-specialist-mx-odi.svg
./usr/share/man/man1/odi.1
./usr/share/man/man1/odiview.1
./usr/share/metainfo/io.github.odiview.odiview.metainfo.xml
./usr/share/mime/packages/odiview.xml
LIST

echo "-- unpacked with dpkg -x: exactly these files"
dpkg -x "$deb" "$scratch/root"
diff -u - <(cd "$scratch/root" && find . ! -type d | sort) <<'LIST' || fail "unexpected files"
./usr/bin/odi
./usr/bin/odiview
./usr/share/applications/io.github.odiview.odiview.desktop
./usr/share/bash-completion/completions/odi
./usr/share/doc/odiview/changelog.gz
./usr/share/doc/odiview/copyright
./usr/share/icons/hicolor/scalable/apps/odiview.svg
./usr/share/icons/hicolor/scalable/mimetypes/application-x-specialist-mx-odi.svg
./usr/share/man/man1/odi.1.gz
./usr/share/man/man1/odiview.1.gz
./usr/share/metainfo/io.github.odiview.odiview.metainfo.xml
./usr/share/mime/packages/odiview.xml
LIST
[[ "$("$scratch/root/usr/bin/odi" --version)" == "odi $version" ]] || fail "unpacked odi --version"
metainfo=$scratch/root/usr/share/metainfo/io.github.odiview.odiview.metainfo.xml
grep -q "<release version=\"$version\"" "$metainfo" || fail "the metainfo's release is not $version"
appstreamcli validate --no-net --pedantic "$metainfo" || fail "appstreamcli finds fault with the metainfo"

echo "-- installed with apt-get"
if [[ $(id -u) -ne 0 ]]; then SUDO=sudo; else SUDO=; fi
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --reinstall "./$deb" >/dev/null
[[ "$(command -v odi)" == /usr/bin/odi ]] || fail "odi is not /usr/bin/odi"
out=$(/usr/bin/odi --version)
[[ "$out" == "odi $version" ]] || fail "odi --version says '$out', CMakeLists.txt $version"
/usr/bin/odi ls -R "$scratch/disks/sample.odi" >"$scratch/ls.txt"
[[ -s "$scratch/ls.txt" ]] || fail "odi ls printed nothing"
if [[ -x "$reference" ]]; then
  "$reference" ls -R "$scratch/disks/sample.odi" | diff -u - "$scratch/ls.txt" ||
    fail "the installed odi lists the sample disk otherwise than the build's"
fi
caption=$(QT_QPA_PLATFORM=xcb xvfb-run -a /usr/bin/odiview --smoke "$scratch/disks")
[[ -n "$caption" ]] || fail "odiview --smoke showed no window"
echo "odiview came up: $caption"
# No maintainer scripts: shared-mime-info's trigger must have taken the file type in.
if dpkg-query -W -f='${Status}' shared-mime-info 2>/dev/null | grep -q "install ok installed"; then
  grep -q '^application/x-specialist-mx-odi$' /usr/share/mime/types ||
    fail "the mime database has not got the .odi type"
fi

echo "-- removed with apt-get"
DEBIAN_FRONTEND=noninteractive $SUDO apt-get remove -y -qq odiview >/dev/null
for f in /usr/bin/odi /usr/bin/odiview /usr/share/man/man1/odi{,view}.1.gz \
  /usr/share/bash-completion/completions/odi; do
  [[ ! -e "$f" ]] || fail "$f is still there after the removal"
done
if [[ -f /usr/share/mime/types ]] && grep -q '^application/x-specialist-mx-odi$' /usr/share/mime/types; then
  fail "the mime database still has the .odi type after the removal"
fi
echo "package check: passed"
