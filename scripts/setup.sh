#!/bin/bash
# Installs what building, testing and running libqrova needs, from Debian 12's
# own packages. Safe to run again: it does nothing when everything is there.
set -euo pipefail

packages=(
    g++ cmake make pkg-config
    qt6-base-dev qt6-scxml-dev          # Qt Core, Test and StateMachine
    libglib2.0-dev                      # the log bridge
    libtracker-sparql-3.0-dev tracker   # the metadata store and its tools
    tracker-miner-fs tracker-extract    # the desktop's files miner: store tests, and the indexing benchmark
    dbus dbus-bin                       # a private session bus for store tests
    clang libclang-rt-14-dev            # the fuzz targets (libFuzzer)
    binutils                            # nm, objdump for the symbol check
    libgstreamer1.0-dev libgstreamer-plugins-base1.0-dev   # the GStreamer renderer plugin
    gstreamer1.0-plugins-base gstreamer1.0-plugins-good    # decoders, wavenc, flac, vorbis
    gstreamer1.0-tools                  # gst-launch-1.0, to make test tones
    doxygen graphviz                    # the API reference (QROVA_BUILD_DOCS)
    playerctl libglib2.0-bin            # drive qrova-play's desktop control in tests (playerctl, gdbus)
    qt6-declarative-dev qt6-declarative-dev-tools   # the Qrova QML module and qrova-player
    qml6-module-qtquick qml6-module-qtquick-controls qml6-module-qtquick-layouts \
    qml6-module-qtquick-templates qml6-module-qtquick-window qml6-module-qtqml-workerscript \
    qml6-module-qttest                  # Qt Quick Test for the QML tests
    libgupnp-1.6-dev libgupnp-av-1.0-dev libgssdp-1.6-dev  # the UPnP source plugin
    minidlna rygel                      # real media servers the UPnP source tests start on lo
)

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

if ((${#missing[@]})); then
    if [[ $(id -u) -ne 0 ]]; then
        echo "setup: these packages are missing: ${missing[*]}; run as root to install them" >&2
        exit 1
    fi
    echo "setup: installing ${missing[*]}"
    export DEBIAN_FRONTEND=noninteractive
    # Packages must not start their services (minidlna would take port 8200 for
    # good): a policy that refuses every start, for as long as we install, unless
    # the machine has a policy of its own.
    policy=/usr/sbin/policy-rc.d
    own_policy=
    if [[ ! -e $policy ]]; then
        printf '#!/bin/sh\nexit 101\n' > "$policy"
        chmod 755 "$policy"
        own_policy=1
        trap 'rm -f "$policy"' EXIT
    fi
    apt-get update -q
    apt-get install -y -q --no-install-recommends "${missing[@]}"
    if [[ -n $own_policy ]]; then
        rm -f "$policy"
        trap - EXIT
    fi
fi
