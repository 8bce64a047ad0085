#!/usr/bin/env python3
"""The soak run of scripts/soak.sh: `quorvane stream --raw --control` fed
programme as fast as it takes it, for a number of simulated hours.

Every simulated hour (3600 s of output at 44.1 kHz) it records the output's
range (samples beyond the chain's clamp of +-32760 are out of range), its
RMS level, the largest sample, and the stream's resident memory (VmRSS),
open descriptors (/proc/PID/fd) and threads (/proc/PID/task); then it sends
SIGHUP (the process read again and put on air). Every simulated day it saves
the process on air through the API. A meter stream (/api/meters) stays open
throughout and its frames are counted. The verdict compares hour HOURS with
hour 1: resident memory within 2 MB, descriptors and threads equal."""
import argparse
import warnings

with warnings.catch_warnings():
    warnings.simplefilter("ignore", DeprecationWarning)
    import audioop  # deprecated since 3.11 but there; the hour's figures at C speed
import http.client
import json
import math
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import threading
import time
import wave

RATE = 44100
HOUR_FRAMES = 3600 * RATE
CHUNK_FRAMES = 44100  # one second per write


def proc_figures(pid):
    rss_kb = 0
    with open(f"/proc/{pid}/status") as f:
        for line in f:
            if line.startswith("VmRSS:"):
                rss_kb = int(line.split()[1])
    return rss_kb, len(os.listdir(f"/proc/{pid}/fd")), len(os.listdir(f"/proc/{pid}/task"))


class Meters(threading.Thread):
    """A page's meter stream, read to the end."""

    def __init__(self, port):
        super().__init__(daemon=True)
        self.port = port
        self.frames = 0
        self.error = None

    def run(self):
        self.ended = False
        try:
            conn = http.client.HTTPConnection("127.0.0.1", self.port, timeout=30)
            conn.request("GET", "/api/meters", headers={"Host": f"127.0.0.1:{self.port}"})
            resp = conn.getresponse()
            if resp.status != 200:
                self.error = f"meters: HTTP {resp.status}"
                return
            while True:
                line = resp.fp.readline()
                if not line:
                    if not self.ended:
                        self.error = "the meter stream ended before the run"
                    return
                if line.startswith(b"data:"):
                    self.frames += 1
        except Exception as e:  # noqa: BLE001 - reported in the summary
            self.error = f"meters: {e}"


def post(port, path, body):
    conn = http.client.HTTPConnection("127.0.0.1", port, timeout=30)
    conn.request("POST", path, body=json.dumps(body),
                 headers={"Host": f"127.0.0.1:{port}", "Content-Type": "application/json"})
    resp = conn.getresponse()
    return resp.status, resp.read()


