#!/usr/bin/env bash
# Installs the Debian packages the build needs, only those that are missing.
set -euo pipefail
packages=(
  build-essential cmake pkg-config
  libturbojpeg0-dev nlohmann-json3-dev
  qt6-base-dev libgl-dev
  libavformat-dev libavcodec-dev libswscale-dev libavutil-dev
  libopencv-dev  # automatic mesh alignment: features, robust fits, optical flow
  libpng-dev zlib1g-dev libwebp-dev  # PNG and WebP pictures, APNG and animated WebP
  libgtest-dev libgmock-dev libbenchmark-dev libgif-dev
  fonts-ipafont-gothic
  ffmpeg  # tests and benchmarks: ffmpeg and ffprobe make, probe and decode AVI, MP4 and WebM files
  qt6-translations-l10n  # Japanese texts of Qt's own dialogs
  gifsicle imagemagick  # benchmarks: bench/compare_anigif_gifsicle.sh
  webp python3-pil  # benchmarks and checks: img2webp as the peer encoder, Pillow as a second decoder
  appstream dpkg-dev  # packaging: metainfo validation, cpack -G DEB
  python3-opencv  # benchmarks: bench/compare_run.sh (the per-triangle OpenCV morph)
  # Trying the windows by hand under Xvfb: pointer and keys, screenshots.
  xvfb xdotool
)
if [ "${TARNEL_DEPS_EXTRA:-}" != "" ]; then
  read -r -a extra <<<"$TARNEL_DEPS_EXTRA"
  packages+=("${extra[@]}")
fi
missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0
echo "Installing: ${missing[*]}" >&2
sudo=""
if [ "$(id -u)" -ne 0 ]; then sudo="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq || true
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
