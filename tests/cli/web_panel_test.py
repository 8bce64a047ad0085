#!/usr/bin/env python3
"""The control page in a real headless Chromium, driven through the DevTools
protocol over a pipe, against a stream fed in real time (silence, programme,
silence): the meters move; every stage reaches exactly the parameter table's
names; a band parameter changed from the keyboard during the silence gives
the samples of `--set`; the loudness shown agrees with ffmpeg's ebur128; Load
and Save ask before they replace anything. Saves screenshots to
$QUORVANE_ARTIFACTS."""
import array
import base64
import json
import math
import os
import random
import re
import shutil
import socket
import subprocess
import sys
import tempfile
import time
import wave

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from web_rig import CLI, Stream, read_samples, request  # noqa: E402

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

    def key(self, key, code=None, vk=0, shift=False):
        for kind in ("keyDown", "keyUp"):
            self.call("Input.dispatchKeyEvent", {"type": kind, "key": key, "code": code or key,
                                                 "windowsVirtualKeyCode": vk, "modifiers": 8 if shift else 0})

    def click(self, selector):
        self.eval(f"document.querySelector({json.dumps(selector)}).click()")

    def screenshot(self, path):
        # The whole page at the viewport's width (without the clip the capture
        # keeps the width less the scroll bar while the page lays out without one).
        w, h = self.eval("[window.innerWidth, document.documentElement.scrollHeight]")
        data = self.call("Page.captureScreenshot", {"format": "png", "captureBeyondViewport": True,
                                                    "clip": {"x": 0, "y": 0, "width": w, "height": h,
                                                             "scale": 1}})["data"]
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


SILENCE_S, PROGRAMME_S, TAIL_S = 12.0, 8.0, 7.0
BAND_WORD, BAND_VALUE = "section.2.0.band_gain_db10", -120  # band 3's gain, to its lowest


def write_programme(path):
    """Stereo silence, then tones and noise under a slow swell, then silence."""
    rng = random.Random(7)
    frames = array.array("h", bytes(int(SILENCE_S * 44100) * 4))
    for i in range(int(PROGRAMME_S * 44100)):
        t = i / 44100
        swell = 0.25 + 0.2 * math.sin(2 * math.pi * 0.5 * t)
        v = swell * (0.5 * math.sin(2 * math.pi * 110 * t) + 0.3 * math.sin(2 * math.pi * 1000 * t) +
                     0.2 * math.sin(2 * math.pi * 5000 * t) + 0.3 * (rng.random() - 0.5))
        frames.append(int(v * 32767))
        frames.append(int(v * 24000))
    frames.extend(array.array("h", bytes(int(TAIL_S * 44100) * 4)))
    with wave.open(path, "wb") as w:
        w.setnchannels(2)
        w.setsampwidth(2)
        w.setframerate(44100)
        w.writeframes(frames.tobytes())


def ebur128(path, start_frame):
    """(integrated LUFS, true peak dBTP) of path from start_frame on, as ffmpeg measures them."""
    r = subprocess.run(["ffmpeg", "-nostats", "-hide_banner", "-i", path, "-af",
                        f"atrim=start_sample={start_frame},ebur128=peak=true", "-f", "null", "-"],
                       capture_output=True, text=True, check=True)
    summary = r.stderr[r.stderr.rindex("Summary:"):]
    return (float(re.search(r"I:\s+(-?[\d.]+) LUFS", summary).group(1)),
            float(re.search(r"Peak:\s+(-?[\d.]+) dBFS", summary).group(1)))


def stored_process(settings, number, *assignments):
    path = os.path.join(settings, f"qv${number}.dat")
    subprocess.run([CLI, "preset", "defaults", path], check=True, capture_output=True)
    subprocess.run([CLI, "preset", "set", path, *assignments], check=True, capture_output=True)


