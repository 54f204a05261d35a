#!/usr/bin/env bash
# Fails when a file under src/ includes a header of a higher layer, or when engine or platform
# code includes Qt Widgets. Includes name bare file names, so each one is resolved to the folder
# of src/ that holds that header. The window folders (each sub-folder of src/ui, and src/capture)
# are layers of their own, in one order above the engine:
#   platform <- common <- media <- model <-> addons
#     <- ui/base <- ui/dialogs <- ui/timeline <- ui/export <- capture <- ui/mainwindow <- ui/app
# Usage: scripts/check-layers.sh [SRC]   (SRC defaults to the tree's src/)
set -euo pipefail
cd "$(dirname "$0")/.."
exec python3 - "$@" <<'PY'
import pathlib, re, sys

# The folders each layer may include from (its own folder is always allowed).
ALLOWED = {
    "platform": {"platform"},
    "common": {"platform", "common"},
    "media": {"platform", "common", "media"},
    "model": {"platform", "common", "media", "model", "addons"},
    "addons": {"platform", "common", "media", "model", "addons"},
}
# The window folders from the bottom up: each includes from the engine and from those below it.
WINDOWS = ["ui/base", "ui/dialogs", "ui/timeline", "ui/export", "capture", "ui/mainwindow",
           "ui/app"]
for i, folder in enumerate(WINDOWS):
    ALLOWED[folder] = ALLOWED["addons"] | set(WINDOWS[:i + 1])
src = pathlib.Path(sys.argv[1] if len(sys.argv) > 1 else "src")
def layer_of(path):
    parts = path.relative_to(src).parts
    # src/ui holds only folders of windows; each one is a layer.
    return "/".join(parts[:2]) if parts[0] == "ui" and len(parts) > 2 else parts[0]

home = {}
folders = {}
for header in src.glob("*/**/*.h"):
    home.setdefault(header.name, set()).add(layer_of(header))
    folders.setdefault(header.name, set()).add(str(header.parent.relative_to(src)))
# Engine and platform code never include Qt Widgets: they must run without a display.
WIDGETS_FREE = {"platform", "common", "media", "model", "addons"}
widgets = {h.name for d in pathlib.Path("/usr/include").glob("*/qt6/QtWidgets") for h in d.iterdir()}
clashes = {name: dirs for name, dirs in folders.items() if len(dirs) > 1}
include = re.compile(r'^\s*#\s*include\s*(?:"([^"]+)"|<([^>]+)>)')
bad = 0
for name, dirs in sorted(clashes.items()):
    print(f"{name}: one header name in several folders ({', '.join(sorted(dirs))})")
    bad += 1
for folder in sorted({layer_of(p) for p in src.glob("*/**/*") if p.suffix in (".h", ".cpp")}):
    if folder not in ALLOWED:
        print(f"{src}/{folder}: folder has no layer here")
        bad += 1
for path in sorted(src.glob("*/**/*")):
    layer = layer_of(path)
    if path.suffix not in (".h", ".cpp") or layer not in ALLOWED:
        continue
    for number, line in enumerate(path.read_text(errors="replace").splitlines(), 1):
        m = include.match(line)
        if m and m.group(2) and layer in WIDGETS_FREE and (
                m.group(2).startswith("QtWidgets/") or m.group(2) in widgets):
            print(f"{path}:{number}: {layer} includes Qt Widgets header {m.group(2)}")
            bad += 1
            continue
        # A quoted include may carry a relative path; an angle one is ours only when bare.
        name = m and (pathlib.PurePath(m.group(1)).name if m.group(1) else m.group(2))
        if name not in home:
            continue
        target = next(iter(home[name]))
        if target not in ALLOWED[layer]:
            print(f"{path}:{number}: {layer} includes {name} of {target}")
            bad += 1
if bad:
    print(f"check-layers: {bad} problem(s); includes must point down the layers")
    sys.exit(1)
PY
