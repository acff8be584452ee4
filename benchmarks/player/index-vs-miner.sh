#!/bin/bash
# SPDX-License-Identifier: LGPL-2.1-or-later
# qrova-play's indexer beside the desktop's own Tracker 3 files miner and
# extractor, on the same 2,000 tagged FLAC files, in one run:
#   - the miner: from its start on a private session bus (the extractor
#     D-Bus activated there) until the store holds every song with its title;
#   - qrova-play: first index (empty store), unchanged re-index, --list of the
#     store, and the time until it says the first song plays (--output).
# Each qrova-play figure is the median of three runs; a second build tree (an
# older version, say) is measured the same way in the same run, for comparison.
# The miner and its extractor run at idle priority, which a busy machine starves:
# the first index is also timed at that priority (chrt --idle), the fair
# comparison when the machine is not quiet.
#
# Usage: benchmarks/player/index-vs-miner.sh BUILD_DIR [BASELINE_BUILD_DIR]
#   BUILD_DIR  a build tree with qrova-play and the plugins
#   QROVA_BENCH_DIR  where the files and stores go (default: /var/tmp/qrova-index-bench);
#              the 2,000 files are made once and kept there
set -euo pipefail

builds=("$(realpath "${1:?usage: $0 BUILD_DIR [BASELINE_BUILD_DIR]}")")
[[ -n ${2:-} ]] && builds+=("$(realpath "$2")")
work=${QROVA_BENCH_DIR:-/var/tmp/qrova-index-bench}
count=2000
mkdir -p "$work"
work=$(realpath "$work")
music=$work/music

now() { date +%s.%N; }
since() { awk -v a="$(now)" -v b="$1" 'BEGIN { printf "%.3f", a - b }'; }
median() { printf '%s\n' "$@" | sort -g | sed -n 2p; }

# The files: 1 s stereo tones, 20 albums of 100 songs by 10 artists, tagged.
if [[ ! -e $work/music.done ]]; then
    echo "making $count tagged FLAC files in $music (once)" >&2
    rm -rf "$music"
    for ((i = 0; i < count; ++i)); do
        album=$((i / 100)); mkdir -p "$music/album$album"
        echo "$i $album"
    done | xargs -P 2 -n 2 sh -c 'gst-launch-1.0 -q audiotestsrc num-buffers=44 freq=$((200 + $0)) \
        ! audio/x-raw,rate=44100,channels=2 \
        ! taginject "tags=\"title=\\\"Song $0\\\",artist=\\\"Artist $(($1 / 2))\\\",album=\\\"Album $1\\\",track-number=(uint)$(($0 % 100 + 1))\"" \
        ! flacenc ! filesink location='"$music"'/album$1/song$0.flac'
    touch "$work/music.done"
fi

# --- The desktop's miner and extractor, everything private ---------------------
miner=$work/miner
rm -rf "$miner"
mkdir -p "$miner"/{home,tmp,config,cache,data,services,run}
cat > "$miner/services/org.freedesktop.Tracker3.Miner.Extract.service" <<SERVICE
[D-BUS Service]
Name=org.freedesktop.Tracker3.Miner.Extract
Exec=/usr/libexec/tracker-extract-3
SERVICE
mkdir -p "$miner/config/glib-2.0/settings"
printf '[org/freedesktop/tracker/miner/files]\ninitial-sleep=0\n' > "$miner/config/glib-2.0/settings/keyfile"
cat > "$miner/bus.conf" <<CONF
<busconfig><type>session</type><listen>unix:dir=$miner/run</listen><servicedir>$miner/services</servicedir>
<policy context="default"><allow send_destination="*" eavesdrop="true"/><allow eavesdrop="true"/><allow own="*"/></policy></busconfig>
CONF
export HOME=$miner/home TMPDIR=$miner/tmp XDG_CONFIG_HOME=$miner/config XDG_CACHE_HOME=$miner/cache \
    XDG_DATA_HOME=$miner/data XDG_RUNTIME_DIR=$miner/run GSETTINGS_BACKEND=keyfile