def check_stages(dt, params):
    """Every stage's fieldset, in the table's order, reaches through its band
    and section selectors exactly the table's names of that stage."""
    assert dt.eval("[...document.querySelectorAll('#stages > fieldset')].map(f => f.dataset.stage)") == \
        params["stages"]
    for stage in params["stages"]:
        want = {p["name"] for p in params["params"] if p["stage"] == stage and p["kind"] != "bits"}
        if stage == "output":
            want.add("test_tone")
        box = f"#stages > fieldset[data-stage={json.dumps(stage)}]"
        seen = set()
        bands = [b["band"] for b in params["bands"] if b["stage"] == stage] or [None]
        for band in bands:
            for section in range(len(params["sections"])) if band is not None else [None]:
                if band is not None:
                    dt.click(f'{box} [data-select="{stage} band:{band}"]')
                    dt.click(f'{box} [data-select="{stage} section:{section}"]')
                seen |= set(dt.eval(f"[...document.querySelectorAll('{box} [data-control]')]"
                                    ".map(e => e.dataset.control)"))
        assert seen == want, (stage, sorted(seen ^ want))


def check_keyboard(dt):
    """Tab walks the enabled controls in the page's order; an arrow key moves a slider."""
    order = dt.eval("(list => { list[0].focus(); return list.slice(0, 60).map(e => e.dataset.control || "
                    "e.dataset.select || e.id); })([...document.querySelectorAll('button, input, select')]"
                    ".filter(e => !e.disabled && e.getClientRects().length && !e.closest('dialog')))")
    tabbed = [order[0]]
    for _ in range(len(order) - 1):
        dt.key("Tab", vk=9)
        tabbed.append(dt.eval("(e => e.dataset.control || e.dataset.select || e.id)(document.activeElement)"))
    assert tabbed == order, (tabbed, order)
    dt.eval("document.querySelector('input[data-control=clip_drive]').focus()")
    dt.key("ArrowRight", vk=39)
    dt.key("ArrowRight", vk=39)


def change_band_gain(dt, port):
    dt.click('[data-select="multiband band:2"]')
    dt.click('[data-select="multiband section:0"]')
    dt.eval(f"document.querySelector('input[data-control=\"{BAND_WORD}\"]').focus()")
    dt.key("Home", vk=36)
    wait_state(port, lambda s: s["controls"][BAND_WORD] == BAND_VALUE)
    dt.wait_for("!document.getElementById('modified').hidden")


def wait_state(port, ok, timeout=5):
    deadline = time.time() + timeout
    while time.time() < deadline:
        s = request(port, "GET", "/api/state")[1]
        if ok(s):
            return s
        time.sleep(0.1)
    raise TimeoutError(request(port, "GET", "/api/state")[1])


def answer(dt, ok, must_mention):
    """Answers the confirmation the page shows, after checking what it says."""
    text = dt.wait_for("document.getElementById('confirm').open && document.getElementById('confirm-text')"
                       ".textContent")
    assert must_mention in text, text
    dt.click("#confirm-ok" if ok else "#confirm-cancel")
    dt.wait_for("!document.getElementById('confirm').open")


def file_bytes(path):
    with open(path, "rb") as f:
        return f.read()


def check_load_save(dt, port, settings):
    """Save proposes what is on air and asks before replacing it; Load asks
    before replacing a modified process, and not otherwise."""
    assert dt.eval("[document.getElementById('save-number').value, document.getElementById('save-name').value]") \
        == ["4", "ON AIR"]
    stored = file_bytes(os.path.join(settings, "qv$4.dat"))
    dt.click("#save")
    answer(dt, False, "Process 4 \u201cON AIR\u201d is stored")
    assert file_bytes(os.path.join(settings, "qv$4.dat")) == stored
    dt.click("#save")
    answer(dt, True, "Replace it")
    wait_state(port, lambda s: not s["process"]["modified"])
    assert file_bytes(os.path.join(settings, "qv$4.dat")) != stored
    dt.wait_for("document.getElementById('modified').hidden")

    request(port, "POST", "/api/controls", {"clip_drive": 50})
    dt.wait_for("!document.getElementById('modified').hidden", timeout=5)
    dt.eval("(s => { s.value = '2'; s.dispatchEvent(new Event('change')); })(document.getElementById('processes'))")
    dt.click("#load")
    answer(dt, False, "not saved")
    assert request(port, "GET", "/api/state")[1]["process"] == {"number": 4, "name": "ON AIR", "modified": True}
    dt.click("#load")
    answer(dt, True, "Load 2 \u201cOTHER\u201d")
    wait_state(port, lambda s: s["process"]["number"] == 2)
    dt.wait_for("document.getElementById('processes').value === '2' && "
                "document.getElementById('save-name').value === 'OTHER'")
    # Not modified: Load goes ahead without asking.
    dt.eval("(s => { s.value = '4'; s.dispatchEvent(new Event('change')); })(document.getElementById('processes'))")
    dt.click("#load")
    wait_state(port, lambda s: s["process"]["number"] == 4)
    assert not dt.eval("document.getElementById('confirm').open")


