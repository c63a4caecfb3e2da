#!/usr/bin/env bash
# Checks that the installer folder is reproducible: for each preset named (win32, win64),
# copies the sources to another folder, builds the installer folder there a second time and
# compares every file with build/<preset>/disk, which must already be built.
#   scripts/reproducible.sh [--release PRESET] win32 [win64]
# With --release (PRESET one of those named), scripts/release.sh then makes a release signed
# with a throwaway authority twice, without a time stamp (its time is SOURCE_DATE_EPOCH), and
# every output is compared, BUILDINFO, the SBOM and the minisign signature included. The
# release builds the commit in a folder of its own (build/from-commit/src/, from `git archive`
# and, in a tree with changes, those laid on top): for PRESET that build is the second build
# compared with build/<preset>/disk, and the one the release tests reuse.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
release=""
if [ "${1:-}" = --release ]; then release=$2; shift 2; fi

work=build/reproducible
rm -rf "$work"
mkdir -p "$work/src"
# A checkout of the same commit with this working tree's changes on it (files added, changed
# or deleted here), where the presets other than the release's are built a second time.
if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
  rmdir "$work/src"
  git clone -q --shared --no-checkout . "$work/src"
  git -C "$work/src" checkout -q --detach "$(git rev-parse HEAD)"
  git ls-files -z --cached --others --exclude-standard |
    tar --null -T - --ignore-failed-read -cf - 2>/dev/null | tar -xf - -C "$work/src"
  git ls-files -z --deleted | (cd "$work/src" && xargs -0 -r rm -f --)
else
  tar --exclude=./build -cf - . | tar -xf - -C "$work/src"
fi
# A tree with uncommitted changes (or outside git) is released as such, both times.
dirty=()
[ -n "$(git status --porcelain 2>/dev/null || echo none)" ] && dirty=(--allow-dirty)

same() {  # same PRESET FIRST SECOND: says whether two installer folders are byte-identical
  if diff -r -q "$2" "$3"; then
    echo "reproducible: $1: $(ls "$2" | wc -l) files in disk/, byte-identical in a second build"
  else
    echo "reproducible: $1: a second build of the same sources gave different files (above;" \
         "both are kept, the second in $3)" >&2
    return 1
  fi
}

status=0
for preset in "$@"; do
  first="build/$preset/disk"
  second="$work/src/build/$preset/disk"
  [ -f "$first/SETUP.EXE" ] || { echo "reproducible: $first is not built" >&2; exit 1; }
  [ "$preset" != "$release" ] || continue  # the release builds it, below
  log="$work/$preset.log"
  if ! (cd "$work/src" && cmake --preset "$preset" &&
        cmake --build --preset "$preset" --target setup stkit432 payload) >"$log" 2>&1; then
    tail -n 40 "$log" >&2
    echo "reproducible: $preset: the second build failed (above; the sources are kept in $work)" >&2
    exit 1
  fi
  same "$preset" "$first" "$second" || status=1
done
if [ -n "$release" ] && [ $status -eq 0 ]; then
  tests/release/make_test_ca.sh "$work/ca"
  root=$PWD
  export SETUP_SIGN_PKCS12="$root/$work/ca/signer.p12" SETUP_SIGN_PASSWORD_FILE="$root/$work/ca/password" \
    SETUP_SIGN_CAFILE="$root/$work/ca/root.pem" SETUP_SIGN_MINISIGN_KEY="$root/$work/ca/minisign.key"
  export SOURCE_DATE_EPOCH=${SOURCE_DATE_EPOCH:-$(git log -1 --format=%ct)}
  for n in 1 2; do
    if ! scripts/release.sh --build "$release" --out "$root/$work/release-$n" --no-timestamp "${dirty[@]}" \
         >"$work/release-$n.log" 2>&1; then
      cat "$work/release-$n.log" >&2
      echo "reproducible: release $n failed (above)" >&2
      exit 1
    fi
  done
  same "$release" "build/$release/disk" "build/from-commit/src/build/$release/disk" || status=1
  if diff -r -q "$work/release-1" "$work/release-2"; then
    echo "reproducible: $release release: folder, zip, image, SBOM, SHA256SUMS and its signature" \
         "byte-identical when made again"
  else
    echo "reproducible: $release release: the outputs differ (above; both are kept in $work)" >&2
    status=1
  fi
fi
[ $status -eq 0 ] && rm -rf "$work"
exit $status
