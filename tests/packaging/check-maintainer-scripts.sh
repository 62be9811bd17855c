#!/usr/bin/env bash
# Runs the package's maintainer scripts against a stand-in systemctl and
# deb-systemd-invoke that record their calls, with "systemd is running"
# pointed at a folder of the test's own, and checks what each script asks
# of systemd for each dpkg action.
set -euo pipefail
scripts_dir="$1"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

mkdir -p "$work/bin"
for tool in systemctl deb-systemd-invoke; do
  printf '#!/bin/sh\necho "%s $*" >>"%s/calls"\ncase "$*" in *is-enabled*) [ -e "%s/enabled" ] ;; esac\n' \
    "$tool" "$work" "$work" >"$work/bin/$tool"
  chmod +x "$work/bin/$tool"
done

status=0
# run SCRIPT ACTION SYSTEMD(yes|no) ENABLED(yes|no) EXPECTED-CALLS...
run() {
  local script="$1" action="$2" systemd="$3" enabled="$4" expected="" calls=""
  shift 4
  [ $# -gt 0 ] && expected="$(printf '%s\n' "$@")"
  rm -rf "$work/calls" "$work/enabled" "$work/run-systemd"
  [ "$systemd" = yes ] && mkdir -p "$work/run-systemd"
  [ "$enabled" = yes ] && touch "$work/enabled"
  sed "s|/run/systemd/system|$work/run-systemd|g" "$scripts_dir/$script" >"$work/$script"
  PATH="$work/bin:$PATH" sh -e "$work/$script" "$action" || calls="(failed)"
  [ -e "$work/calls" ] && calls+="$(cat "$work/calls")"
  if [ "$calls" != "$expected" ]; then
    printf '%s %s (systemd %s, enabled %s) called:\n%s\nexpected:\n%s\n' \
      "$script" "$action" "$systemd" "$enabled" "${calls:-(nothing)}" "${expected:-(nothing)}"
    status=1
  fi
}

run postinst configure yes yes \
  "systemctl --system daemon-reload" \
  "systemctl --quiet is-enabled tivolux-recorder-helper.socket" \
  "deb-systemd-invoke stop tivolux-recorder-helper.service" \
  "deb-systemd-invoke restart tivolux-recorder-helper.socket"
run postinst configure yes no \
  "systemctl --system daemon-reload" \
  "systemctl --quiet is-enabled tivolux-recorder-helper.socket"
run postinst configure no yes
run postinst abort-upgrade yes yes

run prerm remove yes yes \
  "deb-systemd-invoke stop tivolux-recorder-helper.socket tivolux-recorder-helper.service" \
  "systemctl stop tivolux-recorder-wake-*.timer" \
  "systemctl --system disable tivolux-recorder-helper.socket"
run prerm remove no yes "systemctl --system disable tivolux-recorder-helper.socket"
run prerm upgrade yes yes

run postrm remove yes no "systemctl --system daemon-reload"
run postrm purge yes no "systemctl --system daemon-reload"
run postrm upgrade yes no
run postrm purge no no

[ $status -eq 0 ] && echo "maintainer scripts check passed"
exit $status
