#!/bin/sh
# A CTest fixture: a small tmpfs for tests that need a nearly full volume
# (Windows tests under Wine cannot mount one themselves).
#
#   small_volume.sh mount DIR SIZE    mounts a tmpfs of SIZE (e.g. 64k) on DIR
#   small_volume.sh unmount DIR       unmounts it
#
# Mounting needs root. It never fails the fixture: DIR.status reads "mounted"
# or why not, and the tests skip with that reason.
set -u
cmd="${1:-}"
dir="${2:-}"
[ -n "$dir" ] || { echo "usage: small_volume.sh mount DIR SIZE | unmount DIR" >&2; exit 2; }

release() {
  # A lazy unmount as a fallback: a program that still has the folder as its
  # working directory must not leave the volume behind.
  if mountpoint -q "$dir"; then umount "$dir" 2>/dev/null || umount -l "$dir"; fi
}

case "$cmd" in
  mount)
    size="${3:?size}"
    mkdir -p "$dir"
    release  # left over from a run that was cut short
    if reason="$(mount -t tmpfs -o "size=$size" tmpfs "$dir" 2>&1)"; then
      echo "mounted tmpfs size=$size" >"$dir.status"
    else
      echo "cannot mount a tmpfs on $dir: $reason" >"$dir.status"
    fi
    cat "$dir.status"
    ;;
  unmount)
    release
    rm -f "$dir.status"
    ;;
  *)
    echo "usage: small_volume.sh mount DIR SIZE | unmount DIR" >&2
    exit 2
    ;;
esac
