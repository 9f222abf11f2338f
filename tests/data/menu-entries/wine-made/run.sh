#!/bin/sh
set -x
H=/tmp/menucap/home; A=/tmp/menucap/pfxA; B=/tmp/menucap/pfxB
rm -rf $H $A $B; mkdir -p $H/Desktop $H/.config
echo 'XDG_DESKTOP_DIR="$HOME/Desktop"' > $H/.config/user-dirs.dirs
export HOME=$H WINEDEBUG=-all
for p in A B; do
  eval P=\$$p
  WINEPREFIX=$P timeout 300 wineboot -i
  WINEPREFIX=$P timeout 200 wineserver -w
  WINEPREFIX=$P timeout 300 wine /tmp/menucap/setup-$p.exe /S
  WINEPREFIX=$P timeout 200 wineserver -w
done
