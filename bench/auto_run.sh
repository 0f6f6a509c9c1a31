#!/bin/sh
# Times `halvora --auto` on a real night bracket (three frames) and, as the floor any such run pays,
# decoding the three photos and encoding one picture with djpeg/cjpeg. Prints wall time and peak
# memory (/usr/bin/time %M, KiB) and the per-stage times taken from the debug log's time stamps.
# Usage: bench/auto_run.sh [path/to/halvora]   (run outside the build lock, e.g. with nice -n 10)
set -eu
BIN=${1:-$(dirname "$0")/../build/halvora}
DATA=${HALVORA_DATA:-$(dirname "$0")/../../shared/data}/brackets/iphone_xr_night_9exp
BOX=$(mktemp -d)
trap 'rm -rf "$BOX"' EXIT
mkdir -p "$BOX/config/Vantrelle" "$BOX/home" "$BOX/tmp" "$BOX/out"
printf '[General]\nLogToFile=2\n' > "$BOX/config/Vantrelle/Halvora 3.conf"
PHOTOS="$DATA/IMG_3869.jpeg $DATA/IMG_3872.jpeg $DATA/IMG_3875.jpeg"
LOG="$BOX/home/Halvora 3/Halvora3_debug_log.txt"

echo "== halvora --auto (3 photos)"
# The log is appended one message at a time (opened and closed each time), so a watcher polling it
# every 2 ms stamps each line with the moment it appeared.
python3 - "$LOG" "$BOX/stamped.txt" "$BOX/done" <<'PY' &
import os, sys, time
log, out, done = sys.argv[1:4]
t0 = time.monotonic(); pos = 0; rest = b""
with open(out, "w") as o:
    while True:
        finished = os.path.exists(done)
        try:
            with open(log, "rb") as f:
                f.seek(pos); chunk = f.read(); pos += len(chunk)
        except OSError:
            chunk = b""
        rest += chunk
        *lines, rest = rest.split(b"\n")
        now = time.monotonic() - t0
        for line in lines:
            o.write("%.3f %s\n" % (now, line.decode(errors="replace")))
        if finished: break
        time.sleep(0.002)
PY
WATCH=$!
env -u DISPLAY XDG_CONFIG_HOME="$BOX/config" HOME="$BOX/home" TMPDIR="$BOX/tmp" \
    /usr/bin/time -f "wall %e s, user %U s, sys %S s, peak RSS %M KiB" \
    "$BIN" --auto $PHOTOS --output_fn="$BOX/out/night.jpg" >/dev/null 2>"$BOX/time.txt" || { cat "$BOX/time.txt"; exit 1; }
touch "$BOX/done"; wait $WATCH
tail -n 1 "$BOX/time.txt"
ls -l "$BOX/out/night.jpg" | awk '{print "output bytes", $5}'
python3 - "$BOX/out/night.jpg" <<'PY'
import struct, sys
d = open(sys.argv[1], "rb").read(); i = 2
while i < len(d):
    m = d[i + 1]; n = struct.unpack(">H", d[i + 2:i + 4])[0]
    if m in (0xC0, 0xC1, 0xC2):
        h, w = struct.unpack(">HH", d[i + 5:i + 9]); print("output size %d x %d" % (w, h)); break
    i += 2 + n
PY

echo "== stages (seconds from the first log line to each stage's start)"
grep -E ' (Getting image info|Starting image load|evMin|Preparing to HDR generation\.\.\.|Recover response|Generate HDR|HDR preprocess|Noise filtering|Mask\.\.\.|Local Contrast|Tone mapping entire|Saving result|Automatic run finished|Closing|Terminated)' "$BOX/stamped.txt" |
    awk '!seen[$2 $3]++ { printf "%8.3f  %s\n", $1, substr($0, index($0, " ") + 1) }'

echo "== floor: djpeg x3 + cjpeg x1"
/usr/bin/time -f "wall %e s, peak RSS %M KiB" sh -c "
    for p in $PHOTOS; do djpeg \"\$p\" > \"$BOX/out/\$(basename \"\$p\").ppm\"; done
    cjpeg -quality 100 \"$BOX/out/IMG_3872.jpeg.ppm\" > \"$BOX/out/floor.jpg\"" 2>&1 | tail -n 1

