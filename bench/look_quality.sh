#!/bin/sh
# The default look on real radiance pictures: runs `halvora --auto` with the built-in look on the six
# Poly Haven panoramas and prints the tone-mapped image quality index (TMQI: Q overall, S structural
# fidelity, N naturalness) of each result and the mean Q. Results and a contact sheet go to OUT.
# Usage: bench/look_quality.sh [path/to/halvora] [OUT folder]   (needs python3-opencv, python3-scipy;
# the contact sheet needs imagemagick's montage)
set -eu
HERE=$(cd "$(dirname "$0")" && pwd)
BIN=${1:-$HERE/../build/halvora}
OUT=${2:-$(mktemp -d /tmp/halvora-look-XXXXXX)}
DATA=${HALVORA_DATA:-$HERE/../../shared/data}/radiance/polyhaven_hdri_1k
TOOLS=${HALVORA_TOOLS:-$HERE/../../shared/tools}
BOX=$(mktemp -d)
trap 'rm -rf "$BOX"' EXIT
mkdir -p "$BOX/config" "$BOX/home" "$BOX/tmp" "$OUT"
printf '%-22s %7s %7s %7s\n' scene Q S N
for hdr in "$DATA"/*.hdr; do
    name=$(basename "$hdr" _1k.hdr)
    env -u DISPLAY XDG_CONFIG_HOME="$BOX/config" HOME="$BOX/home" TMPDIR="$BOX/tmp" \
        "$BIN" --auto "$hdr" --output_fn="$OUT/$name.jpg" >/dev/null 2>"$BOX/err.txt" || { cat "$BOX/err.txt"; exit 1; }
    set -- $(/usr/bin/python3 "$TOOLS/tmqi.py" "$hdr" "$OUT/$name.jpg")
    printf '%-22s %7.4f %7.4f %7.4f\n' "$name" "$1" "$2" "$3"
    echo "$1" >> "$BOX/q.txt"
done
awk '{ s += $1; n++; if (min == "" || $1 < min) min = $1 } END { printf "%-22s %7.4f   (lowest %.4f)\n", "mean", s / n, min }' "$BOX/q.txt"
if command -v montage >/dev/null 2>&1; then
    sheet=$(for h in "$DATA"/*.hdr; do echo "$OUT/$(basename "$h" _1k.hdr).jpg"; done)
    # Labels need a font; without one (a bare server) the sheet is made without them.
    montage -label "%t" -geometry 512x256+4+4 -tile 2x $sheet "$OUT/contact_sheet.png" 2>/dev/null ||
        montage -geometry 512x256+4+4 -tile 2x $sheet "$OUT/contact_sheet.png" 2>/dev/null || true
    [ -f "$OUT/contact_sheet.png" ] &&
        echo "contact sheet: $OUT/contact_sheet.png"
fi
echo "results: $OUT"
