#!/usr/bin/env bash
# The bundled demo: morphs the two sample images with their mesh and prints the
# frame folder. Usage: tools/demo.sh [BUILD_DIR]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
samples=resources/samples
echo "Tarnel demo: morphing $samples/start.bmp into $samples/end.bmp (no display found)" >&2
folder=$("$build"/tarnel-cli morph "$samples/start.bmp" "$samples/end.bmp" \
  --mesh "$samples/demo-mesh.json" --frames 20 --kind bmp)
echo "Frames written to: $folder"
ls "$folder" | head -n 3
echo "... $(ls "$folder" | wc -l) frames"
# The same run as a video and as an optimised animated GIF, as the export
# window and the composer would make them.
"$build"/tarnel-cli avi "$folder" "$folder.avi" >/dev/null
"$build"/tarnel-cli anigif "$folder.avi" "$folder.gif" --optimize 2>/dev/null
echo "Video: $folder.avi"
echo "Animated GIF: $folder.gif"
