#!/bin/bash
# The main job: installs what is missing, builds libqrova with its plugins and
# qrova-play, installs them under /usr/local (plugins in /usr/lib/qrova-plugin),
# then makes a small tagged library of tones, indexes it, plays it through the
# whole stack into a WAV file (a fresh machine has no sound card) and measures
# every boundary between the items.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh
cmake -S . -B build-release -DCMAKE_BUILD_TYPE=Release -DQROVA_BUILD_TESTS=OFF -DCMAKE_INSTALL_PREFIX=/usr/local
cmake --build build-release -j"$(nproc)"
cmake --install build-release
ldconfig

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export XDG_CACHE_HOME=$work/cache   # qrova-play keeps its store there

echo "== a library of tones: FLAC, tagged, 44.1 kHz stereo"
mkdir -p "$work/music"
tones=()
for i in 1 2 3 4; do
    frequency=$((220 + 110 * i))
    buffers=$((30 + 7 * i))          # lengths differ: 1024-frame buffers
    gst-launch-1.0 -q audiotestsrc wave=sine freq=$frequency num-buffers=$buffers samplesperbuffer=1024 \
        ! audio/x-raw,format=S16LE,rate=44100,channels=2 \
        ! taginject tags="title=Tone-$i,artist=Rova-Band,album=Tones,track-number=(uint)$i" \
        ! flacenc ! filesink location="$work/music/tone-$i.flac"
    tones+=("$frequency:$((buffers * 1024))")
    echo "  tone-$i.flac: $frequency Hz, $((buffers * 1024)) frames"
done

echo "== qrova-play --list (indexes the folder into a local Tracker store first)"
qrova-play --list "$work/music"

echo "== qrova-play --output out.wav: the whole playlist through the renderer plugin"
qrova-play --output "$work/out.wav" < /dev/null

echo "== what was played, and the gap at each boundary"
build-release/player/qrova-wavgaps "$work/out.wav" "${tones[@]}"
