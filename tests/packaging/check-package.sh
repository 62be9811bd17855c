#!/usr/bin/env bash
# Builds the Debian package and installs, removes and purges it through dpkg
# in a throwaway root with its own database, checking what a user's system
# needs. The maintainer scripts run outside a chroot with DPKG_ROOT set, so
# they leave the running systemd alone.
set -euo pipefail
build_dir="$1"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
status=0
problem() { echo "$*"; status=1; }

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
(cd "$work" && cpack -G DEB --config "$build_dir/CPackConfig.cmake" -B "$work/pkg" >/dev/null)
deb="$(ls "$work"/pkg/tivolux-recorder_*.deb)"
grep -q "libqt6core6" <<<"$(dpkg-deb --field "$deb" Depends)" || problem "package does not depend on Qt"
grep -qw "polkitd" <<<"$(dpkg-deb --field "$deb" Recommends)" || problem "package does not recommend polkitd"
control="$(dpkg-deb --info "$deb")"
for script in postinst prerm postrm; do
  grep -qE "^ +[0-9]+ bytes, +[0-9]+ lines +\* +$script " <<<"$control" || problem "package has no executable $script"
done
# Debian's own checks (lintian, from scripts/install-deps): no errors; warnings are printed.
lintian --fail-on error --tag-display-limit 0 "$deb" || problem "lintian reports errors or is missing"

root="$work/dpkg-root"
recordings="$root/home/user/Videos/Tivolux Recordings/recordings.json"
settings="$root/home/user/.config/Tivolux/TivoluxRecorder.conf"
mkdir -p "$root/var/lib/dpkg/info" "$root/var/lib/dpkg/updates" "$(dirname "$recordings")" "$(dirname "$settings")"
touch "$root/var/lib/dpkg/status"
echo '[]' >"$recordings"
echo '[General]' >"$settings"
dpkg_in_root() {
  dpkg --root="$root" --admindir="$root/var/lib/dpkg" --log=/dev/null --force-not-root \
       --force-script-chrootless --force-depends --force-unsafe-io "$@" >"$work/dpkg.log" 2>&1 \
    || { cat "$work/dpkg.log"; problem "dpkg $* failed"; }
}
dpkg_in_root --install "$deb"
for f in "${expected[@]}"; do
  [ -e "$root/$f" ] || problem "missing after dpkg --install: $f"
done
user_unit="$root/usr/lib/systemd/user/tivolux-recorder.service"
grep -q '^ExecStart=/usr/bin/tivolux-recorder --headless$' "$user_unit" \
  || problem "user unit does not start the installed program headless"
# A user's service manager has none of the system's targets.
! grep -nE '(network-online|multi-user|sysinit|sockets)\.target' "$user_unit" || problem "user unit names a system-only target"
for f in usr/share/man/man1/tivolux-recorder.1.gz usr/share/man/man8/tivolux-recorder-helper.8.gz \
         usr/share/doc/tivolux-recorder/changelog.gz; do
  gzip -t "$root/$f" 2>/dev/null || problem "not gzip-compressed: $f"
done
"$root/usr/bin/tivolux-recorder" --version | grep -q "[0-9]\+\.[0-9]\+\.[0-9]\+" || problem "--version prints no version"
# Only the test build lets the environment choose the API port.
! grep -q TIVOLUX_RECORDER_TEST_PORT "$root/usr/bin/tivolux-recorder" \
  || problem "the packaged program honours the tests' port variable"

dpkg_in_root --remove tivolux-recorder
for f in "${expected[@]}"; do
  [ ! -e "$root/$f" ] || problem "left after dpkg --remove: $f"
done
dpkg_in_root --purge tivolux-recorder
[ -s "$recordings" ] && [ -s "$settings" ] || problem "purging touched a user's recordings or settings"
[ $status -eq 0 ] && echo "package check passed: $(basename "$deb")"
exit $status
