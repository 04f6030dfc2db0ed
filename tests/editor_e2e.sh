#!/usr/bin/env bash
# The editor in a real X window: clicks reach the parameters, the panel is on screen, and
# opening and closing the editor while audio plays neither crashes nor fails.
#   editor_e2e.sh HOST_BINARY   (run under xvfb-run)
set -euo pipefail
host=$1
work=$(mktemp -d)
trap 'kill "$pid" 2>/dev/null || true; rm -rf "$work"' EXIT

# Waits until the host has reported a line, or fails after five seconds.
expect_line() {
    for _ in $(seq 50); do
        grep -qxF "$1" "$work/out" && { echo "saw: $1"; return 0; }
        sleep 0.1
    done
    echo "never saw: $1"; cat "$work/out"; return 1
}

"$host" --level 0.1 > "$work/out" 2>&1 &
pid=$!
expect_line "ready 1392x245"
expect_line "caption OS: Off"
expect_line "led 1"

xdotool mousemove 1325 120 click 1   # the OS button
expect_line "caption OS: 2x"
expect_line "latency 49"

xdotool mousemove 1201 123 click 1   # the power button
expect_line "power 0"

import -window root -crop 1392x245+0+0 "$work/shot.png"
/usr/bin/python3 - "$work/shot.png" <<'PY'
import sys
import numpy as np
from PIL import Image
shot = np.asarray(Image.open(sys.argv[1]).convert("RGB")).astype(float)
# Plain panel between the trim knob and the power button: dark blue-teal brushed metal.
r, g, b = shot[150:190, 850:950].reshape(-1, 3).mean(axis=0)
assert b > r + 20 and g > r + 15 and 30 < b < 110, f"not the panel: mean colour {r:.0f} {g:.0f} {b:.0f}"
assert shot.std() > 20, "a blank screen"
print(f"panel on screen: mean colour {r:.0f} {g:.0f} {b:.0f}, contrast {shot.std():.0f}")
PY
kill "$pid"; wait "$pid" 2>/dev/null || true

# Under valgrind, so a leak or a bad memory access in those 50 editors fails the test (a
# sanitizer build watches the heap itself).
checker=()
[ "${KORVEL_VALGRIND:-1}" = 1 ] && checker=(valgrind --quiet --leak-check=full --errors-for-leak-kinds=definite,indirect --error-exitcode=3)
"${checker[@]}" "$host" --level 0.3 --cycles 50 > "$work/out" 2>&1
expect_line "cycles done"
echo "editor opened and closed 50 times while audio played: no leak, no memory error"
