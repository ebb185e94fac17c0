#!/usr/bin/env bash
# Tries the README's two commands as a new user would: builds a minimal
# Debian 12 root (debootstrap's minbase variant, nothing else installed),
# clones this repository into it and runs ./scripts/run.sh (headless) and
# ./scripts/test.sh there, timing each. Not run by CI: on 2 cores it takes
# about 45 minutes. Needs root (debootstrap, chroot and mounts).
#
#   scripts/check-fresh.sh [FOLDER]    the root goes to FOLDER (default: a new
#                                      folder under /var/tmp), removed at the end
#                                      unless KEEP_ROOT=1
set -euo pipefail
cd "$(dirname "$0")/.."
repo=$PWD
[ "$(id -u)" -eq 0 ] || { echo "check-fresh: run as root (debootstrap and chroot need it)" >&2; exit 2; }

command -v debootstrap >/dev/null || {
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends debootstrap >/dev/null
}
command -v git >/dev/null || scripts/install-deps.sh

root=${1:-$(mktemp -d /var/tmp/configurator-fresh.XXXXXX)}
mirror=${DEBIAN_MIRROR:-http://deb.debian.org/debian}
mounted=()
cleanup() {
  for ((i = ${#mounted[@]} - 1; i >= 0; i--)); do umount -l "${mounted[$i]}" 2>/dev/null || true; done
  [ "${KEEP_ROOT:-0}" = 1 ] || rm -rf --one-file-system "$root"
}
trap cleanup EXIT

seconds() { date +%s; }
start=$(seconds)
echo "== debootstrap --variant=minbase bookworm $root"
debootstrap --variant=minbase bookworm "$root" "$mirror" >"$root.debootstrap.log" 2>&1 ||
  { tail -n 20 "$root.debootstrap.log" >&2; exit 1; }
rm -f "$root.debootstrap.log"
# The same package sources and apt settings as this machine; name resolution for apt.
cp -a /etc/apt/sources.list.d/. "$root/etc/apt/sources.list.d/" 2>/dev/null || true
[ -f /etc/apt/sources.list ] && cp /etc/apt/sources.list "$root/etc/apt/"
cp -a /etc/apt/apt.conf.d/. "$root/etc/apt/apt.conf.d/" 2>/dev/null || true
cp /etc/resolv.conf "$root/etc/resolv.conf"
echo "debootstrap: $(($(seconds) - start)) s"

# The clone is made here (the fresh root has no git yet); what it holds is
# exactly what is committed.
git clone -q "$repo" "$root/root/configurator"

for fs in proc sys dev dev/pts; do
  mkdir -p "$root/$fs"
  mount --bind "/$fs" "$root/$fs"
  mounted+=("$root/$fs")
done

in_root() { chroot "$root" /usr/bin/env -i HOME=/root PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
  LANG=C.UTF-8 bash -c "cd /root/configurator && $1"; }

status=0
step=$(seconds)
echo "== ./scripts/run.sh (no display)"
if in_root ./scripts/run.sh >"$root.run.log" 2>&1; then
  run_result="passed"
else
  run_result="FAILED"; status=1
  tail -n 30 "$root.run.log" >&2
fi
grep -q 'Номер объекта' "$root.run.log" || { run_result="FAILED (no parameter tree printed)"; status=1; }
run_time=$(($(seconds) - step))
echo "run.sh: $run_result in $run_time s"

step=$(seconds)
echo "== ./scripts/test.sh"
if in_root ./scripts/test.sh >"$root.test.log" 2>&1; then
  test_result=$(grep '^test.sh:' "$root.test.log" | tail -n 1)
else
  test_result="FAILED"; status=1
  tail -n 40 "$root.test.log" >&2
fi
test_time=$(($(seconds) - step))
echo "test.sh: $test_result in $test_time s ($((test_time / 60)) min)"
echo "check-fresh: logs $root.run.log and $root.test.log; whole check $(($(seconds) - start)) s"
exit $status
