#!/usr/bin/env bash
# Builds the test guest's disk, once: an amd64 Debian bookworm root (debootstrap, minbase) with
# the i386 architecture added and the packages in scripts/guest/packages, packed without a loop
# mount into an ext4 image, with the kernel and initrd beside it.
#
#   scripts/guest/image.sh [DIR]           DIR: $SETUP_GUEST_IMAGE, or build/guest-image
#   scripts/guest/image.sh --check [DIR]   exits 0 when DIR holds an image that would be reused
#   scripts/guest/image.sh --stamp DIR     records the stamp for the files in DIR (the build's
#                                          last step)
#
# DIR/stamp records the recipe (this script, the package list and the guest's init) and a
# checksum of each file. An image whose stamp matches is reused; anything else in DIR (a build
# cut short, a truncated or changed file, an older recipe) is removed and built again, so a
# half-built image is never booted. The build runs in DIR.tmp and is moved into place last.
# Needs root (debootstrap, chroot) and Debian's debootstrap and e2fsprogs.
#
# The Debian mirror is the host's own, from its apt configuration (the source that serves the
# bookworm release, or else the host's own release, and the host's apt proxy), so the image
# builds wherever the host's apt works; SETUP_GUEST_MIRROR names another.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
source "$here/../apt.sh"
mode=build
case "${1:-}" in --check|--stamp) mode=${1#--}; shift ;; esac
dir=$(realpath -m "${1:-${SETUP_GUEST_IMAGE:-$here/../../build/guest-image}}")
files=(root.img vmlinuz initrd.img)

recipe() { cat "$here/image.sh" "$here/packages" "$here/init" | sha256sum | cut -d' ' -f1; }

checksums() {  # openssl's SHA-256 uses the processor's SHA instructions: about 1.3 GB/s
  local f
  for f in "${files[@]}"; do
    [ -f "$1/$f" ] || return 1
    (cd "$1" && openssl dgst -sha256 -r "$f") || return 1
  done
}

image_ok() {  # the stamp matches the recipe, and every file its checksum
  local d=$1
  [ -f "$d/stamp" ] || return 1
  [ "$(sed -n 1p "$d/stamp")" = "recipe $(recipe)" ] || return 1
  local sums
  sums=$(checksums "$d") && [ "$(sed 1d "$d/stamp")" = "$sums" ]
}

write_stamp() {
  local sums
  sums=$(checksums "$1") || { echo "guest image: $1 lacks a file of the image" >&2; return 1; }
  printf 'recipe %s\n%s\n' "$(recipe)" "$sums" >"$1/stamp.new"
  mv "$1/stamp.new" "$1/stamp"
}

ours() {  # the folder is missing, or holds nothing but what this script makes in it
  local entry
  [ -e "$1" ] || return 0
  [ -d "$1" ] || return 1
  for entry in "$1"/* "$1"/.[!.]*; do
    [ -e "$entry" ] || continue
    case ${entry##*/} in
      root|root.img|vmlinuz|initrd.img|stamp|stamp.new|*.log) ;;
      *) return 1 ;;
    esac
  done
}

case $mode in
  check) image_ok "$dir"; exit ;;
  stamp) write_stamp "$dir"; exit ;;
esac

if image_ok "$dir"; then
  echo "guest image: $dir is up to date"
  exit 0
fi

work=$dir.tmp
root=$work/root
# Whatever is in the way is removed below: only a folder of this script's making may be.
case $dir in *[[:space:]]*) echo "guest image: no blank in the image's path, please: $dir" >&2; exit 1 ;; esac
for d in "$dir" "$work"; do
  ours "$d" || { echo "guest image: $d holds files that are not an image's; not touching it" >&2; exit 1; }
done
# One build at a time in one folder.
mkdir -p "$(dirname "$dir")"
exec 9>"$dir.lock"
flock 9
if image_ok "$dir"; then  # built meanwhile by the holder of the lock
  echo "guest image: $dir is up to date"
  exit 0