dbus-daemon --config-file="$miner/bus.conf" --nofork --print-address=1 > "$miner/address" 2> "$miner/bus.log" &
bus=$!
minerPid=
cleanup() {
    [[ -n $minerPid ]] && kill "$minerPid" 2>/dev/null || true
    kill "$bus" 2>/dev/null || true
    wait 2>/dev/null || true
}
trap cleanup EXIT
until [[ -s $miner/address ]]; do sleep 0.05; done
export DBUS_SESSION_BUS_ADDRESS=$(head -1 "$miner/address")
songs() {
    tracker3 sparql --dbus-service org.freedesktop.Tracker3.Miner.Files \
        -q 'SELECT (COUNT(?s) AS ?n) { ?s a nmm:MusicPiece ; nie:title ?t }' 2>/dev/null | grep -oE '[0-9]+' | tail -1
}
/usr/libexec/tracker-miner-fs-3 > "$miner/log" 2>&1 &
minerPid=$!
until [[ $(songs) == 0 ]]; do sleep 0.1; done
start=$(now)
tracker3 index --add --recursive "$music" > /dev/null
until [[ $(songs) == "$count" ]]; do
    sleep 0.2
    if awk -v t="$(since "$start")" 'BEGIN { exit !(t > 900) }'; then echo "the miner did not finish in 900 s" >&2; exit 1; fi
done
minerTime=$(since "$start")
# Their processor time too: the miner and its extractor run at idle priority, so a busy machine slows them most.
extractor=$(gdbus call --session --dest org.freedesktop.DBus --object-path /org/freedesktop/DBus \
    --method org.freedesktop.DBus.GetConnectionUnixProcessID org.freedesktop.Tracker3.Miner.Extract | grep -oE '[0-9]+' | head -1)
minerCpu=$(awk -v hz="$(getconf CLK_TCK)" '{ s += ($14 + $15) / hz } END { printf "%.2f", s }' /proc/"$minerPid"/stat /proc/"$extractor"/stat)
cleanup
minerPid=
trap - EXIT

printf '%d tagged FLAC files, %d cores, load %s\n' "$count" "$(nproc)" "$(cut -d' ' -f1 /proc/loadavg)"
printf 'Tracker miner + extractor:          %6.2f s  (processor time %.2f s)\n' "$minerTime" "$minerCpu"

# --- qrova-play ---------------------------------------------------------------
unset DBUS_SESSION_BUS_ADDRESS
# The run's real time, and its processor time.
timed() {
    local TIMEFORMAT='%R %U %S'
    { time $prefix "$play" "$@" > /dev/null 2> "$work/stderr"; } 2> "$work/time" || { cat "$work/stderr" >&2; exit 1; }
    awk '{ printf "%.3f %.3f", $1, $2 + $3 }' "$work/time"
}
for build in "${builds[@]}"; do
    plugins=$work/plugins
    rm -rf "$plugins"; mkdir -p "$plugins"
    cp "$build"/plugins/gstreamer-renderer/libqrova-gstreamer-renderer.so "$build"/plugins/tracker-source/libqrova-tracker-source.so "$plugins"/
    export QROVA_PLUGIN_DIR=$plugins
    play=$build/player/qrova-play
    first=(); firstCpu=(); idle=(); again=(); list=(); playing=()
    for run in 1 2 3; do
        export XDG_CACHE_HOME=$work/player$run
        rm -rf "$XDG_CACHE_HOME"
        prefix="chrt --idle 0"
        read -r real cpu <<< "$(timed --list "$music")"
        idle+=("$real")
        rm -rf "$XDG_CACHE_HOME"
        prefix=
        read -r real cpu <<< "$(timed --list "$music")"
        first+=("$real"); firstCpu+=("$cpu")
        read -r real cpu <<< "$(timed --list "$music")"
        again+=("$real")
        read -r real cpu <<< "$(timed --list)"
        list+=("$real")
        t=$(now)
        "$play" --output "$work/out.wav" > "$work/playing" 2>&1 &
        player=$!
        until grep -q "Playing 1/" "$work/playing"; do kill -0 "$player" 2>/dev/null || { cat "$work/playing" >&2; exit 1; }; sleep 0.01; done
        playing+=("$(since "$t")")
        kill "$player"; wait "$player" 2>/dev/null || true
    done
    qrovaTime=$(median "${first[@]}")
    echo "qrova-play of $build:"
    printf '  first index (--list DIR):        %6.2f s  (%.1fx faster than the miner; processor time %.2f s)\n' "$qrovaTime" \
        "$(awk -v a="$minerTime" -v b="$qrovaTime" 'BEGIN { print a / b }')" "$(median "${firstCpu[@]}")"
    printf '  first index at idle priority:    %6.2f s  (%.1fx faster than the miner at the same priority)\n' "$(median "${idle[@]}")" \
        "$(awk -v a="$minerTime" -v b="$(median "${idle[@]}")" 'BEGIN { print a / b }')"
    printf '  unchanged re-index (--list DIR): %6.2f s\n' "$(median "${again[@]}")"
    printf '  --list:                          %6.2f s\n' "$(median "${list[@]}")"
    printf '  first "Playing" (--output):      %6.2f s\n' "$(median "${playing[@]}")"
done
