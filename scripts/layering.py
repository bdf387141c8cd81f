#!/usr/bin/env python3
"""The layers hold: every #include of a room under src/ names a room it may use, from the one
include root ("layer/File.h"), and the rooms without windows include no Qt header.

Usage: scripts/layering.py [SRC]   (default: the src folder beside this script's folder)
Prints each offending line as file:line: reason and exits 1 when there is one.
"""
import pathlib
import re
import sys

# Which rooms each room may include besides itself. A room that is not here fails the check, so
# a new folder comes with its line.
CORE = {"platform", "link", "config", "bus", "monitor", "record"}
QT_BASE = {"platform", "toolkit", "widgets"}
FRONT = CORE | {"operations"} | QT_BASE
MAY_INCLUDE = {
    "platform": set(),
    "link": {"platform"},
    "config": {"platform", "link"},
    "bus": {"platform", "link"},
    "monitor": {"platform", "link"},
    "record": {"platform"},
    "operations": CORE,
    # The plant bridge publishes what the operations report.
    "publish": CORE | {"operations"},
    "cli": CORE | {"operations", "publish"},
    # An independent controller: it shares nothing with the console but the platform.
    "sim": {"platform"},
    # The controller's texts reach the windows through the link's one code-page conversion.
    "toolkit": {"platform", "link"},
    "widgets": {"platform"},
    # Program Options checks the plant broker's settings by the publisher's own rules.
    "dialogs": FRONT | {"publish"},
    "maintenance": FRONT,
    "trend": FRONT,
    # The console's main window over every front-end room; its program starts the built-in simulator.
    "panel": FRONT | {"dialogs", "maintenance", "trend", "sim", "publish"},
}
QT_FREE = {"platform", "link", "monitor", "config", "operations", "record", "bus", "cli", "sim", "publish"}

INCLUDE = re.compile(r'^\s*#\s*include\s*([<"])([^>"]+)[>"]')
QT_HEADER = re.compile(r"^(Q[A-Z]\w*|Qt\w*/.*|Qt\w*)$")


def check(src: pathlib.Path) -> list[str]:
    faults = []
    for room_dir in sorted(p for p in src.iterdir() if p.is_dir()):
        room = room_dir.name
        if room not in MAY_INCLUDE:
            faults.append(f"{room_dir}: room '{room}' has no line in the layering table")
            continue
        allowed = MAY_INCLUDE[room] | {room}
        for path in sorted(room_dir.rglob("*")):
            if path.suffix not in {".h", ".hpp", ".cpp", ".cc"}:
                continue
            for number, line in enumerate(path.read_text(errors="replace").splitlines(), 1):
                match = INCLUDE.match(line)
                if not match:
                    continue
                kind, name = match.groups()
                where = f"{path}:{number}"
                if kind == "<":
                    if room in QT_FREE and QT_HEADER.match(name):
                        faults.append(f"{where}: Qt header <{name}> in '{room}', a room without Qt")
                    continue
                target = name.split("/", 1)[0] if "/" in name else None
                if target is None or target not in MAY_INCLUDE:
                    faults.append(f'{where}: "{name}" is not spelled "layer/File.h" from src/')
                elif target not in allowed:
                    faults.append(f"{where}: '{room}' includes \"{name}\" from '{target}', "
                                  f"a room it may not use (it may use: {', '.join(sorted(allowed))})")
    return faults


def main() -> int:
    src = pathlib.Path(sys.argv[1]) if len(sys.argv) > 1 else pathlib.Path(__file__).resolve().parent.parent / "src"
    faults = check(src)
    for fault in faults:
        print(fault)
    if faults:
        print(f"{len(faults)} include(s) break the layers")
        return 1
    print("layers hold")
    return 0


if __name__ == "__main__":
    sys.exit(main())
