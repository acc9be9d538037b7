#!/usr/bin/env bash
# Fails when a source folder includes a header of a folder it may not use.
# The table is the layer order of the build (see the top CMakeLists.txt):
# linking only what a layer may use catches calls, this catches the rest
# (inline functions, constants, types).
set -euo pipefail
root=${1:-$(cd "$(dirname "$0")/../.." && pwd)}
cd "$root"

declare -A may_use=(
  [platform]="platform"
  [link]="platform link"
  [discovery]="platform discovery"
  [camera]="platform link discovery camera"
  [sim]="platform link camera sim"
  [ui]="platform link discovery camera ui"
  [winui]="platform link discovery camera winui"
  [app]="platform link discovery camera sim ui winui app"
  [tools]="platform link discovery camera sim tools"
  [python]="platform link discovery camera sim python"
)

bad=0
for folder in "${!may_use[@]}"; do
  [ -d "$folder" ] || continue
  while IFS= read -r hit; do
    file=${hit%%:*}
    used=$(sed -E 's/.*#[[:space:]]*include[[:space:]]*"([^/"]+)\/.*/\1/' <<<"$hit")
    case " ${may_use[$folder]} " in
      *" $used "*) ;;
      *) echo "layer violation: $file includes $used/ (${folder}/ may use: ${may_use[$folder]})"; bad=1 ;;
    esac
  done < <(grep -rnE '^[[:space:]]*#[[:space:]]*include[[:space:]]*"[^/"]+/' "$folder" \
             --include='*.h' --include='*.cpp' || true)
done
# The control ids are the windows' own: a front end that includes them is
# driving a window to reach the board. Besides the windows, only the panel's
# handlers and the demos and benches that drive a window may.
while IFS= read -r file; do
  case "$file" in
    ui/* | winui/* | app/* | bench/* | camera/ControlIds.h | camera/CameraController.cpp | camera/CameraWorker.cpp \
      | camera/ControlTable.cpp | camera/PanelTemplate.h) ;;
    *) echo "control ids: $file includes camera/ControlIds.h (reach the board through the board interface)"; bad=1 ;;
  esac
done < <(grep -rlE '^[[:space:]]*#[[:space:]]*include[[:space:]]*"camera/ControlIds\.h"' . \
           --include='*.h' --include='*.cpp' --exclude-dir=tests --exclude-dir='build*' | sed 's|^\./||' || true)

if [ "$bad" -eq 0 ]; then
  echo "layers: every include stays within its layer"
fi
exit "$bad"
