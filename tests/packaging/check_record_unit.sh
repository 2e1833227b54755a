#!/usr/bin/env bash
# The recorder's service unit as systemd reads it, with the built program in place of the
# installed one: systemd-analyze verify of an instance, and the example settings file read by
# the program. Exit 77 (skipped) where systemd-analyze is missing.
#   check_record_unit.sh UNIT_FILE EXAMPLE_SETTINGS PROGRAM
set -euo pipefail

unit=$1 example=$2 program=$3
if ! command -v systemd-analyze >/dev/null 2>&1; then
    echo "SKIPPED: systemd-analyze is missing (Debian package systemd)"
    exit 77
fi
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

grep -q '^ExecStart=/usr/bin/morvelip-osc-cli record --config /etc/morvelip-osc/record/%i.conf$' \
    "$unit" || { echo "FAIL: ExecStart"; exit 1; }
for line in 'User=morvelip-osc' 'AmbientCapabilities=CAP_NET_BIND_SERVICE' 'Restart=on-failure' \
    'StandardError=journal' 'ProtectSystem=strict' 'NoNewPrivileges=yes'; do
    grep -qx "$line" "$unit" || { echo "FAIL: the unit lacks $line"; exit 1; }
done
sed "s#/usr/bin/morvelip-osc-cli#$program#" "$unit" >"$tmp/morvelip-osc-record@site1.service"
systemd-analyze verify --man=no "$tmp/morvelip-osc-record@site1.service"
if systemd-analyze security --help 2>/dev/null | grep -q -- '--offline'; then
    systemd-analyze security --offline=yes --threshold=30 \
        "$tmp/morvelip-osc-record@site1.service" >"$tmp/security.txt"
fi

"$program" record --config "$example" --validate >"$tmp/validate.txt"
grep -q '^Settings are good: 2 devices into /var/lib/morvelip-osc-record/NAME$' \
    "$tmp/validate.txt" || { cat "$tmp/validate.txt"; echo "FAIL: the example settings"; exit 1; }
echo "record unit checks passed"
