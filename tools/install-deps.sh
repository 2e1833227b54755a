#!/usr/bin/env bash
# Installs the Debian packages that building, testing and the demo need, when they are missing.
# Non-interactive; uses sudo when not run as root; waits for the package lock.
set -euo pipefail

packages=(
    cmake ninja-build g++ make pkg-config ccache
    qt6-base-dev qt6-svg-dev qt6-qpa-plugins qt6-translations-l10n libgl-dev
    libgtest-dev libgmock-dev libbenchmark-dev
    clang libclang-rt-dev clang-format clang-tidy python3
    sigrok-cli tshark
    iproute2 fonts-dejavu-core
    xvfb xdotool imagemagick twm
    dpkg-dev help2man lintian desktop-file-utils appstream shared-mime-info libcap2-bin
)

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
