#!/bin/sh
# Installs the Debian 12 packages the build needs, if any are missing.
# Usage: scripts/deps.sh [extra-package...]
set -eu

PACKAGES="cmake g++ make pkg-config
  qtbase5-dev qtbase5-dev-tools qttools5-dev qttools5-dev-tools
  libqt5charts5-dev libqt5texttospeech5-dev libqt5sql5-sqlite
  libusb-1.0-0-dev qttranslations5-l10n $*"

missing=""
for p in $PACKAGES; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing="$missing $p"
  fi
done

if [ -n "$missing" ]; then
  echo "Installing:$missing"
  if [ "$(id -u)" -eq 0 ]; then SUDO=""; else SUDO="sudo"; fi
  $SUDO apt-get update
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y --no-install-recommends $missing
fi
