#!/usr/bin/env python3
"""The control page in a real headless Chromium, driven through the DevTools
protocol over a pipe: the page loads, the meters move, dragging a slider
changes /api/state. Saves screenshots to $QUORVANE_ARTIFACTS."""
import base64
import json
import os
import shutil
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from web_rig import Stream, request, write_tone  # noqa: E402

SKIP = 77


class DevTools:
    """Chromium with --remote-debugging-pipe: requests on fd 3, replies on fd 4,
    each JSON message ended by a NUL byte."""

    def __init__(self, browser, profile):
        to_browser_r, self.to_browser = os.pipe()
        self.from_browser, from_browser_w = os.pipe()
        fds = {3: to_browser_r, 4: from_browser_w}

        # Python's own descriptors are close-on-exec; only 3 and 4 reach the
        # browser (dup2 onto itself keeps the flag, hence set_inheritable).
        def child_fds():
            for target, fd in fds.items():
                os.dup2(fd, target)
                os.set_inheritable(target, True)

        self.proc = subprocess.Popen(
            [browser, "--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
             "--disable-background-networking", "--disable-component-update", "--disable-sync",
             "--disable-dev-shm-usage", f"--user-data-dir={profile}", "--remote-debugging-pipe", "about:blank"],
            stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
            preexec_fn=child_fds, close_fds=False)
        os.close(to_browser_r)
        os.close(from_browser_w)
        self.buf = b""
        self.next_id = 0
        self.session = None

    def call(self, method, params=None, session=True, timeout=20):
        self.next_id += 1
        msg = {"id": self.next_id, "method": method, "params": params or {}}
        if session and self.session:
            msg["sessionId"] = self.session
        os.write(self.to_browser, json.dumps(msg).encode() + b"\0")
        deadline = time.time() + timeout
        while time.time() < deadline:
            while b"\0" in self.buf:
                raw, self.buf = self.buf.split(b"\0", 1)
                reply = json.loads(raw)
                if reply.get("id") == self.next_id:
                    if "error" in reply:
                        raise RuntimeError(f"{method}: {reply['error']}")
                    return reply["result"]
            chunk = os.read(self.from_browser, 1 << 16)
            if not chunk:
                raise RuntimeError("the browser closed its pipe")
            self.buf += chunk
        raise TimeoutError(method)

    def open(self, url, width, height, mobile=False):
        target = self.call("Target.createTarget", {"url": "about:blank"}, session=False)["targetId"]
        self.session = self.call("Target.attachToTarget", {"targetId": target, "flatten": True},
                                 session=False)["sessionId"]
        self.call("Emulation.setDeviceMetricsOverride",
                  {"width": width, "height": height, "deviceScaleFactor": 1, "mobile": mobile})
        self.call("Page.enable")
        self.call("Page.navigate", {"url": url})

    def eval(self, expression):
        r = self.call("Runtime.evaluate", {"expression": expression, "returnByValue": True})
        return r["result"].get("value")

    def wait_for(self, expression, timeout=10):
        deadline = time.time() + timeout
        while time.time() < deadline:
            v = self.eval(expression)
            if v:
                return v
            time.sleep(0.1)
        raise TimeoutError(expression)

    def mouse(self, kind, x, y, buttons):
        self.call("Input.dispatchMouseEvent",
                  {"type": kind, "x": x, "y": y, "button": "left", "buttons": buttons, "clickCount": 1})

    def screenshot(self, path):
        data = self.call("Page.captureScreenshot", {"format": "png", "captureBeyondViewport": True})["data"]
        with open(path, "wb") as f:
            f.write(base64.b64decode(data))

    def close(self):
        try:
            self.call("Browser.close", session=False, timeout=5)
        except Exception:
            pass
        try:
            self.proc.wait(timeout=5)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            self.proc.wait()


def main():
    browser = shutil.which("chromium")
    if browser is None:
        print("chromium is not installed (scripts/install-deps.sh installs it)")
        return SKIP
    artifacts = os.environ.get("QUORVANE_ARTIFACTS", "build/native/artifacts")
    os.makedirs(artifacts, exist_ok=True)
    work = tempfile.mkdtemp(prefix="qv-webpanel-")
    tone = os.path.join(work, "tone.wav")
    write_tone(tone, 9.0)
    os.mkdir(os.path.join(work, "settings"))
    stream = Stream(work, tone, os.path.join(work, "out.wav"), ["--settings-dir", os.path.join(work, "settings")])
    dt = DevTools(browser, os.path.join(work, "profile"))
    try:
        port = stream.port
        dt.open(f"http://127.0.0.1:{port}/", 1000, 560)
        # Meters move: frames arrive and the output bar fills.
        dt.wait_for("Number(document.body.dataset.frames || 0) >= 5")
        heights = dt.eval("['in','out','band0'].map(m => "
                          "document.querySelector(`[data-meter=\"${m}\"]`).getBoundingClientRect().height)")
        assert heights[1] > 10, heights
        assert dt.eval("document.getElementById('process-name').textContent") == "DEFAULT"

        # Drag the Output level slider from its end (100 %) to about a third.
        rect = dt.wait_for("(() => { const r = document.querySelector('input[data-control=\"output_level_pct\"]')"
                           ".getBoundingClientRect(); return r.width > 0 && [r.left, r.top, r.width, r.height]; })()")
        left, top, width, height = rect
        y = top + height / 2
        dt.mouse("mousePressed", left + width - 4, y, 1)
        for i in range(1, 11):
            dt.mouse("mouseMoved", left + width - 4 - i * (0.65 * width) / 10, y, 1)
        dt.mouse("mouseReleased", left + 0.35 * width, y, 0)
        deadline, level = time.time() + 5, 100
        while time.time() < deadline and level >= 60:
            level = request(port, "GET", "/api/state")[1]["controls"]["output_level_pct"]
            time.sleep(0.1)
        assert 20 <= level < 60, level
        assert request(port, "GET", "/api/state")[1]["process"]["modified"]
        dt.wait_for("document.getElementById('modified').classList.contains('on')")

        time.sleep(0.5)
        dt.screenshot(os.path.join(artifacts, "web_panel.png"))
        dt.call("Emulation.setDeviceMetricsOverride", {"width": 390, "height": 844, "deviceScaleFactor": 1,
                                                       "mobile": True})
        time.sleep(0.3)
        assert dt.eval("document.documentElement.scrollWidth <= 390"), "the page scrolls sideways on a phone"
        dt.screenshot(os.path.join(artifacts, "web_panel_phone.png"))
        print("screenshots in", artifacts)
        return 0
    finally:
        dt.close()
        stream.stop()
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