fi
mounts_under_root() { findmnt -rn -o TARGET | awk -v r="$root/" 'index($0, r) == 1' | sort -r; }
unmount_all() {
  local m
  for m in $(mounts_under_root); do umount "$m" || umount -l "$m" || true; done
}
remove_work() {
  unmount_all
  if [ -n "$(mounts_under_root)" ]; then
    echo "guest image: $root still has mounts; not removing it" >&2
    return 1
  fi
  rm -rf --one-file-system "$work"
}
trap 'remove_work' EXIT
remove_work
[ -e "$dir" ] && echo "guest image: $dir is stale or incomplete; building it again"
rm -rf --one-file-system "$dir"
mkdir -p "$work"
start=$SECONDS

# The host's mirror: the one it takes bookworm from, or else its own release from.
host_mirror() {
  local own
  own=$(. /etc/os-release 2>/dev/null && echo "${VERSION_CODENAME:-}")
  apt-get indextargets --no-release-info --format '$(REPO_URI) $(RELEASE) $(COMPONENT)' 2>/dev/null |
    awk -v own="$own" '$3 == "main" && $2 == "bookworm" { print $1; found = 1; exit }
                       $3 == "main" && $2 == own && !other { other = $1 }
                       END { if (!found && other) print other }' | head -n1
}
mirror=${SETUP_GUEST_MIRROR:-$(host_mirror)}
mirror=${mirror%/}
[ -n "$mirror" ] || { echo "guest image: the host's apt names no Debian mirror; set SETUP_GUEST_MIRROR" >&2; exit 1; }
proxy=""
eval "$(apt-config shell proxy Acquire::http::Proxy)"
[ -n "$proxy" ] && export http_proxy=$proxy
via=""; [ -n "$proxy" ] && via=" through the apt proxy of the host"
echo "guest image: Debian from $mirror$via"

mapfile -t packages < <(grep -v '^#' "$here/packages" | grep .)
echo "guest image: debootstrap bookworm into $root"
debootstrap --variant=minbase --arch=amd64 bookworm "$root" "$mirror" >"$work/debootstrap.log" 2>&1 ||
  { tail -20 "$work/debootstrap.log" >&2; exit 1; }

mount -t proc proc "$root/proc"
mount -t sysfs sys "$root/sys"
# The guest has no network and runs only tests: the release and its updates are enough.
cat >"$root/etc/apt/sources.list" <<SOURCES
deb $mirror bookworm main
deb $mirror bookworm-updates main
SOURCES
# No daemon may start inside the chroot.
printf '#!/bin/sh\nexit 101\n' >"$root/usr/sbin/policy-rc.d"
chmod +x "$root/usr/sbin/policy-rc.d"
echo "guest image: installing ${#packages[@]} packages"
chroot "$root" dpkg --add-architecture i386
# The same steps as the bootstrap's, through a mirror that may be in the middle of a sync.
apt_run=(chroot "$root" /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin DEBIAN_FRONTEND=noninteractive
         ${proxy:+http_proxy=$proxy} apt-get)
apt_who="guest image"
apt_log=$work/apt.log
apt_codename=bookworm
apt_update
apt_install --no-install-recommends "${packages[@]}" || exit 1
"${apt_run[@]}" clean
rm -f "$root/usr/sbin/policy-rc.d"
rm -rf "$root"/var/lib/apt/lists/* "$root"/var/cache/apt/*.bin
install -m 755 "$here/init" "$root/sbin/setup-guest-init"
unmount_all
[ -z "$(mounts_under_root)" ] || { echo "guest image: cannot unmount $(mounts_under_root)" >&2; exit 1; }

cp "$(ls "$root"/boot/vmlinuz-* | sort -V | tail -1)" "$work/vmlinuz"
cp "$(ls "$root"/boot/initrd.img-* | sort -V | tail -1)" "$work/initrd.img"
echo "guest image: packing the root into an ext4 image"
mkfs.ext4 -q -F -d "$root" -L root -E lazy_itable_init=0,lazy_journal_init=0 "$work/root.img" 4G
rm -rf --one-file-system "$root"
write_stamp "$work"
rm -f "$work"/*.log
mv "$work" "$dir"
trap - EXIT
image_ok "$dir" || { echo "guest image: $dir fails its own check" >&2; exit 1; }
echo "guest image: built in $((SECONDS - start)) s, $(du -sh --apparent-size "$dir" | cut -f1) apparent, $(du -sh "$dir" | cut -f1) on disk"
