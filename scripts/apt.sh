# Sourced by the bootstrap and by the guest image's script: apt-get steps that get through a
# Debian mirror caught in the middle of a sync.
#
# A mirror that is syncing serves, for a while (hours, now and then), index files that do not
# match their release file ("File has unexpected size ... Mirror sync in progress?"), or the
# indexes of one architecture a step behind those of another, so that a package of the i386
# architecture cannot be installed beside its amd64 twin ("you have held broken packages").
#
#   apt_update                tries `apt-get update` again after a pause, a bounded number of
#                             times, then goes on with the indexes it has (saying so in one line)
#   apt_install PKG...        installs; where that fails, installs from the release's own suite
#                             (whose architectures are published together); where that fails
#                             too, says in one line which packages cannot be installed and why
#
# They run apt-get through "${apt_run[@]}" (default: apt-get), so that the image script can run
# it in its chroot; $apt_codename is the release's code name (default: this host's), $apt_who
# starts their lines, $apt_log is where apt's own output goes. SETUP_APT_TRIES (default 3) and
# SETUP_APT_PAUSE (seconds, default 20; the n-th pause is n times it) bound the update.
# Nothing of apt's own output is printed: only the lines of these functions.

apt_run=(apt-get)
apt_who=apt
apt_log=/dev/null
apt_codename=$(. /etc/os-release 2>/dev/null && echo "${VERSION_CODENAME:-}")

apt_first_error() {  # apt's first "E:" line in the log, or its last line
  local line
  line=$(grep -m1 '^E: ' "$apt_log" 2>/dev/null) || line=$(tail -n1 "$apt_log" 2>/dev/null)
  echo "${line:-no output}"
}

apt_update() {
  local tries=${SETUP_APT_TRIES:-3} pause=${SETUP_APT_PAUSE:-20} n
  for ((n = 1; ; n++)); do
    "${apt_run[@]}" update -qq >"$apt_log" 2>&1 && return 0
    [ "$n" -ge "$tries" ] && break
    sleep $((n * pause))
  done
  echo "$apt_who: apt-get update failed $tries times ($(apt_first_error)); going on with the package indexes it has"
}

apt_install() {
  "${apt_run[@]}" install -y -qq "$@" >"$apt_log" 2>&1 && return 0
  local why
  why=$(apt_first_error)
  if [ -n "$apt_codename" ] && "${apt_run[@]}" install -y -qq -t "$apt_codename" "$@" >"$apt_log" 2>&1; then
    echo "$apt_who: the mirror's updates do not fit together ($why); installed from the release's own suite, $apt_codename"
    return 0
  fi
  [ -n "$apt_codename" ] && why=$(apt_first_error)
  # Which of them cannot be installed, each on its own (a simulation, nothing is changed).
  local p failing=() rest=0 base=()
  [ -n "$apt_codename" ] && base=(-t "$apt_codename")
  for p in "$@"; do
    if "${apt_run[@]}" install -s -qq "${base[@]}" "$p" >/dev/null 2>&1; then
      rest=$((rest + 1))
    else
      failing+=("$p")
    fi
  done
  [ ${#failing[@]} -eq 0 ] && failing=("$@") rest=0
  local line="$apt_who: could not install ${failing[*]} ($why)"
  [ "$rest" -gt 0 ] && line+="; the other $rest of the $# packages would install without them"
  echo "$line"
  return 1
}
