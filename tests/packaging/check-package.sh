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
  usr/share/man/man1/tivolux-recorder.1
  usr/libexec/tivolux-recorder-helper
  usr/lib/systemd/system/tivolux-recorder-helper.service
  usr/lib/systemd/system/tivolux-recorder-helper.socket
  usr/share/polkit-1/rules.d/50-tivolux-recorder-helper.rules
)
status=0
for f in "${expected[@]}"; do
  if [ ! -e "$work/root/$f" ]; then echo "missing after install: $f"; status=1; fi
done
grep -q '^ExecStart=/usr/bin/tivolux-recorder --headless$' "$work/root/usr/lib/systemd/user/tivolux-recorder.service" \
  || { echo "user unit does not start the installed program headless"; status=1; }
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
[ $status -eq 0 ] && echo "package check passed: $(basename "$deb")"
exit $status