def programme(tool, work):
    path = os.path.join(work, "programme.wav")
    subprocess.run([tool, path], check=True, stdout=subprocess.DEVNULL)
    with wave.open(path) as w:
        assert w.getnchannels() == 2 and w.getsampwidth() == 2 and w.getframerate() == RATE
        return w.readframes(w.getnframes())


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--hours", type=int, default=24)
    ap.add_argument("--tool", required=True)
    ap.add_argument("--programme-tool", required=True)
    args = ap.parse_args()
    work = tempfile.mkdtemp(prefix="quorvane-soak.")
    settings = os.path.join(work, "settings")
    os.makedirs(settings)
    pcm = programme(args.programme_tool, work)
    # Whole seconds of the programme, looped.
    loop_frames = len(pcm) // 4 // RATE * RATE
    pcm = pcm[:loop_frames * 4]

    log = open(os.path.join(work, "stream.log"), "w")
    proc = subprocess.Popen([args.tool, "stream", "--raw", "--control", "0", "--settings-dir", settings],
                            stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=log)
    port = None
    deadline = time.monotonic() + 20
    while port is None and time.monotonic() < deadline:
        time.sleep(0.1)
        with open(log.name) as f:
            for line in f:
                if "http://" in line:
                    port = int(line.split("http://", 1)[1].split("/", 1)[0].rsplit(":", 1)[1])
    if port is None:
        print("the stream did not say where its control listens", file=sys.stderr)
        proc.kill()
        return 1
    meters = Meters(port)
    meters.start()

    rows = []
    stop = threading.Event()

    # Feeds until the last hour has been measured and saved: the stream must
    # still be on air when its figures are taken.
    def feed():
        at = 0
        try:
            while not stop.is_set():
                end = at + CHUNK_FRAMES * 4
                chunk = pcm[at:end] if end <= len(pcm) else pcm[at:] + pcm[:end - len(pcm)]
                at = end % len(pcm)
                proc.stdin.write(chunk)
        except BrokenPipeError:
            pass
        finally:
            proc.stdin.close()

    feeder = threading.Thread(target=feed, daemon=True)
    feeder.start()
    started = time.monotonic()
    hour = 0
    while hour < args.hours:
        peak = 0
        out_of_range = 0
        energy = 0.0
        left = HOUR_FRAMES
        while left > 0:
            data = proc.stdout.read(min(left, CHUNK_FRAMES) * 4)
            if not data:
                break
            frames = len(data) // 4
            left -= frames
            lo, hi = audioop.minmax(data, 2)
            peak = max(peak, -lo, hi)
            out_of_range += sum(1 for x in (lo, hi) if abs(x) > 32760)
            energy += float(audioop.rms(data, 2)) ** 2 * 2 * frames
        if left > 0:
            print(f"the stream ended in hour {hour + 1}", file=sys.stderr)
            break
        hour += 1
        rss, fds, threads = proc_figures(proc.pid)
        level = 10 * math.log10(energy / (2 * HOUR_FRAMES) / 32768.0 ** 2 + 1e-30)
        rows.append((hour, out_of_range == 0, level, 20 * math.log10(max(peak, 1) / 32768.0), rss, fds, threads,
                     meters.frames, time.monotonic() - started))
        r = rows[-1]
        print(f"hour {r[0]:3d}  in range {'yes' if r[1] else 'NO '}  level {r[2]:6.2f} dBFS  peak {r[3]:6.2f} dBFS  "
              f"RSS {r[4] / 1024:7.2f} MB  fds {r[5]:3d}  threads {r[6]:3d}  meter frames {r[7]:6d}  "
              f"({r[8]:.0f} s)", flush=True)
        if hour % 24 == 0:
            status, body = post(port, "/api/save", {"number": 7, "overwrite": True, "name": f"SOAK DAY {hour // 24}"})
            if status != 200:
                print(f"save at hour {hour}: HTTP {status} {body[:200]!r}", file=sys.stderr)
        if hour < args.hours:
            proc.send_signal(signal.SIGHUP)
    stop.set()
    meters.ended = True
    proc.stdout.read()
    rc = proc.wait(timeout=60)
    ok = len(rows) == args.hours and all(r[1] for r in rows) and rc == 0 and meters.error is None
    if rows:
        first, last = rows[0], rows[-1]
        grew = (last[4] - first[4]) / 1024
        ok = ok and abs(grew) <= 2.0 and last[5] == first[5] and last[6] == first[6]
        print(f"hour {last[0]} against hour 1: resident memory {grew:+.2f} MB, descriptors {first[5]} -> {last[5]}, "
              f"threads {first[6]} -> {last[6]}; meter frames {meters.frames} "
              f"({meters.frames / max(last[8], 1e-9):.1f} per wall second); exit {rc}"
              + (f"; {meters.error}" if meters.error else ""))
    saved = os.path.join(settings, "qv$7.dat")
    if args.hours >= 24:
        ok = ok and os.path.isfile(saved)
        print(f"saved process 7 every simulated day: {os.path.getsize(saved) if os.path.isfile(saved) else 'MISSING'} bytes")
    if ok:
        shutil.rmtree(work, ignore_errors=True)
    else:
        print(f"work folder kept: {work}")
    print("PASS" if ok else "FAIL")
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
