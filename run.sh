#!/usr/bin/env bash
# Installs what is missing, builds, and runs Tessarin: the command-line program with the
# arguments given (./run.sh identify photo.jpg); without arguments, its help.
set -euo pipefail
KX_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
source "$KX_ROOT/tools/common.sh"

kx_install_missing >&2
kx_build "$KX_ROOT/build" >&2

if [ $# -eq 0 ]; then
  exec "$KX_ROOT/build/src/tessarin-cli" --help
fi
exec "$KX_ROOT/build/src/tessarin-cli" "$@"
