#!/bin/sh
# Times `halvora --auto` on a real night bracket (three 12-megapixel frames) against what a user
# compares it with, all in one run so that the ratios hold on a busy machine:
#   - the per-stage times, taken from the debug log's time stamps;
#   - exposure fusion (`enfuse -o out.tif`) of the same three photos, when enfuse is installed;
#   - the floor any such run pays: decoding the three photos and encoding one picture
#     (djpeg × 3 + cjpeg × 1), and our multiple of it;
#   - the same run on the bracket upscaled to twice the pixels (24 megapixels: each side × √2, made
#     here with ImageMagick), and its time and memory as multiples of the 12-megapixel run.
# Wall time and peak memory come from /usr/bin/time (%e, %M in KiB).
# Usage: bench/auto_run.sh [path/to/halvora [path/to/baseline-halvora]]
# With a baseline binary, its run is measured right after ours and the ratios are printed.
# Run outside the build lock, e.g. with nice -n 10.
set -eu
BIN=${1:-$(dirname "$0")/../build/halvora}
BASE=${2:-}
DATA=${HALVORA_DATA:-$(dirname "$0")/../../shared/data}/brackets/iphone_xr_night_9exp
BOX=$(mktemp -d)
trap 'rm -rf "$BOX"' EXIT
mkdir -p "$BOX/config/Vantrelle" "$BOX/home" "$BOX/tmp" "$BOX/out" "$BOX/big"
printf '[General]\nLogToFile=2\n' > "$BOX/config/Vantrelle/Halvora 3.conf"
PHOTOS="$DATA/IMG_3869.jpeg $DATA/IMG_3872.jpeg $DATA/IMG_3875.jpeg"
LOG="$BOX/home/Halvora 3/Halvora3_debug_log.txt"

# Prints "wall rss" (seconds, KiB) of the last measured command from its time file.
measured() { tail -n 1 "$1" | awk '{print $2, $NF}'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (b > 0) printf "%.2f", a / b; else print "n/a" }'; }

# run_halvora LABEL BINARY PHOTOS... : one automatic run; leaves "wall rss" in $BOX/LABEL.m and the
# stamped debug log in $BOX/LABEL.log.
run_halvora() {
    label=$1 bin=$2
    shift 2
    rm -f "$LOG" "$BOX/done"
    # The log is appended one message at a time (opened and closed each time), so a watcher polling
    # it every 2 ms stamps each line with the moment it appeared.
    python3 - "$LOG" "$BOX/$label.log" "$BOX/done" <<'PY' &
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
    watch=$!
    env -u DISPLAY XDG_CONFIG_HOME="$BOX/config" HOME="$BOX/home" TMPDIR="$BOX/tmp" \
        /usr/bin/time -f "wall %e s, user %U s, sys %S s, peak RSS %M" \
        "$bin" --auto "$@" --output_fn="$BOX/out/$label.jpg" >/dev/null 2>"$BOX/$label.time" ||
        { touch "$BOX/done"; wait $watch; cat "$BOX/$label.time"; exit 1; }
    touch "$BOX/done"
    wait $watch
    tail -n 1 "$BOX/$label.time" | sed 's/$/ KiB/'
    measured "$BOX/$label.time" > "$BOX/$label.m"
}

stages() {
    grep -E ' (Getting image info|Starting image load|evMin|Preparing to HDR generation\.\.\.|Recover response|Generate HDR|HDR preprocess|Noise filtering|Mask\.\.\.|Local Contrast|Tone mapping entire|Saving result|Automatic run finished|Closing|Terminated)' "$1" |
        awk '!seen[$2 $3]++ { printf "%8.3f  %s\n", $1, substr($0, index($0, " ") + 1) }'
}

# An untimed run first: whatever the first run of a series pays (files and libraries read from
# disk, the machine waking up) would otherwise count against the binary measured first.
run_halvora warmup "$BIN" $PHOTOS >/dev/null

echo "== halvora --auto (3 photos, 12 MP): $BIN"
run_halvora ours "$BIN" $PHOTOS
ls -l "$BOX/out/ours.jpg" | awk '{print "output bytes", $5}'
python3 - "$BOX/out/ours.jpg" <<'PY'
import struct, sys
d = open(sys.argv[1], "rb").read(); i = 2
while i < len(d):
    m = d[i + 1]; n = struct.unpack(">H", d[i + 2:i + 4])[0]
    if m in (0xC0, 0xC1, 0xC2):
        h, w = struct.unpack(">HH", d[i + 5:i + 9]); print("output size %d x %d" % (w, h)); break
    i += 2 + n
PY
echo "== stages (seconds from the first log line to each stage's start)"
stages "$BOX/ours.log"
read OURS_WALL OURS_RSS < "$BOX/ours.m"

if [ -n "$BASE" ]; then
    echo "== baseline halvora --auto (3 photos, 12 MP): $BASE"
    run_halvora base "$BASE" $PHOTOS
    echo "== baseline stages"
    stages "$BOX/base.log"
    read BASE_WALL BASE_RSS < "$BOX/base.m"
    # Debian's interpreter, which the python3-numpy and python3-pil packages serve.
    PY3=$(command -v /usr/bin/python3 || command -v python3)
    "$PY3" - "$BOX/out/ours.jpg" "$BOX/out/base.jpg" <<'PY' || echo "(pixel comparison needs python3-numpy and python3-pil)"
