#!/usr/bin/env bash
# The ALSA services' tests against a real kernel: boots Debian's current
# kernel under qemu (no KVM needed, no network device) with a small busybox
# initramfs holding the sound modules, the test programs and their libraries,
# runs them there (the ALSA tests and the MIDI services conformance suite's
# ALSA cases), and fails unless the guest reports that all passed.
#
#   BUILD_DIR=build bash scripts/alsa-guest-test.sh
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD_DIR="${BUILD_DIR:-build}"
WORK="${GUEST_WORK_DIR:-$BUILD_DIR/alsa-guest}"
TIMEOUT="${GUEST_TIMEOUT:-420}"
export DEBIAN_FRONTEND=noninteractive

need=()
command -v qemu-system-x86_64 >/dev/null || need+=(qemu-system-x86)
[ -x /bin/busybox ] && /bin/busybox --list | grep -qx cpio || need+=(busybox-static)
command -v depmod >/dev/null || need+=(kmod)
if [ ${#need[@]} -gt 0 ]; then
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${need[@]}" >/dev/null
fi

cmake --build "$BUILD_DIR" -j2 --target test_alsa_guest test_conformance wexmidi

rm -rf "$WORK/kernel" "$WORK/root" && mkdir -p "$WORK/kernel" "$WORK/root"
WORK="$(cd "$WORK" && pwd)"
ROOT="$WORK/root"

# The current kernel package: its name carries the ABI number.
package="$(apt-cache depends linux-image-amd64 | awk '/Depends: linux-image-[0-9]/ {print $2; exit}')"
[ -n "$package" ] || { echo "no kernel package behind linux-image-amd64"; exit 1; }
echo "== kernel package $package"
# Fetched once per package; apt's download user may not write here.
ls "$WORK"/"$package"_*.deb >/dev/null 2>&1 ||
  (cd "$WORK" && apt-get download -qq "$package" 2>&1 | grep -v unsandboxed || true)
dpkg-deb -x "$WORK"/"$package"_*.deb "$WORK/kernel"
version="${package#linux-image-}"
vmlinuz="$WORK/kernel/boot/vmlinuz-$version"
modules="$WORK/kernel/lib/modules/$version"
[ -f "$vmlinuz" ] || { echo "no $vmlinuz in $package"; exit 1; }

# The sound modules with what they depend on, uncompressed, and their
# modules.dep made for the guest.
depmod -b "$WORK/kernel" "$version"
wanted=(snd-seq-dummy snd-virmidi snd-seq-virmidi snd-seq-midi-event)
declare -A take=()
add_module() {
  local path
  path="$(grep -E "(^|/)$1\\.ko(\\.[a-z]+)?:" "$modules/modules.dep" | cut -d: -f1 | head -1)"
  [ -n "$path" ] || { echo "no module $1 in $package"; exit 1; }
  take["$path"]=1
  for dep in $(grep -E "^$path:" "$modules/modules.dep" | cut -d: -f2); do take["$dep"]=1; done
}
for module in "${wanted[@]}"; do add_module "$module"; done
guest_modules="$ROOT/lib/modules/$version"
for path in "${!take[@]}"; do
  mkdir -p "$guest_modules/$(dirname "$path")"
  case "$path" in
    *.xz) xz -dc "$modules/$path" >"$guest_modules/${path%.xz}" ;;
    *.zst) zstd -qdc "$modules/$path" >"$guest_modules/${path%.zst}" ;;
    *) cp "$modules/$path" "$guest_modules/$path" ;;
  esac
done
cp "$modules"/modules.order "$modules"/modules.builtin* "$guest_modules/" 2>/dev/null || true
depmod -b "$ROOT" "$version"

# Busybox, the test programs, the libraries ldd names, ALSA's configuration.
mkdir -p "$ROOT"/{bin,sbin,proc,sys,dev,tmp,tests} "$ROOT/usr/share"
cp /bin/busybox "$ROOT/bin/busybox"
for applet in $(/bin/busybox --list); do
  [ "$applet" = busybox ] || ln -sf busybox "$ROOT/bin/$applet"
done
for tool in modprobe rmmod insmod poweroff; do ln -sf ../bin/busybox "$ROOT/sbin/$tool"; done
programs=(tests/test_alsa_guest tests/test_conformance wexmidi)
for program in "${programs[@]}"; do cp "$BUILD_DIR/$program" "$ROOT/tests/"; done
for library in $(cd "$ROOT/tests" && ldd "${programs[@]##*/}" | grep -o '/[^ ]*' | grep -v ':$' | sort -u); do
  mkdir -p "$ROOT$(dirname "$library")"
  cp -L "$library" "$ROOT$library"
done
cp -r /usr/share/alsa "$ROOT/usr/share/alsa"

cat >"$ROOT/init" <<'INIT'
#!/bin/sh
mount -t proc proc /proc
mount -t sysfs sys /sys
mount -t devtmpfs dev /dev
mount -t tmpfs tmp /tmp
modprobe snd-seq-dummy && modprobe snd-seq-virmidi
for _ in 1 2 3 4 5 6 7 8 9 10; do [ -e /dev/snd/seq ] && break; sleep 0.2; done
cd /tests
export WEXMIDI=/tests/wexmidi
if ./test_alsa_guest --gtest_brief=1 &&
  ./test_conformance --gtest_brief=1 --gtest_filter='*/Alsa'; then
  echo "wexmidi ALSA guest tests: passed"
else
  echo "wexmidi ALSA guest tests: failed"
fi
poweroff -f
INIT
chmod +x "$ROOT/init"
(cd "$ROOT" && find . | /bin/busybox cpio -o -H newc 2>/dev/null | gzip -1) >"$WORK/initrd.gz"

echo "== booting the guest (at most ${TIMEOUT}s)"
timeout "$TIMEOUT" qemu-system-x86_64 -accel tcg -m 1024 -smp 1 -nographic -nic none -no-reboot \
  -kernel "$vmlinuz" -initrd "$WORK/initrd.gz" \
  -append "console=ttyS0 rdinit=/init panic=-1 quiet" </dev/null | tee "$WORK/console.log" || true

if grep -q "wexmidi ALSA guest tests: passed" "$WORK/console.log"; then
  echo "ALSA guest tests passed"
elif grep -q "wexmidi ALSA guest tests: failed" "$WORK/console.log"; then
  echo "ALSA guest tests failed"
  exit 1
else
  echo "ALSA guest tests: no result from the guest (timeout or crash)"
  exit 1
fi
