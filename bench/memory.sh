#!/bin/bash
# Peak resident memory (README.md, "Memory"), side by side in one run, three runs each:
#   - the viewer on the bundled sample and on a 6000 x 4000 16-bit FITS frame, under Xvfb, until
#     its picture is painted (QUASEL_EXIT_AFTER_FIRST_PAINT=1), by /usr/bin/time -f %M;
#   - `quasel-tool render` of the frame to JPEG, by /usr/bin/time -f %M;
#   - bench/frames_memory: the frame and 12 further frames loaded into one image window;
#   - for comparison, when installed: SAOImage DS9 on both files zoomed to fit (VmHWM read from
#     /proc 5 s after its start) and Siril's CLI (load, stat, savejpg).
# Every Quasel figure is taken as installed (OpenCL platforms as found) and with
# OCL_ICD_VENDORS pointing at an empty directory (no OpenCL platform).
# Usage: bench/memory.sh BUILD [BUILD...]   (several builds: compared within the same run)
set -uo pipefail
sample=$(realpath "$(dirname "$0")/../resources/ngc1316o.fit")
builds=()
for b in "$@"; do builds+=("$(realpath "$b")"); done
work=$(mktemp -d)
Xvfb :96 -screen 0 1920x1200x24 > /dev/null 2>&1 &
xvfb=$!
trap 'kill $xvfb; rm -rf "$work"' EXIT
cd "$work"
"${builds[0]}/bench/make_test_fits" big.fit 6000 4000 > /dev/null
mkdir none
printf 'requires 1.0.0\nload big.fit\nstat\nsavejpg siril 75\n' > siril.ssf
sleep 1

peak() { /usr/bin/time -f %M "$@" 2>&1 > /dev/null | tail -1; }
ds9peak() {
    DISPLAY=:96 ds9 -zoom to fit "$1" > /dev/null 2>&1 &
    local pid=$!
    sleep 5
    awk '/VmHWM/ {print $2}' /proc/$pid/status
    kill $pid
    wait $pid 2> /dev/null
}

for run in 1 2 3; do
    for b in "${builds[@]}"; do
        for ocl in found none; do
            # Each OpenCL setting keeps its own cache of the GPU answer, asked for once before
            # the first run, so no figure includes the probe's process.
            tool=(env XDG_CACHE_HOME="$work/cache-$ocl")
            [ $ocl = none ] && tool+=(OCL_ICD_VENDORS="$work/none")
            env=("${tool[@]}" QUASEL_EXIT_AFTER_FIRST_PAINT=1 QT_QPA_PLATFORM=xcb DISPLAY=:96)
            [ $run = 1 ] && "${tool[@]}" "$b/tools/quasel-tool" render "$sample" warm.jpg
            echo "$b $ocl viewer-sample $(peak "${env[@]}" "$b/viewer/quasel" "$sample")"
            echo "$b $ocl viewer-24MP $(peak "${env[@]}" "$b/viewer/quasel" big.fit)"
            # The tool as run from a terminal: it takes no display.
            echo "$b $ocl tool-render $(peak "${tool[@]}" "$b/tools/quasel-tool" render big.fit out.jpg)"
            echo "$b $ocl frames $("${env[@]}" QT_QPA_PLATFORM=offscreen "$b/bench/frames_memory" big.fit 2> /dev/null | tr '\n' ' ')"
        done
    done
    if command -v ds9 > /dev/null; then
        echo "ds9 - viewer-sample $(ds9peak "$sample")"
        echo "ds9 - viewer-24MP $(ds9peak big.fit)"
    fi
    if command -v siril-cli > /dev/null; then
        echo "siril - tool-render $(peak siril-cli -d "$work" -s "$work/siril.ssf")"
    fi
done
