#!/usr/bin/env bash
# Installs the Debian packages that building and testing Ravelo needs, when
# they are missing. Safe to run again; asks nothing.
set -euo pipefail

# dvdauthor: the tests check that DVD authoring accepts the program streams.
packages=(cmake ninja-build g++ pkg-config qt6-base-dev libqt6svg6-dev libgtest-dev libgmock-dev ffmpeg
  # H.264 and HEVC pictures are decoded with FFmpeg's libraries
  libavcodec-dev libavutil-dev
  # the installed desktop entry, metainfo, MIME types and manual pages are checked with these
  desktop-file-utils appstream xdg-utils libglib2.0-bin shared-mime-info man-db
  dvdauthor)
if [[ "${1:-}" == "--gui" ]]; then
  packages+=(xvfb xauth)
fi

missing=()
for p in "${packages[@]}"; do
  dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
done
if ((${#missing[@]})); then
  sudo=""
  [[ $(id -u) -ne 0 ]] && sudo="sudo"
  echo "Installing: ${missing[*]}"
  $sudo apt-get update
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y --no-install-recommends "${missing[@]}"
fi
