#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Installs what is missing, builds, and runs Tessarin: without arguments the desktop program,
# with arguments the command-line program (./run.sh identify photo.jpg; ./run.sh --help).
set -euo pipefail
KX_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
source "$KX_ROOT/tools/common.sh"

if [ $# -eq 0 ] && [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
  echo "The desktop program needs a display (none is set); ./run.sh --help lists the command-line commands." >&2
  exit 1
fi

kx_install_missing >&2
kx_build "$KX_ROOT/build" >&2

if [ $# -eq 0 ]; then
  exec "$KX_ROOT/build/src/tessarin"
fi
exec "$KX_ROOT/build/src/tessarin-cli" "$@"
