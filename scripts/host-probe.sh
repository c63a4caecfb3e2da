# Sourced by the bootstrap and by scripts/wine-build.sh: does this host execute 32-bit x86 code?
#
# Some x86-64 hosts run 64-bit code only: the kernel refuses every 32-bit program with "Exec
# format error". Whether a host is one of them is learnt here by running a program of our own
# that needs no package: a static i386 Linux program of 93 bytes (an ELF header, one loadable
# segment, and `mov eax, 1; xor ebx, ebx; int 0x80`, that is exit(0)), written out below. It
# runs, or it does not; any failure to run it means 64-bit code only.
#
# SETUP_PROBE32 names another program to run instead (the scripts' own tests use stand-ins).
#
# setup_host_runs_32bit: returns 0 where 32-bit code runs; sets and exports SETUP_HOST32 (1 or
# 0) and SETUP_HOST32_WHY (the probe's failure, for the lines that say why).

setup_probe32_write() {  # setup_probe32_write PATH
  printf '\177ELF\1\1\1\0\0\0\0\0\0\0\0\0'`
        `'\2\0\3\0\1\0\0\0\124\200\4\10\64\0\0\0\0\0\0\0\0\0\0\0\64\0\40\0\1\0\0\0\0\0\0\0'`
        `'\1\0\0\0\0\0\0\0\0\200\4\10\0\200\4\10\135\0\0\0\135\0\0\0\5\0\0\0\0\20\0\0'`
        `'\270\1\0\0\0\61\333\315\200' >"$1"
  chmod 755 "$1"
}

# setup_failure STATUS OUTPUT: why a program did not run, in a few words: the last part of what
# it printed ("Exec format error"), else the signal that ended it, else its exit code.
setup_failure() {
  local out=${2##*: }
  if [ -n "$out" ]; then
    echo "$out"
  elif [ "$1" -gt 128 ] && [ "$1" -lt 160 ]; then
    echo "killed by SIG$(kill -l $(($1 - 128)))"
  else
    echo "exit code $1"
  fi
}

setup_host_runs_32bit() {
  local probe=${SETUP_PROBE32:-} dir="" out status=0
  if [ -z "$probe" ]; then
    # Beside the build trees, not in a temporary folder that may be mounted noexec.
    local build
    build=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)/build
    mkdir -p "$build" && dir=$(mktemp -d "$build/.probe32.XXXXXX") || return 1
    probe=$dir/probe32
    setup_probe32_write "$probe"
  fi
  out=$("$probe" 2>&1) || status=$?
  [ -n "$dir" ] && rm -rf "$dir"
  if [ "$status" -eq 0 ]; then
    SETUP_HOST32=1 SETUP_HOST32_WHY=""
  else
    SETUP_HOST32=0 SETUP_HOST32_WHY="a 32-bit x86 program fails here: $(setup_failure "$status" "$out")"
  fi
  export SETUP_HOST32 SETUP_HOST32_WHY
  [ "$SETUP_HOST32" = 1 ]
}
