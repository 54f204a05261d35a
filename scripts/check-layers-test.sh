#!/usr/bin/env bash
# Shows that scripts/check-layers.sh refuses what it must: it passes on a copy of src/ and a
# downward include, and fails on copies that each carry one include pointing up the layers (or a
# folder with no place among them), naming the fault.
set -euo pipefail
cd "$(dirname "$0")/.."
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

plant() { # FILE LINE: a fresh copy of src/ with LINE added at the end of FILE
  rm -rf "$tmp/src"
  cp -r src "$tmp/src"
  mkdir -p "$(dirname "$tmp/src/$1")"
  echo "$2" >>"$tmp/src/$1"
}
check() { scripts/check-layers.sh "$tmp/src" >"$tmp/out" 2>&1; }

expect_pass() { # FILE LINE
  plant "$1" "$2"
  if ! check; then
    echo "check-layers-test: refused $2 in $1:"
    cat "$tmp/out"
    exit 1
  fi
}
expect_fail() { # FILE LINE MESSAGE
  plant "$1" "$2"
  if check; then
    echo "check-layers-test: let $2 in $1 through"
    exit 1
  fi
  if ! grep -qF "$3" "$tmp/out"; then
    echo "check-layers-test: $2 in $1 was refused without \"$3\":"
    cat "$tmp/out"
    exit 1
  fi
}

expect_pass ui/app/Tarvolin.cpp '#include "MyMsgDlg.h"'
expect_pass ui/mainwindow/MainZuntSeq.cpp '#include "MyCaptureDlg.h"'
expect_fail ui/dialogs/About.cpp '#include "MainZunt.h"' \
  "ui/dialogs includes MainZunt.h of ui/mainwindow"
expect_fail ui/base/MyMsgDlg.cpp '#include "MyPropDlg.h"' "ui/base includes MyPropDlg.h of ui/dialogs"
expect_fail ui/timeline/MyTimeline.cpp '#include "MySeqDlg.h"' \
  "ui/timeline includes MySeqDlg.h of ui/export"
expect_fail capture/MyCapture.cpp '#include "MyTimelineLink.h"' \
  "capture includes MyTimelineLink.h of ui/mainwindow"
expect_fail model/MyStopList.cpp '#include "MyUiServices.h"' \
  "model includes MyUiServices.h of ui/base"
expect_fail media/waveio.cpp '#include <QWidget>' "media includes Qt Widgets header QWidget"
expect_fail ui/Loose.cpp '#include "MyBase.h"' "ui: folder has no layer here"
echo "check-layers-test: the layer check refuses upward includes"
