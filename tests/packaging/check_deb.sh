#!/bin/sh
# Builds the Debian package from a finished build folder, unpacks it into a
# scratch root and checks that an operator gets what the package promises:
# the executable, the desktop entries (valid), the icon and the udev rule
# that hands the unit to the user at the seat.
# Usage: check_deb.sh <build-dir>
set -eu
BUILD=$1
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT

cpack --config "$BUILD/CPackConfig.cmake" -G DEB -B "$WORK/out" >"$WORK/cpack.log" 2>&1 || {
  cat "$WORK/cpack.log"; echo "FAIL: cpack"; exit 1; }
DEB=$(ls "$WORK"/out/*.deb)
echo "package: $(basename "$DEB")"
dpkg-deb -f "$DEB" Package Version Architecture Depends
dpkg -x "$DEB" "$WORK/root"

fail=0
need() {
  if [ -e "$WORK/root$1" ]; then echo "ok: $1"; else echo "FAIL: missing $1"; fail=1; fi
}
need /usr/bin/quorlan
need /usr/bin/quorlan-demo
need /usr/share/applications/quorlan.desktop
need /usr/share/applications/quorlan-demo.desktop
need /usr/share/icons/hicolor/256x256/apps/quorlan.png
for px in 16 22 24 32 48 64 128; do
  need /usr/share/icons/hicolor/${px}x${px}/apps/quorlan.png
done
need /usr/share/doc/quorlan/copyright
need /usr/lib/udev/rules.d/60-quorlan.rules

RULE=$WORK/root/usr/lib/udev/rules.d/60-quorlan.rules
if [ -f "$RULE" ]; then
  if grep -v '^#' "$RULE" | grep -q 'ATTR{idVendor}=="0483"' \
     && grep -v '^#' "$RULE" | grep -q 'ATTR{idProduct}=="5868"' \
     && grep -v '^#' "$RULE" | grep -q 'TAG+="uaccess"'; then
    echo "ok: udev rule tags 0483:5868 with uaccess"
  else
    echo "FAIL: the udev rule does not tag 0483:5868 with uaccess"; fail=1
  fi
fi

for entry in "$WORK"/root/usr/share/applications/*.desktop; do
  if desktop-file-validate "$entry"; then
    echo "ok: $(basename "$entry") validates"
  else
    echo "FAIL: $(basename "$entry") does not validate"; fail=1
  fi
done

# Dependencies the tool cannot run without.
DEPENDS=$(dpkg-deb -f "$DEB" Depends)
for dep in libusb-1.0-0 libqt5sql5-sqlite libqt5charts5 libqt5widgets5; do
  case "$DEPENDS" in
    *"$dep"*) echo "ok: depends on $dep" ;;
    *) echo "FAIL: no dependency on $dep"; fail=1 ;;
  esac
done
# Only what the tool needs is pulled in: speech and fonts are suggested.
RECOMMENDS=$(dpkg-deb -f "$DEB" Recommends)
case "$RECOMMENDS" in
  *speech*|*fonts-*) echo "FAIL: speech or fonts recommended: $RECOMMENDS"; fail=1 ;;
  *) echo "ok: recommends only $RECOMMENDS" ;;
esac
exit $fail
