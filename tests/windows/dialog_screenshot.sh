#!/usr/bin/env bash
# A screenshot of the configuration dialog as Wine draws it, on the X
# display the tests run under (xvfb-run): the program opens the dialog and
# says where it is; the screen is taken with ImageMagick's import and cut to
# the dialog, into <folder>/config_dialog.png.
#   dialog_screenshot.sh <wine> <dialog_screenshot.exe> <folder>
set -u
wine=$1
program=$2
folder=$3
[[ -n "${DISPLAY:-}" ]] || { echo "no X display (run under xvfb-run): skipped"; exit 77; }
rm -f "$folder/dialog_ready" "$folder/dialog_done" "$folder/config_dialog.png"
"$wine" "$program" "$(winepath -w "$folder")" &
pid=$!
for _ in $(seq 1 300); do
  [[ -s "$folder/dialog_ready" ]] && break
  sleep 0.1
done
if [[ ! -s "$folder/dialog_ready" ]]; then
  echo "FAIL: the dialog did not open"
  kill "$pid" 2>/dev/null
  exit 1
fi
read -r x y w h < <(tr -d '\r' < "$folder/dialog_ready")
screen=$(mktemp --suffix=.png)
import -window root "$screen"
convert "$screen" -crop "${w}x${h}+${x}+${y}" +repage "$folder/config_dialog.png"
rm -f "$screen"
touch "$folder/dialog_done"
wait "$pid"
status=$?
size=$(identify -format '%w %h' "$folder/config_dialog.png" 2>/dev/null)
if [[ "$size" != "$w $h" ]]; then
  echo "FAIL: the screenshot is '$size', the dialog $w x $h"
  exit 1
fi
echo "dialog $w x $h at $x,$y: $folder/config_dialog.png"
exit $status
