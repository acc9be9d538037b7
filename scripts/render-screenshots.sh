#!/usr/bin/env bash
# Renders docs/panel.png, docs/about.png and docs/panel-traffic.png (the
# traffic pane against the simulated board, one fault on) and
# docs/panel-registers.png (the register view after a comparison) and docs/panel-plot.png
# (the plot, broken where reads failed) from the built window under a
# virtual X server. Usage: scripts/render-screenshots.sh [BUILD_DIR]
set -euo pipefail

root="$(cd "$(dirname "$0")/.." && pwd)"
build="${1:-$root/build}"
render="$build/tests/ui/ui_render"

if [ ! -x "$render" ]; then
  echo "render-screenshots: build ui_render first: cmake --build $build --target ui_render" >&2
  exit 1
fi

mkdir -p "$root/docs"
# A fixed screen, so pictures from different machines compare.
XDG_RUNTIME_DIR="${XDG_RUNTIME_DIR:-$(mktemp -d)}" \
  xvfb-run -a -s "-screen 0 1280x1024x24 -dpi 96" "$render" "$root/docs"
