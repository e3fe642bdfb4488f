#!/usr/bin/env bash
# Installs what is missing and builds the native program.
set -euo pipefail
cd "$(dirname "$0")"
source scripts/common.sh
orlenta_install_packages
cmake --preset linux >/dev/null
cmake --build --preset linux
