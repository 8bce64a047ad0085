#!/usr/bin/env python3
"""CPU cost of the browser control while N headless Chromium pages watch a
real-time `quorvane stream --control`: CPU time of the server's threads and
the station monitor's (loudness, alarms; counted with the server's and shown
alone) against the processing thread's (the main thread), from /proc.

    QUORVANE_CLI=build/native/quorvane python3 bench/web_control_load.py [BROWSERS] [SECONDS]
"""
import os
import shutil
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "cli"))
from web_panel_test import DevTools  # noqa: E402
from web_rig import Stream, write_tone  # noqa: E402

TICKS = os.sysconf("SC_CLK_TCK")


def thread_ticks(pid):
    """{tid: utime + stime in clock ticks} of every thread of pid."""
    out = {}
    for tid in os.listdir(f"/proc/{pid}/task"):
        with open(f"/proc/{pid}/task/{tid}/stat") as f:
            fields = f.read().rsplit(")", 1)[1].split()
        out[int(tid)] = int(fields[11]) + int(fields[12])
    return out


def thread_name(pid, tid):
    try:
        with open(f"/proc/{pid}/task/{tid}/comm") as f:
            return f.read().strip()
    except OSError:
        return ""


def measure(pid, seconds):
    """CPU seconds of (the processing thread, the server's and monitor's
    threads together, the monitor's alone: loudness and alarms)."""
    a = thread_ticks(pid)
    time.sleep(seconds)
    b = thread_ticks(pid)
    main = b[pid] - a.get(pid, 0)
    server = sum(v - a.get(t, 0) for t, v in b.items() if t != pid)
    monitor = sum(v - a.get(t, 0) for t, v in b.items() if thread_name(pid, t) == "qv-monitor")
    return main / TICKS, server / TICKS, monitor / TICKS


def main():
    browsers = int(sys.argv[1]) if len(sys.argv) > 1 else 4
    seconds = float(sys.argv[2]) if len(sys.argv) > 2 else 20.0
    work = tempfile.mkdtemp(prefix="qv-webload-")
    tone = os.path.join(work, "tone.wav")
    write_tone(tone, 2 * seconds + 10)
    os.mkdir(os.path.join(work, "s"))
    stream = Stream(work, tone, os.path.join(work, "out.wav"), ["--settings-dir", os.path.join(work, "s")])
    pages = []
    try:
        time.sleep(1)
        idle_main, idle_server, idle_monitor = measure(stream.proc.pid, seconds / 2)
        for i in range(browsers):
            dt = DevTools(shutil.which("chromium"), os.path.join(work, f"profile{i}"))
            dt.open(f"http://127.0.0.1:{stream.port}/", 1000, 560)
            dt.wait_for("Number(document.body.dataset.frames || 0) >= 3")
            pages.append(dt)
        rates = [dt.eval("Number(document.body.dataset.frames)") for dt in pages]
        busy_main, busy_server, busy_monitor = measure(stream.proc.pid, seconds)
        rates = [(dt.eval("Number(document.body.dataset.frames)") - r) / seconds for dt, r in zip(pages, rates)]
        print(f"no browser:  processing {idle_main:.2f} s, server and monitor {idle_server:.2f} s "
              f"(monitor {idle_monitor:.2f} s) CPU in {seconds / 2:.0f} s "
              f"({100 * idle_server / max(idle_main, 1e-9):.1f} % of processing)")
        print(f"{browsers} browsers: processing {busy_main:.2f} s, server and monitor {busy_server:.2f} s "
              f"(monitor {busy_monitor:.2f} s) CPU in {seconds:.0f} s "
              f"({100 * busy_server / max(busy_main, 1e-9):.1f} % of processing, "
              f"{100 * busy_server / seconds:.2f} % of one core)")
        print("meter frames per second seen by each page:", ", ".join(f"{r:.1f}" for r in rates))
    finally:
        for dt in pages:
            dt.close()
        stream.stop()
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
