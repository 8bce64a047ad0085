#!/usr/bin/env python3
"""Runs one case of quorvane_panel_host under Wine, from a fresh directory.

The case directory holds a copy of the host program (its directory is where
the module keeps the INI and process files), runs on its own Xvfb display
and is killed after --timeout seconds. With --shot DIR the panel's screenshot
is saved as DIR/panel.png (and, with --docs FILE, copied there too).
"""
import argparse
import os
import shutil
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import winecase  # noqa: E402


def take_screenshot(proc, display, case_dir, out_png, timeout):
    ready = os.path.join(case_dir, "panel_ready.txt")
    deadline = time.monotonic() + timeout
    while not os.path.exists(ready):
        if proc.poll() is not None or time.monotonic() > deadline:
            return False
        time.sleep(0.1)
    x, y, w, h = (int(v) for v in open(ready).read().split())
    # Keep the crop on the 1024 x 768 screen.
    x0, y0 = max(x, 0), max(y, 0)
    w, h = min(x + w, 1024) - x0, min(y + h, 768) - y0
    os.makedirs(os.path.dirname(out_png), exist_ok=True)
    try:
        display.screenshot(out_png, (x0, y0, w, h))
    finally:
        open(os.path.join(case_dir, "shot_done.txt"), "w").close()
    return True


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--case", required=True)
    ap.add_argument("--host", required=True)
    ap.add_argument("--module", required=True)
    ap.add_argument("--wine-run", required=True)
    ap.add_argument("--prefix", required=True)
    ap.add_argument("--work", required=True)
    ap.add_argument("--timeout", type=float, default=90)
    ap.add_argument("--shot", help="directory for panel.png")
    ap.add_argument("--docs", help="also copy the screenshot to this file")
    args = ap.parse_args()

    case_dir = winecase.fresh_dir(os.path.join(args.work, args.case))
    exe = os.path.join(case_dir, os.path.basename(args.host))
    shutil.copy(args.host, exe)
    case_args = [args.case, os.path.abspath(args.module)] + (["--shot"] if args.shot else [])
    started = time.monotonic()
    with winecase.Display() as display:
        proc = winecase.start(args.wine_run, exe, case_args, case_dir, args.prefix, display)
        shot_ok = True
        if args.shot:
            out_png = os.path.join(args.shot, "panel.png")
            shot_ok = take_screenshot(proc, display, case_dir, out_png, args.timeout)
        rc, out = winecase.finish(proc, max(1.0, args.timeout - (time.monotonic() - started)))
    print(out, end="")
    if args.shot:
        print(f"{'ok' if shot_ok else 'FAIL'}: screenshot {os.path.join(args.shot, 'panel.png')}")
        if shot_ok and args.docs:
            shutil.copy(os.path.join(args.shot, "panel.png"), args.docs)
    print(f"case {args.case}: exit {rc}, {time.monotonic() - started:.1f} s")
    return 0 if rc == 0 and shot_ok else 1


if __name__ == "__main__":
    sys.exit(main())
