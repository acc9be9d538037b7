#!/usr/bin/env bash
# The layer check must refuse what it is there to refuse: a copy of its
# table's folders with one upward include planted at a time, each of which
# must fail it and be named; the clean copy must pass.
set -uo pipefail
check=$(cd "$(dirname "$0")" && pwd)/check-layers.sh
tree=$(mktemp -d)
trap 'rm -rf "$tree"' EXIT

plant() { # FOLDER/FILE LINE
  mkdir -p "$tree/$(dirname "$1")"
  printf '%s\n' "$2" >"$tree/$1"
}

# A clean tree: each folder includes only what it may use.
reset() {
  rm -rf "${tree:?}"/*
  plant platform/Clock.h '#include "platform/Platform.h"'
  plant link/FrameLink.cpp '#include "platform/Platform.h"'
  plant camera/CameraController.cpp '#include "link/FrameLink.h"'
  plant ui/PelvarDlg.cpp '#include "camera/CameraController.h"'
  plant camera/ControlTable.cpp '#include "camera/ControlIds.h"'
  plant tools/pelvarctl/CtlRunner.cpp '#include "sim/SimBoard.h"'
  plant python/Board.cpp '#include "sim/SimBoard.h"'
}

failures=0
reset
if ! out=$(bash "$check" "$tree"); then
  echo "FAIL: the clean tree was refused: $out"
  failures=$((failures + 1))
fi

while IFS='|' read -r file line folder used; do
  reset
  plant "$file" "$line"
  out=$(bash "$check" "$tree")
  status=$?
  want="layer violation: $file includes $used/ ($folder/ may use:"
  if [ "$status" -eq 0 ] || [[ "$out" != *"$want"* ]]; then
    echo "FAIL: $file with '$line': status $status, output: $out"
    failures=$((failures + 1))
  fi
done <<'ROWS'
camera/Worker.cpp|#include "ui/PelvarDlg.h"|camera|ui
platform/Port.h|#  include "link/FrameLink.h"|platform|link
link/Log.cpp|	#include "camera/Commands.h"|link|camera
sim/Board.h|#include "discovery/PortList.h"|sim|discovery
tools/pelvarctl/Verb.cpp|#include "ui/TrafficPane.h"|tools|ui
ui/Pane.cpp|#include "winui/PelvarDlg.h"|ui|winui
python/Board.h|#include "ui/PelvarDlg.h"|python|ui
python/BindSim.cpp|#include "tools/pelvarctl/CtlRunner.h"|python|tools
camera/Session.cpp|#include "python/Board.h"|camera|python
ROWS

# A front end that includes the control ids is refused by name.
for file in tools/pelvarctl/RegVerbs.cpp python/Board.cpp camera/Diagnosis.cpp; do
  reset
  plant "$file" '#include "camera/ControlIds.h"'
  out=$(bash "$check" "$tree")
  status=$?
  if [ "$status" -eq 0 ] || [[ "$out" != *"control ids: $file includes camera/ControlIds.h"* ]]; then
    echo "FAIL: $file with the control ids: status $status, output: $out"
    failures=$((failures + 1))
  fi
done

if [ "$failures" -eq 0 ]; then
  echo "layers: every planted upward include was refused"
fi
exit "$failures"
