#!/usr/bin/env bash
# The Debian package of a built tree, checked as an administrator and a user would meet it:
# packaged (nothing rebuilt), checked by lintian, desktop-file-validate and appstreamcli,
# unpacked into a temporary root and its programs run from there with nothing of the build
# tree in reach. Exit 77 (skipped) when a Debian tool it needs is missing.
#   check_package.sh CPACK BUILD_DIR SOURCE_DIR VERSION APP_ID
set -euo pipefail

cpack=$1 build=$2 source=$3 version=$4 appid=$5

for tool in dpkg-deb lintian desktop-file-validate appstreamcli readelf; do
    if ! command -v "$tool" >/dev/null 2>&1; then
        echo "SKIPPED: $tool is missing (tools/install-deps.sh installs it)"
        exit 77
    fi
done

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
failures=0
fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}

# --- The package ---------------------------------------------------------------------------
if ! (cd "$build" && "$cpack" -G DEB -B "$tmp/cpack") >"$tmp/cpack.log" 2>&1; then
    cat "$tmp/cpack.log"
    echo "FAIL: cpack"
    exit 1
fi
debs=("$tmp"/cpack/morvelip-osc_"$version"_*.deb)
[ ${#debs[@]} -eq 1 ] && [ -f "${debs[0]}" ] || {
    ls "$tmp/cpack"
    echo "FAIL: no single morvelip-osc_${version}_*.deb"
    exit 1
}
deb=${debs[0]}
echo "package: $(basename "$deb")"

[ "$(dpkg-deb -f "$deb" Version)" = "$version" ] || fail "control Version is not $version"
dpkg-deb -f "$deb" Depends | grep -q 'adduser' ||
    fail "Depends lacks adduser, which the postinst runs: $(dpkg-deb -f "$deb" Depends)"
dpkg-deb -f "$deb" Depends | grep -q 'libqt6widgets6' ||
    fail "Depends lacks the Qt libraries found by dpkg-shlibdeps: $(dpkg-deb -f "$deb" Depends)"

# lintian as root says so on stderr; only its tags count.
if ! lintian --fail-on error --tag-display-limit 0 "$deb" >"$tmp/lintian.log" 2>&1; then
    fail "lintian reports errors"
fi
cat "$tmp/lintian.log"

# --- The files -----------------------------------------------------------------------------
root=$tmp/root
dpkg-deb -x "$deb" "$root"
dpkg-deb -e "$deb" "$tmp/control"
for script in postinst postrm; do
    [ -x "$tmp/control/$script" ] || fail "$script is missing or not executable"
    sh -n "$tmp/control/$script" || fail "$script does not parse"
done
usr=$root/usr
for f in bin/morvelip-osc bin/morvelip-osc-cli lib/morvelip-osc/libtmconn.so \
    lib/morvelip-osc/libcfshare.so share/morvelip-osc/servers/localhost/demo/config \
    share/doc/morvelip-osc/README.md share/doc/morvelip-osc/copyright \
    share/doc/morvelip-osc/changelog.gz share/man/man1/morvelip-osc.1.gz \
    share/man/man1/morvelip-osc-cli.1.gz share/mime/packages/morvelip-osc.xml \
    share/icons/hicolor/scalable/apps/morvelip-osc.svg lib/sysctl.d/50-morvelip-osc.conf \
    lib/systemd/system/morvelip-osc-record@.service share/doc/morvelip-osc/examples/record.conf; do
    [ -f "$usr/$f" ] || fail "/usr/$f is not in the package"
done
for program in morvelip-osc morvelip-osc-cli; do
    readelf -d "$usr/bin/$program" | grep -Eq 'R(UN)?PATH.*\[\$ORIGIN/\.\./lib/morvelip-osc\]' ||
        fail "$program has no RPATH \$ORIGIN/../lib/morvelip-osc"
    zcat "$usr/share/man/man1/$program.1.gz" | grep -q '^\.SH OPTIONS' ||
        fail "the manual page of $program has no options"
done
"$source/tests/tools/check_runpath.sh" "$usr/bin" "$usr/lib/morvelip-osc" ||
    fail "a packaged program or library searches an empty or relative library path"
zcat "$usr/share/man/man1/morvelip-osc-cli.1.gz" | grep -q '^\.SS "traces"' ||
    fail "the manual page of morvelip-osc-cli lacks its subcommands"
grep -q '^net.core.rmem_max = 8388608$' "$usr/lib/sysctl.d/50-morvelip-osc.conf" ||
    fail "the sysctl drop-in does not raise net.core.rmem_max to 8 MiB"
grep -q 'adduser --system --group' "$tmp/control/postinst" ||
    fail "the postinst does not make the recorder's system user"
"$source/tests/packaging/check_record_unit.sh" "$usr/lib/systemd/system/morvelip-osc-record@.service" \
    "$usr/share/doc/morvelip-osc/examples/record.conf" "$usr/bin/morvelip-osc-cli" \
    >"$tmp/record-unit.log" 2>&1 || [ $? -eq 77 ] ||
    fail "the recorder's unit: $(cat "$tmp/record-unit.log")"

desktop=$usr/share/applications/$appid.desktop
metainfo=$usr/share/metainfo/$appid.metainfo.xml
desktop-file-validate "$desktop" || fail "desktop-file-validate $appid.desktop"
appstreamcli validate --no-net "$metainfo" || fail "appstreamcli validate $appid.metainfo.xml"
grep -q '^MimeType=application/x-morvelip-osc;$' "$desktop" || fail "desktop entry MimeType"
grep -q '^Exec=morvelip-osc %f$' "$desktop" || fail "desktop entry Exec takes no file"
icon=$(sed -n "s/^Icon=//p" "$desktop" 2>/dev/null || true)
[ -f "$usr/share/icons/hicolor/scalable/apps/$icon.svg" ] || fail "icon $icon is not installed"
newest=$(grep -o '<release version="[^"]*"' "$metainfo" | head -1 | cut -d'"' -f2)
[ "$newest" = "$version" ] || fail "metainfo's newest release is '$newest', not $version"
if command -v update-mime-database >/dev/null 2>&1; then
    mkdir -p "$tmp/mime/packages"
    cp "$usr/share/mime/packages/morvelip-osc.xml" "$tmp/mime/packages/"
    update-mime-database "$tmp/mime" >/dev/null 2>&1
    grep -q ':application/x-morvelip-osc:\*\.osc$' "$tmp/mime/globs2" ||
        fail ".osc does not map to application/x-morvelip-osc"
fi

# --- The programs, run from the unpacked package -------------------------------------------
# No trace of the build: its own library folder and the source's server definitions are the
# programs' last resort, so a private server folder in the package shows which were used.
export HOME=$tmp/home XDG_CONFIG_HOME=$tmp/config QT_QPA_PLATFORM=offscreen LC_ALL=C.UTF-8
unset TMCONN_SERVERS_DIR LD_LIBRARY_PATH
mkdir -p "$HOME"
for program in morvelip-osc morvelip-osc-cli; do
    [ "$("$usr/bin/$program" --version)" = "$program $version" ] ||
        fail "$program --version is not '$program $version'"
    "$usr/bin/$program" --help | grep -q '^Usage: ' || fail "$program --help"
done

cp -r "$usr/share/morvelip-osc/servers/localhost" "$usr/share/morvelip-osc/servers/pkgcheck"
LD_DEBUG=files "$usr/bin/morvelip-osc-cli" devices --nt-server pkgcheck --tm-server demo \
    >"$tmp/devices.txt" 2>"$tmp/devices.log" || fail "devices of the packaged demo server"
[ -s "$tmp/devices.txt" ] || fail "the packaged demo server lists no device"
for lib in libtmconn.so libcfshare.so; do
    grep -q "file=$usr/lib/morvelip-osc/$lib " "$tmp/devices.log" ||
        fail "$lib was not loaded from /usr/lib/morvelip-osc: $(grep "file=.*$lib" "$tmp/devices.log" | head -1)"
done

# The same captures replayed by the packaged command-line tool, by the built one, and by the
# packaged window: the same points.
for capture in "$source/tests/data/osc/worked_example.osc" \
    "$source/tests/data/decode/bits_101111101100.osc"; do
    name=$(basename "$capture")
    "$usr/bin/morvelip-osc-cli" traces "$capture" >"$tmp/traces.txt" || fail "CLI traces $name"
    "$build/bin/morvelip-osc-cli" traces "$capture" >"$tmp/traces-built.txt"
    cmp -s "$tmp/traces.txt" "$tmp/traces-built.txt" || fail "packaged and built CLI differ: $name"
    awk '{ n[$1]++; last[$1] = $2 } END { for (c = 0; c < 4; c++) print c, n[c] + 0, last[c] + 0 }' \
        "$tmp/traces.txt" >"$tmp/summary-cli.txt"
    if timeout 120 "$usr/bin/morvelip-osc" --demo --quit-after-load "$capture" \
        >"$tmp/summary-window.txt" 2>"$tmp/window.log"; then
        diff "$tmp/summary-cli.txt" "$tmp/summary-window.txt" ||
            fail "the window's replay of $name differs from the CLI's (points, last X per channel)"
    else
        cat "$tmp/window.log"
        fail "the window did not replay $name given on its command line"
    fi
done
# A file that cannot be read is reported, and the window still quits.
if timeout 120 "$usr/bin/morvelip-osc" --demo --quit-after-load "$tmp/missing.osc" \
    >/dev/null 2>"$tmp/missing.log"; then
    fail "a missing file was not reported"
fi
grep -q "Cannot open file $tmp/missing.osc" "$tmp/missing.log" ||
    fail "missing file: $(cat "$tmp/missing.log")"

[ "$failures" -eq 0 ] || {
    echo "$failures check(s) failed"
    exit 1
}
echo "package checks passed"
