# Sourced by the scripts that run a build under Wine: chooses that build for this host.
#
# The 32-bit build (win32) is the product and runs wherever the host executes 32-bit x86 code.
# Some x86-64 hosts run 64-bit code only (a 32-bit program fails with "Exec format error");
# there the 64-bit build (win64) runs under Wine's 64-bit loader instead. Which kind this host
# is, is decided by scripts/host-probe.sh, not by Wine: a missing 32-bit Wine is no reason to
# leave the product untested, and no 32-bit Wine is installed where it could never run.
# SETUP_WINE_BUILD=win32 or win64 forces the choice for one run.
#
# Where the host cannot execute 32-bit code, the win32 build's end-to-end tests run in an
# emulated x86-64 guest that can (tests/guest); SETUP_GUEST=1 or 0 forces or skips that.
#
# setup_choose_wine_build [--tests] sets and exports SETUP_WINE_BUILD, and SETUP_WINE_CHOICE: the
# one line, also printed, that says which build runs and why; with --tests also SETUP_WINE_GUEST
# (1 or 0) and SETUP_WINE_GUEST_WHY, printed when the guest runs or is forced off (the guest
# concerns the tests only, so the demo says nothing of it). Returns non-zero, saying what is
# missing, when the chosen (or any) Wine loader cannot start here.

source "$(dirname "${BASH_SOURCE[0]}")/host-probe.sh"

# The loaders are Debian's; SETUP_WINE_LOADER32/64 name others (the scripts' own tests do).
setup_wine_loader_runs() {  # setup_wine_loader_runs win32|win64
  local loader=${SETUP_WINE_LOADER32:-/usr/lib/wine/wine}
  [ "$1" = win64 ] && loader=${SETUP_WINE_LOADER64:-/usr/lib/wine/wine64}
  [ -x "$loader" ] || { echo "$loader is not installed"; return 1; }
  local out status=0
  out=$("$loader" --version 2>&1) || status=$?
  [ "$status" -eq 0 ] && return 0
  echo "$loader cannot start: $(setup_failure "$status" "$out")"
  return 1
}

setup_choose_wine_build() {
  setup_host_runs_32bit || true  # one answer for both choices
  setup_choose_loader_build || return 1
  if [ "${1:-}" = --tests ]; then setup_choose_guest; fi
}

setup_choose_guest() {
  case "${SETUP_GUEST:-}" in
    1) setup_guest_chose 1 "the win32 build's end-to-end tests also run in the emulated guest (forced by SETUP_GUEST=1)" ;;
    0) setup_guest_chose 0 "no emulated guest (skipped by SETUP_GUEST=0)" ;;
    "")
      if [ "$SETUP_HOST32" = 1 ]; then
        SETUP_WINE_GUEST=0 SETUP_WINE_GUEST_WHY="this host runs the win32 build itself"
        export SETUP_WINE_GUEST SETUP_WINE_GUEST_WHY
      else
        setup_guest_chose 1 "the win32 build's end-to-end tests run in an emulated guest that runs 32-bit code (this host cannot: $SETUP_HOST32_WHY)"
      fi ;;
    *)
      echo "wine: SETUP_GUEST must be 1 or 0, not '$SETUP_GUEST'" >&2
      return 1 ;;
  esac
}

setup_guest_chose() {
  SETUP_WINE_GUEST=$1 SETUP_WINE_GUEST_WHY=$2
  export SETUP_WINE_GUEST SETUP_WINE_GUEST_WHY
  echo "wine: $SETUP_WINE_GUEST_WHY"
}

setup_choose_loader_build() {
  local why32 why64
  case "${SETUP_WINE_BUILD:-}" in
    win32|win64)
      if why32=$(setup_wine_loader_runs "$SETUP_WINE_BUILD"); then
        setup_wine_chose "running the $SETUP_WINE_BUILD build (forced by SETUP_WINE_BUILD)"
        return 0
      fi
      echo "wine: SETUP_WINE_BUILD=$SETUP_WINE_BUILD, but $why32" >&2
      return 1 ;;
    "") ;;
    *)
      echo "wine: SETUP_WINE_BUILD must be win32 or win64, not '$SETUP_WINE_BUILD'" >&2
      return 1 ;;
  esac
  if [ "$SETUP_HOST32" = 1 ]; then
    if why32=$(setup_wine_loader_runs win32); then
      SETUP_WINE_BUILD=win32
      setup_wine_chose "running the win32 build, the product (this host runs 32-bit x86 code)"
      return 0
    fi
    # The host runs 32-bit code: the product must not go untested for a broken install.
    echo "wine: the win32 build cannot run: $why32" >&2
    echo "wine: install Debian's wine32:i386 (scripts/bootstrap.sh does), or set SETUP_WINE_BUILD=win64" >&2
    return 1
  fi
  if why64=$(setup_wine_loader_runs win64); then
    SETUP_WINE_BUILD=win64
    setup_wine_chose "running the win64 build (this host runs 64-bit code only: $SETUP_HOST32_WHY)"
  else
    echo "wine: this host runs 64-bit code only ($SETUP_HOST32_WHY), and $why64" >&2
    echo "wine: install Debian's wine64 (scripts/bootstrap.sh does)" >&2
    return 1
  fi
}

setup_wine_chose() {
  SETUP_WINE_CHOICE="$1"
  export SETUP_WINE_BUILD SETUP_WINE_CHOICE
  echo "wine: $SETUP_WINE_CHOICE"
}
