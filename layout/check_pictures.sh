#!/bin/sh
# Draws every shipped example and every test configuration with padmap-layout,
# checks each picture as XML (check_svg.py) and renders it to PNG.
# usage: check_pictures.sh PADMAP_LAYOUT SOURCE_DIR WORK_DIR
set -u
tool=$1
src=$2
work=$3
here=$(dirname "$0")
mkdir -p "$work" || exit 1

if ! command -v rsvg-convert >/dev/null 2>&1; then
    echo "rsvg-convert missing: installing librsvg2-bin"
    (apt-get update && apt-get install -y librsvg2-bin) >"$work/apt.log" 2>&1
    if ! command -v rsvg-convert >/dev/null 2>&1; then
        echo "FAIL: rsvg-convert could not be installed (see $work/apt.log)"
        exit 1
    fi
fi

failed=0
count=0
for cfg in "$src"/examples/*.cfg "$src"/layout/testdata/*.cfg; do
    [ -f "$cfg" ] || continue
    count=$((count + 1))
    name=$(basename "$cfg" .cfg)
    dir=$(basename "$(dirname "$cfg")")
    svg="$work/$dir-$name.svg"
    png="$work/$dir-$name.png"
    rm -f "$svg" "$png"
    if ! "$tool" "$cfg" "$svg" >"$work/$dir-$name.out"; then
        echo "FAIL: $cfg: padmap-layout failed: $(tail -n 1 "$work/$dir-$name.out")"
        failed=1
        continue
    fi
    expect="${cfg%.cfg}.expect"
    [ -f "$expect" ] || expect=""
    if ! python3 "$here/check_svg.py" "$svg" "$cfg" $expect; then
        echo "FAIL: $cfg: picture check"
        failed=1
    fi
    if ! rsvg-convert "$svg" -o "$png" 2>"$work/$dir-$name.rsvg"; then
        echo "FAIL: $cfg: rsvg-convert: $(cat "$work/$dir-$name.rsvg")"
        failed=1
    elif [ -s "$work/$dir-$name.rsvg" ]; then
        echo "FAIL: $cfg: rsvg-convert complained: $(cat "$work/$dir-$name.rsvg")"
        failed=1
    elif [ "$(head -c 4 "$png" | od -An -tx1 | tr -d ' \n')" != "89504e47" ]; then
        echo "FAIL: $cfg: no PNG written"
        failed=1
    fi
done
if [ "$count" -eq 0 ]; then
    echo "FAIL: no configuration found"
    exit 1
fi
[ "$failed" -eq 0 ] && echo "ok: $count pictures"
exit "$failed"