import sys
import numpy as np
from PIL import Image
a = np.asarray(Image.open(sys.argv[1]).convert("RGB"), dtype=np.int16)
b = np.asarray(Image.open(sys.argv[2]).convert("RGB"), dtype=np.int16)
if a.shape != b.shape:
    print("outputs differ in size:", a.shape, b.shape); sys.exit(0)
d = np.abs(a - b)
print("output vs baseline: max difference %d, samples differing %.4f %%, more than 1: %.4f %%"
      % (d.max(), 100.0 * (d > 0).mean(), 100.0 * (d > 1).mean()))
PY
fi

ENFUSE_WALL=
if command -v enfuse >/dev/null 2>&1; then
    echo "== enfuse -o out.tif (same 3 photos)"
    /usr/bin/time -f "wall %e s, user %U s, sys %S s, peak RSS %M" \
        enfuse -o "$BOX/out/enfuse.tif" $PHOTOS >/dev/null 2>"$BOX/enfuse.time" || { cat "$BOX/enfuse.time"; exit 1; }
    tail -n 1 "$BOX/enfuse.time" | sed 's/$/ KiB/'
    read ENFUSE_WALL ENFUSE_RSS <<EOF
$(measured "$BOX/enfuse.time")
EOF
else
    echo "== enfuse is not installed (Debian package enfuse): no exposure-fusion comparison"
fi

echo "== floor: djpeg x3 + cjpeg x1"
/usr/bin/time -f "wall %e s, peak RSS %M" sh -c "
    for p in $PHOTOS; do djpeg \"\$p\" > \"$BOX/out/\$(basename \"\$p\").ppm\"; done
    cjpeg -quality 100 \"$BOX/out/IMG_3872.jpeg.ppm\" > \"$BOX/out/floor.jpg\"" 2>"$BOX/floor.time"
tail -n 1 "$BOX/floor.time" | sed 's/$/ KiB/'
read FLOOR_WALL FLOOR_RSS <<EOF
$(measured "$BOX/floor.time")
EOF
rm -f "$BOX"/out/*.ppm

echo "== 24 MP: the same bracket with twice the pixels"
for p in $PHOTOS; do
    # Twice the pixels is each side × √2 (141.42 %; 200 % would be four times the pixels). The EXIF
    # block travels with the picture, so the exposure values are the same.
    convert "$p" -filter Triangle -resize 141.42% -quality 95 "$BOX/big/$(basename "$p")"
done
identify -format 'input size %w x %h\n' "$BOX/big/$(basename "${PHOTOS%% *}")"
BIG=$(for p in $PHOTOS; do printf '%s ' "$BOX/big/$(basename "$p")"; done)
run_halvora big "$BIN" $BIG
read BIG_WALL BIG_RSS < "$BOX/big.m"
if [ -n "$BASE" ]; then
    echo "== baseline 24 MP"
    run_halvora basebig "$BASE" $BIG
    read BASEBIG_WALL BASEBIG_RSS < "$BOX/basebig.m"
fi

echo "== summary"
printf '12 MP: wall %s s, peak RSS %d MB\n' "$OURS_WALL" $((OURS_RSS / 1024))
[ -n "$ENFUSE_WALL" ] &&
    printf 'enfuse: wall %s s, peak RSS %d MB; enfuse time / ours = %s, ours / enfuse memory = %s\n' \
        "$ENFUSE_WALL" $((ENFUSE_RSS / 1024)) "$(ratio "$ENFUSE_WALL" "$OURS_WALL")" "$(ratio "$OURS_RSS" "$ENFUSE_RSS")"
printf 'floor: wall %s s; ours = %s x the floor\n' "$FLOOR_WALL" "$(ratio "$OURS_WALL" "$FLOOR_WALL")"
printf '24 MP: wall %s s, peak RSS %d MB; 24 MP / 12 MP: time %s, memory %s\n' "$BIG_WALL" $((BIG_RSS / 1024)) \
    "$(ratio "$BIG_WALL" "$OURS_WALL")" "$(ratio "$BIG_RSS" "$OURS_RSS")"
if [ -n "$BASE" ]; then
    printf 'baseline 12 MP: wall %s s, peak RSS %d MB; baseline / ours: time %s, memory %s\n' "$BASE_WALL" \
        $((BASE_RSS / 1024)) "$(ratio "$BASE_WALL" "$OURS_WALL")" "$(ratio "$BASE_RSS" "$OURS_RSS")"
    [ -n "$ENFUSE_WALL" ] && printf 'baseline: enfuse time / baseline = %s\n' "$(ratio "$ENFUSE_WALL" "$BASE_WALL")"
    printf 'baseline 24 MP: wall %s s, peak RSS %d MB; 24 MP / 12 MP: time %s, memory %s\n' "$BASEBIG_WALL" \
        $((BASEBIG_RSS / 1024)) "$(ratio "$BASEBIG_WALL" "$BASE_WALL")" "$(ratio "$BASEBIG_RSS" "$BASE_RSS")"
fi
