#!/bin/sh
# Started by the tray tests from inside Wine: saves the part of the virtual
# display given as GEOMETRY (WxH+X+Y; the display may be shared, so only
# the window checked is kept) as BUILD/screenshots/NAME.png. The picture
# appears whole or not at all, since the test waits for the file.
#   screenshot.sh NAME GEOMETRY
build=$(cd "$(dirname "$0")/.." && pwd)
mkdir -p "$build/screenshots"
import -window root -crop "$2" +repage "$build/screenshots/.$1.png" &&
  mv "$build/screenshots/.$1.png" "$build/screenshots/$1.png"
