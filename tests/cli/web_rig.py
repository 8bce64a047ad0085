"""A running `quorvane stream --control` fed in real time by ffmpeg, and a
small HTTP client for its API (standard library only)."""
import array
import http.client
import json
import os
import re
import subprocess
import time
import wave

CLI = os.environ.get("QUORVANE_CLI", "build/native/quorvane")


def write_tone(path, seconds, amplitude=0.5, freq=440.0):
    """A stereo 44.1 kHz 16-bit sine (left) and its half (right)."""
    import math
    n = int(seconds * 44100)
    samples = array.array("h")
    for i in range(n):
        v = int(amplitude * 32767 * math.sin(2 * math.pi * freq * i / 44100))
        samples.append(v)
        samples.append(v // 2)
    with wave.open(path, "wb") as w:
        w.setnchannels(2)
        w.setsampwidth(2)
        w.setframerate(44100)
        w.writeframes(samples.tobytes())


def read_samples(path):
    with wave.open(path) as w:
        return array.array("h", w.readframes(w.getnframes()))


class Stream:
    """ffmpeg -re IN | quorvane stream --control 127.0.0.1:0 ARGS > OUT."""

    def __init__(self, workdir, tone, out, args=(), control="127.0.0.1:0"):
        self.err_path = os.path.join(workdir, os.path.basename(out) + ".err")
        self.out = out
        self.feed = subprocess.Popen(
            ["ffmpeg", "-loglevel", "error", "-re", "-i", tone, "-f", "wav", "-c:a", "pcm_s16le", "-"],
            stdout=subprocess.PIPE, stdin=subprocess.DEVNULL)
        with open(out, "wb") as o, open(self.err_path, "wb") as e:
            self.proc = subprocess.Popen([CLI, "stream", "--control", control, *args],
                                         stdin=self.feed.stdout, stdout=o, stderr=e)
        self.feed.stdout.close()
        self.port = None
        deadline = time.time() + 10
        while time.time() < deadline and self.port is None:
            with open(self.err_path) as f:
                m = re.search(r"control panel at http://[^ ]*:(\d+)/", f.read())
            if m:
                self.port = int(m.group(1))
            elif self.proc.poll() is not None:
                break
            else:
                time.sleep(0.05)
        if self.port is None:
            raise RuntimeError("no control address: " + open(self.err_path).read())

    def wait(self):
        self.feed.wait(timeout=60)
        return self.proc.wait(timeout=30)

    def stop(self):
        for p in (self.feed, self.proc):
            if p.poll() is None:
                p.kill()
                p.wait()


def request(port, method, path, body=None, headers=None, raw=None):
    """(status, parsed JSON or text, headers) of one request."""
    h = {"Host": f"127.0.0.1:{port}"}
    if body is not None:
        raw = json.dumps(body)
    if raw is not None:
        h["Content-Type"] = "application/json"
    h.update(headers or {})
    c = http.client.HTTPConnection("127.0.0.1", port, timeout=10)
    c.putrequest(method, path, skip_host=True, skip_accept_encoding=True)
    for k, v in h.items():
        c.putheader(k, v)
    data = raw.encode() if isinstance(raw, str) else raw
    if data is not None:
        c.putheader("Content-Length", str(len(data)))
    c.endheaders(data)
    r = c.getresponse()
    text = r.read().decode("utf-8", "replace")
    c.close()
    try:
        return r.status, json.loads(text), r
    except ValueError:
        return r.status, text, r


def meter_frames(port, seconds, headers=None):
    """The meter frames of one stream read for about `seconds`."""
    c = http.client.HTTPConnection("127.0.0.1", port, timeout=5)
    c.request("GET", "/api/meters", headers=headers or {})
    r = c.getresponse()
    assert r.status == 200, r.status
    assert r.getheader("Content-Type").startswith("text/event-stream")
    frames, buf, end = [], b"", time.time() + seconds
    while time.time() < end:
        buf += r.read1(4096)
        while b"\n\n" in buf:
            block, buf = buf.split(b"\n\n", 1)
            lines = block.decode().split("\n")
            if any(l.startswith("event:") for l in lines):
                continue
            for l in lines:
                if l.startswith("data:"):
                    frames.append(json.loads(l[5:]))
    c.close()
    return frames