def check_token_page(dt, work, programme):
    """A page without the token says it waits for one, not that it reconnects,
    and goes live once it is given."""
    token_file = os.path.join(work, "token")
    stream = Stream(work, programme, os.path.join(work, "token.wav"),
                    ["--settings-dir", os.path.join(work, "settings"), "--control-token", token_file])
    try:
        dt.open(f"http://127.0.0.1:{stream.port}/", 1000, 700)
        dt.wait_for("document.getElementById('link').textContent === 'waiting for the token'")
        time.sleep(1.5)  # a retry later, it still says so
        assert dt.eval("document.getElementById('link').textContent") == "waiting for the token"
        with open(token_file) as f:
            token = f.read().strip()
        dt.eval(f"document.getElementById('token').value = {json.dumps(token)}; "
                "document.querySelector('#token-form button').click()")
        dt.wait_for("document.getElementById('link').textContent === 'live' && "
                    "Number(document.body.dataset.frames || 0) >= 2")
    finally:
        stream.stop()


def check_instances(dt, work):
    """Two plug-in instances in one Liquidsoap process: the page lists both,
    takes the first and switches to the second; a plug-in's process and
    bypass belong to its host."""
    ladspa = os.environ.get("QUORVANE_LADSPA_DIR")
    if not ladspa or shutil.which("liquidsoap") is None:
        print("no plug-ins or no liquidsoap: the list of instances is not checked")
        return
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        port = s.getsockname()[1]
    script = os.path.join(work, "two.liq")
    with open(script, "w") as f:
        f.write('settings.init.allow_root.set(true)\nsettings.frame.audio.channels.set(2)\n'
                's = sine(330.)\noutput.dummy(ladspa.quorvane(s))\noutput.dummy(ladspa.quorvane(s))\n')
    env = dict(os.environ, LIQ_LADSPA_DIRS=ladspa, QUORVANE_CONTROL=f"127.0.0.1:{port}")
    host = subprocess.Popen(["liquidsoap", script], env=env, cwd=work, stdout=subprocess.DEVNULL,
                            stderr=subprocess.DEVNULL)
    try:
        deadline = time.time() + 40
        while True:
            try:
                if len(request(port, "GET", "/api/instances")[1]["instances"]) == 2:
                    break
            except OSError:
                pass
            assert time.time() < deadline and host.poll() is None, "liquidsoap did not register two instances"
            time.sleep(0.2)
        dt.open(f"http://127.0.0.1:{port}/", 1000, 700)
        dt.wait_for("document.getElementById('instances').options.length === 2 && "
                    "document.getElementById('instance').textContent === '1'")
        assert not dt.eval("document.getElementById('instances').hidden")
        dt.wait_for("document.getElementById('load').disabled && !document.getElementById('host-info').hidden")
        dt.eval("(() => { const s = document.getElementById('instances'); s.value = '2';"
                " s.dispatchEvent(new Event('change')); })()")
        dt.wait_for("document.getElementById('instance').textContent === '2' && "
                    "location.search === '?instance=2' && Number(document.body.dataset.frames || 0) >= 3")
    finally:
        host.terminate()
        host.wait(timeout=20)


