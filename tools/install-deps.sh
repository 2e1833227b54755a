#!/usr/bin/env bash
# Installs the Debian packages that a make target needs, when they are missing:
#   tools/install-deps.sh          building, every test and the demo (make test, make demo)
#   tools/install-deps.sh check    and the formatting and clang-tidy checks (make check)
#   tools/install-deps.sh fuzz     and clang's libFuzzer (make fuzz)
#   tools/install-deps.sh bench    and Google Benchmark (make bench)
#   tools/install-deps.sh look     and a virtual display to drive and photograph the window
# The first set is kept to what make test needs, so that a new machine's first run is short.
# Non-interactive; uses sudo when not run as root; waits for the package lock.
set -euo pipefail

packages=(
    cmake ninja-build g++ make pkg-config ccache python3
    qt6-base-dev qt6-svg-dev qt6-qpa-plugins qt6-translations-l10n libgl-dev
    libgtest-dev libgmock-dev
    sigrok-cli tshark
    iproute2 fonts-dejavu-core
    dpkg-dev help2man lintian desktop-file-utils appstream shared-mime-info libcap2-bin
)
for set in "$@"; do
    case $set in
        check) packages+=(clang-format clang-tidy) ;;
        fuzz) packages+=(clang libclang-rt-dev) ;;
        bench) packages+=(libbenchmark-dev) ;;
        look) packages+=(xvfb xdotool imagemagick twm) ;;
        *) echo "install-deps.sh: unknown set '$set' (check, fuzz, bench, look)" >&2; exit 2 ;;
    esac
done

missing=()
for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'ok installed'; then
        missing+=("$p")
    fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
if [ "$(id -u)" -ne 0 ]; then
    sudo="sudo"
fi
echo "Installing: ${missing[*]}"
# tshark's package asks whether ordinary users may capture; the answer is no, given beforehand
# so that the installation never stops to ask.
echo "wireshark-common wireshark-common/install-setuid boolean false" |
    $sudo debconf-set-selections
$sudo apt-get -o DPkg::Lock::Timeout=600 update -q
$sudo env DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=600 install -y -q \
    --no-install-recommends "${missing[@]}"
