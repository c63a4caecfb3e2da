#!/usr/bin/env bash
# Checks that the installer folder is reproducible: for each preset named (win32, win64),
# copies the sources to another folder, builds the installer folder there a second time and
# compares every file with build/<preset>/disk, which must already be built.
#   scripts/reproducible.sh win32 [win64]
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."

work=build/reproducible
rm -rf "$work"
mkdir -p "$work/src"
# The files a clean clone would have, as they are in this working tree (less any deleted here).
if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
  git ls-files -z --cached --others --exclude-standard |
    tar --null -T - --ignore-failed-read -cf - 2>/dev/null | tar -xf - -C "$work/src"
else
  tar --exclude=./build -cf - . | tar -xf - -C "$work/src"
fi

status=0
for preset in "$@"; do
  first="build/$preset/disk"
  second="$work/src/build/$preset/disk"
  [ -f "$first/SETUP.EXE" ] || { echo "reproducible: $first is not built" >&2; exit 1; }
  log="$work/$preset.log"
  if ! (cd "$work/src" && cmake --preset "$preset" &&
        cmake --build --preset "$preset" --target setup stkit432 payload) >"$log" 2>&1; then
    tail -n 40 "$log" >&2
    echo "reproducible: $preset: the second build failed (above; the sources are kept in $work)" >&2
    exit 1
  fi
  if diff -r -q "$first" "$second"; then
    echo "reproducible: $preset: $(ls "$first" | wc -l) files in disk/, byte-identical in a second build"
  else
    echo "reproducible: $preset: a second build of the same sources gave different files (above;" \
         "both are kept, the second in $second)" >&2
    status=1
  fi
done
[ $status -eq 0 ] && rm -rf "$work"
exit $status