def main():
    browser = shutil.which("chromium")
    if browser is None:
        print("chromium is not installed (scripts/install-deps.sh installs it)")
        return SKIP
    artifacts = os.environ.get("QUORVANE_ARTIFACTS", "build/native/artifacts")
    os.makedirs(artifacts, exist_ok=True)
    work = tempfile.mkdtemp(prefix="qv-webpanel-")
    settings = os.path.join(work, "settings")
    os.mkdir(settings)
    stored_process(settings, 2, "process_name=OTHER", "overdrive_db=5")
    stored_process(settings, 4, "process_name=ON AIR")
    programme = os.path.join(work, "programme.wav")
    write_programme(programme)
    # What --set makes of the programme, and what it is without.
    refs = {}
    for name, extra in (("set", ["--set", f"{BAND_WORD}={BAND_VALUE}"]), ("plain", [])):
        refs[name] = os.path.join(work, name + ".wav")
        with open(programme, "rb") as i, open(refs[name], "wb") as o:
            subprocess.run([CLI, "stream", "--settings-dir", settings, "--process", "4", *extra], stdin=i, stdout=o,
                           stderr=subprocess.DEVNULL, check=True, timeout=60)
    out = os.path.join(work, "out.wav")
    stream = Stream(work, programme, out, ["--settings-dir", settings, "--process", "4"])
    dt = DevTools(browser, os.path.join(work, "profile"))
    try:
        port = stream.port
        params = request(port, "GET", "/api/params")[1]
        dt.open(f"http://127.0.0.1:{port}/", 1000, 700)
        dt.wait_for("Number(document.body.dataset.frames || 0) >= 3")
        # The list selects the process on air, not the first one stored.
        assert dt.eval("document.getElementById('processes').value") == "4"
        # A stored value outside the panel's range is shown as it is, marked.
        assert dt.eval("document.querySelector('input[data-control=width_limiter]').parentElement"
                       ".querySelector('output.outside').textContent").startswith("2000")
        change_band_gain(dt, port)
        dt.click("#loudness-reset")
        check_stages(dt, params)
        check_keyboard(dt)
        wait_state(port, lambda s: s["controls"]["clip_drive"] == 82)
        request(port, "POST", "/api/controls", {"clip_drive": 80})  # back, before the programme starts
        assert request(port, "GET", "/api/loudness")[1]["frames"] < (SILENCE_S - 1) * 44100, "too slow for the silence"

        # Meters while the programme plays: bars and their numbers.
        dt.wait_for("Number(document.querySelector('[data-num=out]').textContent) > -30", timeout=SILENCE_S + 5)
        time.sleep(3)
        assert dt.eval("document.documentElement.scrollWidth <= document.documentElement.clientWidth"), \
            dt.eval("[document.documentElement.scrollWidth, document.documentElement.clientWidth]")
        dt.screenshot(os.path.join(artifacts, "web_panel.png"))
        dt.call("Emulation.setDeviceMetricsOverride", {"width": 390, "height": 844, "deviceScaleFactor": 1,
                                                       "mobile": True})
        time.sleep(0.5)
        assert dt.eval("document.documentElement.scrollWidth <= 390"), "the page scrolls sideways on a phone"
        dt.screenshot(os.path.join(artifacts, "web_panel_phone.png"))
        dt.call("Emulation.setDeviceMetricsOverride", {"width": 1000, "height": 700, "deviceScaleFactor": 1,
                                                       "mobile": False})

        # In the silence after the programme: the loudness shown against ffmpeg's.
        done = (SILENCE_S + PROGRAMME_S + 2) * 44100
        while True:
            loud = request(port, "GET", "/api/loudness")[1]
            if loud["from_frame"] + loud["frames"] >= done:
                break
            time.sleep(0.2)
        shown = dt.eval("['integrated', 'true_peak'].map(k => Number(document.querySelector(`[data-loud=${k}]`)"
                        ".textContent))")
        check_load_save(dt, port, settings)
        assert stream.wait() == 0
        want = ebur128(out, loud["from_frame"])
        assert abs(shown[0] - want[0]) <= 0.2 and abs(shown[1] - want[1]) <= 0.2, (shown, want, loud)
        assert 0 < loud["from_frame"] < SILENCE_S * 44100, loud

        # The change made from the page is heard: the samples --set gives, up
        # to the Load at the end, and not those without it.
        compared = int((SILENCE_S + PROGRAMME_S + 1) * 44100) * 2
        live, with_set, plain = (read_samples(p)[:compared] for p in (out, refs["set"], refs["plain"]))
        assert len(live) == compared
        assert live != plain
        assert live == with_set, next(i for i in range(compared) if live[i] != with_set[i]) // 2
        check_token_page(dt, work, programme)
        check_instances(dt, work)
        print("screenshots in", artifacts, "; loudness shown", shown, "ffmpeg", want)
        return 0
    finally:
        dt.close()
        stream.stop()
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
