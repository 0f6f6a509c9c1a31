#!/bin/sh
# Merge accuracy on brackets with a known truth: each Poly Haven panorama is turned into a JPEG
# bracket through a known camera curve (5 frames 2 stops apart, and 3 frames 3 stops apart), merged
# by `halvora --auto --save_hdr` and by OpenCV's calibrated Debevec merge, and both radiance pictures
# are compared with the truth: log2 RMS error after the best scale per channel (lower is better).
# Usage: bench/merge_accuracy.sh [path/to/halvora]   (needs python3-opencv, python3-scipy, exiftool)
set -eu
HERE=$(cd "$(dirname "$0")" && pwd)
BIN=${1:-$HERE/../build/halvora}
DATA=${HALVORA_DATA:-$HERE/../../shared/data}/radiance/polyhaven_hdri_1k
TOOLS=${HALVORA_TOOLS:-$HERE/../../shared/tools}
BOX=$(mktemp -d)
trap 'rm -rf "$BOX"' EXIT
mkdir -p "$BOX/config" "$BOX/home" "$BOX/tmp"
for bracket in "5 2" "3 3"; do
    set -- $bracket
    frames=$1 stops=$2
    echo "== $frames frames, $stops stops apart: log2 RMS error (p99)"
    printf '%-22s %16s %16s\n' scene halvora opencv
    for hdr in "$DATA"/*.hdr; do
        name=$(basename "$hdr" _1k.hdr)
        dir="$BOX/$name-$frames"
        /usr/bin/python3 "$TOOLS/synth_bracket.py" "$hdr" "$dir" "$stops" "$frames" >/dev/null
        times=$(cat "$dir/times.txt")
        photos=$(for k in $(seq 0 $((frames - 1))); do echo "$dir/f$k.jpg"; done)
        env -u DISPLAY XDG_CONFIG_HOME="$BOX/config" HOME="$BOX/home" TMPDIR="$BOX/tmp" \
            "$BIN" --auto $photos --save_hdr="$dir/halvora.exr" --output_fn="$dir/halvora.jpg" >/dev/null 2>&1
        OPENCV_IO_ENABLE_OPENEXR=1 /usr/bin/python3 "$TOOLS/opencv_pipeline.py" debevec "$dir/cv.jpg" $photos \
            --exr "$dir/cv.exr" --times "$times" >/dev/null 2>&1
        ours=$(OPENCV_IO_ENABLE_OPENEXR=1 /usr/bin/python3 "$TOOLS/hdr_error.py" "$dir/truth.exr" "$dir/halvora.exr" "$times")
        peer=$(OPENCV_IO_ENABLE_OPENEXR=1 /usr/bin/python3 "$TOOLS/hdr_error.py" "$dir/truth.exr" "$dir/cv.exr" "$times")
        set -- $ours
        a="$1 ($2)"
        set -- $peer
        b="$1 ($2)"
        printf '%-22s %16s %16s\n' "$name" "$a" "$b"
    done
done
