#!/usr/bin/env bash
# Every peer comparison in one go, on inputs each script generates itself:
# the whole run against a per-triangle OpenCV morph, animated GIF sizes
# against gifsicle, adaptive palettes against FFmpeg and ImageMagick. Each
# part prints its own ratios and skips itself when its peer is missing.
# Usage: bench/compare_peers.sh [BUILD_DIR]   (default: build)
set -uo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
build="${1:-build}"
status=0
for part in compare_run.sh compare_anigif_gifsicle.sh compare_palette.sh; do
  [ -x "$here/$part" ] || continue
  echo "== ${part%.sh}"
  "$here/$part" "$build" || { echo "${part%.sh} failed" >&2; status=1; }
  echo
done
exit $status
