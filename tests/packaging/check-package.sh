#!/usr/bin/env bash
# Installs the build into a throwaway root and builds the Debian package,
# then checks that both hold what a user's system needs.
set -euo pipefail
build_dir="$1"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

DESTDIR="$work/root" cmake --install "$build_dir" >/dev/null
expected=(
  usr/bin/tivolux-recorder
  usr/share/applications/tivolux-recorder.desktop
  usr/share/tivolux-recorder/tivolux-recorder.desktop
  usr/share/icons/hicolor/scalable/apps/tivolux-recorder.svg
  usr/lib/systemd/user/tivolux-recorder.service
  usr/share/man/man1/tivolux-recorder.1.gz
  usr/share/man/man8/tivolux-recorder-helper.8.gz
  usr/share/doc/tivolux-recorder/copyright
  usr/share/doc/tivolux-recorder/changelog.gz
  usr/libexec/tivolux-recorder-helper
  usr/lib/systemd/system/tivolux-recorder-helper.service
  usr/lib/systemd/system/tivolux-recorder-helper.socket
  usr/share/polkit-1/rules.d/50-tivolux-recorder-helper.rules
)
status=0
for f in "${expected[@]}"; do
  if [ ! -e "$work/root/$f" ]; then echo "missing after install: $f"; status=1; fi
done
user_unit="$work/root/usr/lib/systemd/user/tivolux-recorder.service"
grep -q '^ExecStart=/usr/bin/tivolux-recorder --headless$' "$user_unit" \
  || { echo "user unit does not start the installed program headless"; status=1; }
# A user's service manager has none of the system's targets.
if grep -nE '(network-online|multi-user|sysinit|sockets)\.target' "$user_unit"; then
  echo "user unit names a system-only target"; status=1
fi
for f in usr/share/man/man1/tivolux-recorder.1.gz usr/share/man/man8/tivolux-recorder-helper.8.gz \
         usr/share/doc/tivolux-recorder/changelog.gz; do
  gzip -t "$work/root/$f" 2>/dev/null || { echo "not gzip-compressed: $f"; status=1; }
done
"$work/root/usr/bin/tivolux-recorder" --version | grep -q "[0-9]\+\.[0-9]\+\.[0-9]\+" \
  || { echo "--version prints no version"; status=1; }
if "$work/root/usr/bin/tivolux-recorder" --no-such-option >/dev/null 2>&1; then
  echo "an unknown option was accepted"; status=1
fi

(cd "$work" && cpack -G DEB --config "$build_dir/CPackConfig.cmake" -B "$work/pkg" >/dev/null)
deb="$(ls "$work"/pkg/tivolux-recorder_*.deb)"
contents="$(dpkg-deb --contents "$deb")"
for f in "${expected[@]}"; do
  grep -q " \./$f\$" <<<"$contents" || { echo "missing in package: $f"; status=1; }
done
depends="$(dpkg-deb --field "$deb" Depends)"
grep -q "libqt6core6" <<<"$depends" || { echo "package does not depend on Qt: $depends"; status=1; }
grep -qw "polkitd" <<<"$(dpkg-deb --field "$deb" Recommends)" || { echo "package does not recommend polkitd"; status=1; }
control="$(dpkg-deb --info "$deb")"
for script in postinst prerm postrm; do
  grep -qE "^ +[0-9]+ bytes, +[0-9]+ lines +\* +$script " <<<"$control" \
    || { echo "package has no executable $script"; status=1; }
done

# Debian's own checks: no errors; warnings are printed for the reader.
if command -v lintian >/dev/null; then
  if ! lintian --fail-on error --tag-display-limit 0 "$deb"; then
    echo "lintian reports errors"; status=1
  fi
else
  echo "lintian is not installed (scripts/install-deps installs it)"; status=1
fi

# The package through dpkg itself, into a throwaway root with its own
# database: install, remove, purge. The maintainer scripts run outside a
# chroot with DPKG_ROOT set, so they leave the running systemd alone.
root="$work/dpkg-root"
mkdir -p "$root/var/lib/dpkg/info" "$root/var/lib/dpkg/updates" "$root/home/user/Videos/Tivolux Recordings" \
         "$root/home/user/.config/Tivolux"
touch "$root/var/lib/dpkg/status"
echo '[]' >"$root/home/user/Videos/Tivolux Recordings/recordings.json"
echo '[General]' >"$root/home/user/.config/Tivolux/TivoluxRecorder.conf"
dpkg_in_root() {
  dpkg --root="$root" --admindir="$root/var/lib/dpkg" --log=/dev/null --force-not-root \
       --force-script-chrootless --force-depends --force-unsafe-io "$@" >"$work/dpkg.log" 2>&1 \
    || { echo "dpkg $* failed:"; cat "$work/dpkg.log"; status=1; }
}
dpkg_in_root --install "$deb"
for f in "${expected[@]}"; do
  [ -e "$root/$f" ] || { echo "missing after dpkg --install: $f"; status=1; }
done
# Only the test build lets the environment choose the API port.
if grep -q TIVOLUX_RECORDER_TEST_PORT "$root/usr/bin/tivolux-recorder"; then
  echo "the packaged program honours the tests' port variable"; status=1
fi
dpkg_in_root --remove tivolux-recorder
for f in "${expected[@]}"; do
  [ ! -e "$root/$f" ] || { echo "left after dpkg --remove: $f"; status=1; }
done
dpkg_in_root --purge tivolux-recorder
[ -s "$root/home/user/Videos/Tivolux Recordings/recordings.json" ] && [ -s "$root/home/user/.config/Tivolux/TivoluxRecorder.conf" ] \
  || { echo "purging touched a user's recordings or settings"; status=1; }
[ $status -eq 0 ] && echo "package check passed: $(basename "$deb")"
exit $status
