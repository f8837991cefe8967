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
