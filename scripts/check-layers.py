#!/usr/bin/env python3
"""Fails when a source file includes a header from a layer it may not use.

The engine (core/) is below everything; inside it, each folder may use only the folders named for it
(core/image never uses core/capture: a capture makes images, not the other way round). The desktop
program is layered widgets < preview < ui < app; lumiclip-cli, lumiclip-serve and the benchmark
stand on the engine alone. Run from anywhere: check-layers.py [SOURCE_DIR]. Prints each wrong
include; exit status 1 if any.
"""
import pathlib
import re
import sys

ENGINE = {
    "cdp": {"cdp"},
    "browser": {"browser", "cdp"},
    "image": {"image"},
    "settings": {"settings"},
    "preview": {"preview"},
    "upgrade": {"upgrade"},
    "capture": {"capture", "cdp", "browser", "image"},
    "engine": {"engine", "capture", "cdp", "browser", "image", "settings"},
}
DESKTOP = ["widgets", "preview", "ui", "app"]
OTHERS = {"cli": {"cli"}, "serve": {"serve"}, "bench": {"bench"}}
INCLUDE = re.compile(r'^\s*#\s*include\s+"([a-z_]+)/(?:([a-z_]+)/)?[^"]*"', re.MULTILINE)


def allowed(folder, sub, target, target_sub):
    if folder == "core":
        return target == "core" and target_sub in ENGINE.get(sub, set())
    if target == "core":
        return True
    if folder in DESKTOP:
        return target in DESKTOP and DESKTOP.index(target) <= DESKTOP.index(folder)
    return target in OTHERS.get(folder, set())


def main():
    root = pathlib.Path(sys.argv[1] if len(sys.argv) > 1 else pathlib.Path(__file__).resolve().parent.parent)
    wrong = []
    for folder in ["core", "cli", "serve", "bench"] + DESKTOP:
        for path in sorted((root / folder).rglob("*")):
            if path.suffix not in (".h", ".cpp"):
                continue
            parts = path.relative_to(root).parts
            sub = parts[1] if folder == "core" and len(parts) > 2 else ""
            for match in INCLUDE.finditer(path.read_text(encoding="utf-8")):
                target, target_sub = match.group(1), match.group(2) or ""
                if target not in ENGINE and target not in ("core", "cli", "serve", "bench") and target not in DESKTOP:
                    continue  # not one of ours
                if not allowed(folder, sub, target, target_sub):
                    header = match.group(0).split('"')[1]
                    wrong.append(f"{path.relative_to(root)}: includes {header}")
    for line in wrong:
        print(f"check-layers: {line}")
    return 1 if wrong else 0


if __name__ == "__main__":
    sys.exit(main())
