#!/usr/bin/env bash
# Runs the README's two commands as a new user would: in a fresh Debian 12 (a minbase bookworm
# with only git and sudo added, from this machine's configured mirror), as a normal user with
# sudo, on a clone of the committed HEAD. Prints both wall times; fails when either command does.
# Needs root. Not part of CI: it installs everything from scratch and builds from scratch.
# Usage: sudo tools/fresh-debian-check.sh [repository or worktree (default: this one)] [folder]
set -euo pipefail
repo=$(realpath "${1:-$(dirname "$0")/..}")
dir=${2:-/var/tmp/peldra-fresh}
user=peldra

[ "$(id -u)" -eq 0 ] || { echo "fresh-debian-check: run it as root" >&2; exit 1; }
install_debootstrap() {
    # Several checks started at once take turns here instead of failing on APT's lock.
    exec 9>/run/lock/peldra-fresh-debian-check.lock
    flock 9
    command -v debootstrap >/dev/null || {
        echo "fresh-debian-check: installing debootstrap"
        apt-get update -q
        DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends debootstrap
    }
    exec 9>&-
}
install_debootstrap

# The mirror this machine's APT uses for bookworm main (deb822 or one-line sources).
mirror=$(awk '
    /^[Uu][Rr][Ii][Ss]:/ { uri = $2 }
    /^[Ss]uites:/ { for (i = 2; i <= NF; i++) if ($i == "bookworm") ok = 1 }
    /^[ \t]*$/ { if (ok && uri) exit; uri = ""; ok = 0 }
    END { if (ok && uri) print uri }' /etc/apt/sources.list.d/*.sources 2>/dev/null || true)
[ -n "$mirror" ] || mirror=$(awk '$1 == "deb" && $0 ~ /[ \t]bookworm[ \t]/ {
    for (i = 2; i <= NF; i++) if ($i ~ /:\/\//) { print $i; exit } }' /etc/apt/sources.list 2>/dev/null || true)
[ -n "$mirror" ] || { echo "fresh-debian-check: no bookworm mirror in /etc/apt" >&2; exit 1; }

mounts=(proc sys dev dev/pts dev/shm)
cleanup() {
    # Whatever the run left inside (a wineserver, a release server) holds the mounts: end it.
    local link pid
    for link in /proc/[0-9]*/root; do
        [ "$(readlink "$link" 2>/dev/null)" = "$dir" ] || continue
        pid=${link#/proc/}
        kill -KILL "${pid%/root}" 2>/dev/null || true
    done
    sleep 1
    local i
    for ((i = ${#mounts[@]} - 1; i >= 0; i--)); do
        if mountpoint -q "$dir/${mounts[i]}"; then
            umount "$dir/${mounts[i]}" || umount -l "$dir/${mounts[i]}"
        fi
    done
}
trap cleanup EXIT

cleanup
if grep -q " $dir/" /proc/mounts; then
    echo "fresh-debian-check: something is still mounted under $dir" >&2
    exit 1
fi
rm -rf --one-file-system "$dir"
mkdir -p "$dir"
echo "fresh-debian-check: debootstrap bookworm (minbase) from $mirror into $dir"
debootstrap --variant=minbase --include=git,sudo bookworm "$dir" "$mirror" >"$dir.debootstrap.log" 2>&1 || {
    tail -n 30 "$dir.debootstrap.log" >&2
    exit 1
}

mount -t proc proc "$dir/proc"
mount -t sysfs sysfs "$dir/sys"
mount --bind /dev "$dir/dev"
mount --bind /dev/pts "$dir/dev/pts"
mount -t tmpfs -o mode=1777 shm "$dir/dev/shm"

host=peldra-fresh
echo "$host" >"$dir/etc/hostname"
cat >"$dir/etc/hosts" <<HOSTS
127.0.0.1	localhost
127.0.1.1	$host
::1	localhost ip6-localhost ip6-loopback
HOSTS
cp /etc/resolv.conf "$dir/etc/resolv.conf"
chroot "$dir" useradd --create-home --shell /bin/bash --groups sudo "$user"
echo "$user ALL=(ALL) NOPASSWD: ALL" >"$dir/etc/sudoers.d/$user"
chmod 0440 "$dir/etc/sudoers.d/$user"

# The committed HEAD only: what anyone who clones would get.
commit=$(git -C "$repo" rev-parse --short HEAD)
git -C "$repo" bundle create "$dir/tmp/peldra.bundle" HEAD 2>/dev/null
chmod 0644 "$dir/tmp/peldra.bundle"

as_user() { # <command line>: a login-like shell of the normal user, in the clone
    chroot "$dir" /usr/sbin/runuser -u "$user" -- env -i HOME="/home/$user" USER="$user" \
        LOGNAME="$user" SHELL=/bin/bash PATH=/usr/local/bin:/usr/bin:/bin LANG=C.UTF-8 TERM=dumb \
        bash -c "cd ~ && $1"
}
as_user "git -c advice.detachedHead=false clone -q /tmp/peldra.bundle peldra"
echo "fresh-debian-check: cloned $commit as $user"

timed() { # <name> <command line>: runs it in the clone, sets elapsed and returns its status
    local start=$EPOCHREALTIME status=0
    echo "fresh-debian-check: \$ $1"
    as_user "cd peldra && $1" || status=$?
    elapsed=$(awk -v a="$start" -v b="$EPOCHREALTIME" 'BEGIN { s = b - a; printf "%dm%02ds", s / 60, s % 60 }')
    echo "fresh-debian-check: $1 ended with exit code $status after $elapsed (load average: $(cut -d' ' -f1-3 /proc/loadavg))"
    return $status
}
demo_status=0 test_status=0
timed tools/demo.sh || demo_status=$?
demo_time=$elapsed
timed tools/test.sh || test_status=$?
test_time=$elapsed

echo "fresh-debian-check: tools/demo.sh exit $demo_status in $demo_time"
echo "fresh-debian-check: tools/test.sh exit $test_status in $test_time"
[ "$demo_status" -eq 0 ] && [ "$test_status" -eq 0 ]
