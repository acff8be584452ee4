#!/bin/bash
# The main job: installs what is missing, builds libqrova, installs it under
# /usr/local and runs the example program against the installed library.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh
cmake -S . -B build-release -DCMAKE_BUILD_TYPE=Release -DQROVA_BUILD_TESTS=OFF -DCMAKE_INSTALL_PREFIX=/usr/local
cmake --build build-release -j"$(nproc)"
cmake --install build-release
ldconfig
echo "== qrova-tour (installed in /usr/local/bin) =="
/usr/local/bin/qrova-tour
