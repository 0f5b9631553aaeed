#!/usr/bin/env bash
# Installs the Debian packages QARDEL needs to build, run and test, when any
# is missing. Quick when everything is there already.
set -euo pipefail

PACKAGES=(
  g++ cmake make pkg-config
  qt6-base-dev qt6-base-dev-tools libgl-dev qt6-translations-l10n
  libsqlite3-dev sqlite3
  libbenchmark-dev
  # the radio: Hamlib's library, and rigctld/rigctl for the tests
  libhamlib-dev libhamlib-utils
  # the statistics window's charts; Qt Charts' CMake package needs the OpenGL
  # module's, which Debian's qt6-charts-dev does not pull in by itself
  qt6-charts-dev libqt6opengl6-dev
  xvfb xauth xdotool x11-utils imagemagick python3 python3-xlib
  fonts-wine fonts-dejavu-core
  clang libclang-rt-14-dev clang-format git
  locales
  # entities, zones and active calls for the call-sign card (cty.csv, MASTER.SCP)
  hamradio-files
  # what a screen reader reads, checked over the accessibility bus
  at-spi2-core python3-pyatspi dbus-daemon
  # the Debian package: its icons, dependencies and checks
  librsvg2-bin dpkg-dev desktop-file-utils appstream lintian
)

# The tests run under a Russian and an English locale.
need_locales() {
  for l in ru_RU en_US; do
    locale -a 2>/dev/null | grep -qi "^${l}\.utf-\?8$" || return 0
  done
  return 1
}

gen_locales() {
  need_locales || return 0
  for l in ru_RU en_US; do
    $SUDO sed -i "s/^# *\(${l}\.UTF-8 UTF-8\)/\1/" /etc/locale.gen
    grep -q "^${l}\.UTF-8 UTF-8" /etc/locale.gen || echo "${l}.UTF-8 UTF-8" | $SUDO tee -a /etc/locale.gen >/dev/null
  done
  $SUDO locale-gen >/dev/null
}

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi

missing=()
for p in "${PACKAGES[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -eq 0 ]; then
  gen_locales
  exit 0
fi

echo "Installing: ${missing[*]}"
$SUDO env DEBIAN_FRONTEND=noninteractive apt-get update -qq
$SUDO env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"
gen_locales
