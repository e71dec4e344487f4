#!/usr/bin/env bash
# Renders the application icon's PNG sizes from data/icons/net.qorvel.Client.svg
# into data/icons/<size>/ (they are kept in the tree, so a build needs no SVG
# renderer). Run after changing the SVG; needs rsvg-convert (librsvg2-bin).
set -euo pipefail
cd "$(dirname "$0")/../data/icons"
for size in 16 22 24 32 48 64 128 256; do
  mkdir -p "$size"
  rsvg-convert -w "$size" -h "$size" net.qorvel.Client.svg -o "$size/net.qorvel.Client.png"
done
