#!/usr/bin/env python3
"""The browser control's API against a running `quorvane stream --control`
fed in real time: meters move, controls and Loads are heard in the output,
Save writes the file, the token is enforced, bad requests change nothing."""
import http.client
import os
import re
import select
import shutil
import socket
import stat
import struct
import subprocess
import sys
import tempfile
import threading
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from web_rig import CLI, Stream, meter_frames, read_samples, request, write_tone  # noqa: E402

# The tool under ThreadSanitizer runs several times slower: the bounds on
# time widen by this factor.
SLOW = 4 if os.environ.get("QUORVANE_SANITIZED") == "1" else 1
NAME_AT = 17402  # process name in a process file; global word k at NAME_AT + 4 k
OVERDRIVE_WORD = 19


def passthrough_runs(tone, out, min_frames):
    """Frame ranges where the output equals the input sample for sample (the
    Bypass All route), at least min_frames long."""
    a, b = read_samples(tone), read_samples(out)
    n = min(len(a), len(b)) // 2
    runs, start = [], None
    for i in range(n):
        same = a[2 * i] == b[2 * i] and a[2 * i + 1] == b[2 * i + 1] and a[2 * i] != 0
        if same and start is None:
            start = i
        elif not same and a[2 * i] != 0 and start is not None:
            if i - start >= min_frames:
                runs.append((start, i))
            start = None
    if start is not None and n - start >= min_frames:
        runs.append((start, n))
    return runs, n


def preset_param_names():
    """Every name `quorvane preset params` lists but process_name, the
    section words expanded to section.B.S.NAME."""
    text = subprocess.run([CLI, "preset", "params"], check=True, capture_output=True, text=True).stdout
    names = {"option_flags"} if "\noption_flags: " in text else set()
    in_sections = False
    for line in text.splitlines():
        if "section words of" in line:
            in_sections = True
        elif not line.strip():
            in_sections = False
        m = re.match(r"  ([a-z][a-z0-9_]*)  ", line)
        if not m or m.group(1) in ("parameter", "process_name"):
            continue
        if in_sections:
            names |= {f"section.{b}.{s}.{m.group(1)}" for b in range(7) for s in range(3)}
        else:
            names.add(m.group(1))
    return names


class WebControl(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.dir = tempfile.mkdtemp(prefix="qv-web-")
        cls.settings = os.path.join(cls.dir, "settings")
        os.mkdir(cls.settings)
        # Process 3 plays the pass-through route; process 5 is not a process file.
        p3 = os.path.join(cls.settings, "qv$3.dat")
        subprocess.run([CLI, "preset", "defaults", p3], check=True, capture_output=True)
        subprocess.run([CLI, "preset", "set", p3, "bypass_all=1", "process_name=STRAIGHT"], check=True,
                       capture_output=True)
        with open(os.path.join(cls.settings, "qv$5.dat"), "wb") as f:
            f.write(b"not a process")
        # A name typed in the Windows panel: 8-bit text.
        p6 = os.path.join(cls.settings, "qv$6.dat").encode()
        subprocess.run([CLI, "preset", "defaults", p6], check=True, capture_output=True)
        subprocess.run([CLI, "preset", "set", p6, b"process_name=M\xdaSICA"], check=True, capture_output=True)
        cls.tone = os.path.join(cls.dir, "tone.wav")
        write_tone(cls.tone, 8.0)

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.dir, ignore_errors=True)

    def test_stream_without_token(self):
        out = os.path.join(self.dir, "out.wav")
        s = Stream(self.dir, self.tone, out, ["--settings-dir", self.settings])
        try:
            self.run_checks(s.port)
            self.assertEqual(s.wait(), 0)
        finally:
            s.stop()
        # Processed, Bypass All from the API, processed, Load of process 3
        # (pass-through) to the end: two pass-through runs, the second to the end.
        runs, n = passthrough_runs(self.tone, out, 44100 // 4)
        self.assertEqual(len(runs), 2, runs)
        self.assertGreater(runs[0][0], 0)
        self.assertEqual(runs[1][1], n)

    def run_checks(self, port):
        st, state, _ = request(port, "GET", "/api/state")
        self.assertEqual(st, 200)
        self.assertEqual(state["process"], {"number": None, "name": "DEFAULT", "modified": False})
        self.assertEqual(state["format"]["channels"], 2)
        self.assertGreater(state["latency"]["frames"], 0)
        self.assertEqual(state["controls"]["gate_threshold_db"], 40)  # stored words, not the panel's -40
        self.assertEqual(state["controls"]["width_limiter"], 2000)  # outside 0..100, given as stored
        self.assertEqual(state["alarms"]["dead_air"]["below_dbfs"], -50)
        self.assertEqual(state["alarms"]["dead_air"]["after_s"], 10)
        self.check_params(port, state)
        # The stream is the one instance: ?instance may name it or be left out.
        st, listed, _ = request(port, "GET", "/api/instances")
        self.assertEqual([(i["id"], i["kind"], i["process"]["name"]) for i in listed["instances"]],
                         [("1", "stream", "DEFAULT")])
        self.assertEqual(state["instance"], "1")
        st, named, _ = request(port, "GET", "/api/state?instance=1")
        self.assertEqual((st, named["controls"]), (200, state["controls"]))
        st, procs, _ = request(port, "GET", "/api/processes")
        self.assertEqual([(p["number"], p["name"]) for p in procs["processes"]],
                         [(3, "STRAIGHT"), (6, "M\u00daSICA")])

        # Meters: about ten frames a second, levels moving.
        frames = meter_frames(port, 1.0)
        self.assertGreaterEqual(len(frames), 6)  # ten a second, with slack for a loaded machine
        self.assertLessEqual(len(frames), 12)
        self.assertTrue(all(f["in"] > 0 and f["out"] > 0 for f in frames[1:]), frames)
        self.assertTrue(any(f["bands"] != [1000] * 5 for f in frames))

        # Nothing of a refused request is applied.
        before = request(port, "GET", "/api/state")[1]
        refused = [
            ("POST", "/api/controls", None, "{not json", {}, 400),
            ("POST", "/api/controls", [1, 2], None, {}, 400),
            ("POST", "/api/controls", {"overdrive_db": 5, "clip_drive": 200}, None, {}, 422),
            ("POST", "/api/controls", {"overdrive_db": 1.5}, None, {}, 422),
            ("POST", "/api/controls", {"overdrive_db": "5"}, None, {}, 422),
            ("POST", "/api/controls", {"no_such_control": 1}, None, {}, 422),
            ("POST", "/api/controls", {"test_tone": 2}, None, {}, 422),
            ("POST", "/api/controls", {"process_name": "Caf\u00e9"}, None, {}, 422),
            ("POST", "/api/controls", None, '{"overdrive_db": 5}', {"Content-Type": "text/plain"}, 415),
            ("POST", "/api/controls", None, '{"x": "' + "a" * 10000 + '"}', {}, 413),
            ("POST", "/api/controls", {"overdrive_db": 5}, None, {"Host": "attacker.example:80"}, 403),
            ("POST", "/api/controls", {"overdrive_db": 5}, None, {"Origin": "http://attacker.example"}, 403),
            ("POST", "/api/process", {"number": 7}, None, {}, 404),
            ("POST", "/api/process", {"number": 101}, None, {}, 404),
            ("POST", "/api/process", {"number": 5}, None, {}, 422),
            ("POST", "/api/process", {"number": "3"}, None, {}, 422),
            ("POST", "/api/save", {"number": 3}, None, {}, 409),
            ("POST", "/api/save", {"number": 8, "name": "x" * 20}, None, {}, 422),
            ("GET", "/api/nothing", None, None, {}, 404),
            ("GET", "/api/state?instance=2", None, None, {}, 404),
            ("POST", "/api/controls?instance=stream", {"overdrive_db": 5}, None, {}, 404),
            ("GET", "/qv$0.dat", None, None, {}, 404),
            ("GET", "/../settings/qv$0.dat", None, None, {}, 404),
        ]
        for method, path, body, raw, headers, want in refused:
            st, reply, _ = request(port, method, path, body, headers, raw)
            self.assertEqual(st, want, (path, body, raw, headers, reply))
            self.assertIn("error", reply)
        st, reply, _ = request(port, "POST", "/api/controls", {"overdrive_db": 5, "clip_drive": 200})
        self.assertEqual(reply.get("name"), "clip_drive")
        self.assertEqual(request(port, "GET", "/api/state")[1], before)
        self.assertFalse(os.path.exists(os.path.join(self.settings, "qv$8.dat")))

        # The meter streams are capped below the server's threads (a closed
        # stream is noticed at its next writes).
        time.sleep(0.5)
        held = []
        for _ in range(6):
            c = http.client.HTTPConnection("127.0.0.1", port, timeout=5)
            c.request("GET", "/api/meters")
            r = c.getresponse()
            self.assertEqual(r.status, 200)
            held.append((c, r))
        self.assertEqual(request(port, "GET", "/api/meters")[0], 503)
        self.assertEqual(request(port, "GET", "/api/state")[0], 200)  # the API still answers
        for c, r in held:
            r.close()
            c.close()

        # Bypass All is heard (checked on the output) and does not mark the process modified.
        st, state, _ = request(port, "POST", "/api/controls", {"bypass_all": True})
        self.assertEqual((st, state["controls"]["bypass_all"], state["process"]["modified"]), (200, 1, False))
        time.sleep(1.0)
        st, state, _ = request(port, "POST", "/api/controls", {"bypass_all": 0, "overdrive_db": 12, "test_tone": 0})
        self.assertEqual((state["controls"]["overdrive_db"], state["process"]["modified"]), (12, True))

        # Save writes the file atomically and clears the mark; a failing one is a 500 leaving nothing.
        st, state, _ = request(port, "POST", "/api/save", {"number": 9, "name": "WEB SAVE"})
        self.assertEqual(st, 200, state)
        self.assertEqual(state["process"], {"number": 9, "name": "WEB SAVE", "modified": False})
        with open(os.path.join(self.settings, "qv$9.dat"), "rb") as f:
            data = f.read()
        self.assertEqual(len(data), 18418)
        self.assertEqual(data[NAME_AT:NAME_AT + 9], b"WEB SAVE\0")
        self.assertEqual(struct.unpack_from("<i", data, NAME_AT + 4 * OVERDRIVE_WORD)[0], 12)
        os.mkdir(os.path.join(self.settings, "qv$11.dat"))
        st, reply, _ = request(port, "POST", "/api/save", {"number": 11, "overwrite": True})
        self.assertEqual(st, 500, reply)
        self.assertEqual(sorted(os.listdir(self.settings)), ["qv$11.dat", "qv$3.dat", "qv$5.dat", "qv$6.dat",
                                                              "qv$9.dat"])
        self.assertEqual(request(port, "GET", "/api/state")[1]["process"]["number"], 9)

        # Load puts process 3 on air: the pass-through route from one block on.
        time.sleep(1.0)
        st, state, _ = request(port, "POST", "/api/process", {"number": 3})
        self.assertEqual(st, 200, state)
        self.assertEqual(state["process"], {"number": 3, "name": "STRAIGHT", "modified": False})
        self.assertEqual(state["controls"]["overdrive_db"], 10)

    def check_params(self, port, state):
        """/api/params lists what `preset params` lists (the name aside), and
        /api/state gives a value for each."""
        st, params, _ = request(port, "GET", "/api/params")
        self.assertEqual(st, 200)
        by_name = {p["name"]: p for p in params["params"]}
        self.assertEqual(set(by_name), preset_param_names())
        self.assertEqual(set(state["controls"]), set(by_name) | {"test_tone"})
        self.assertEqual(params["stages"], ["input", "stereo expander", "AGC", "bass EQ", "multiband", "dual band",
                                            "clippers", "output"])
        clip = by_name["clip_drive"]
        self.assertEqual({k: clip[k] for k in ("min", "max", "unit", "stage", "label", "kind", "default")},
                         {"min": 40, "max": 100, "unit": "%", "stage": "clippers", "label": "Clip Drive",
                          "kind": "slider", "default": 80})
        self.assertEqual((by_name["gate_threshold_db"]["format"], by_name["gate_threshold_db"]["shown_min"]),
                         ("minus_unless_0", "0 dB"))
        self.assertTrue(by_name["width_limiter"]["no_effect"])
        self.assertEqual(by_name["preemphasis_50us"]["off_label"], "75uS")
        gain = by_name["section.6.0.band_gain_db10"]
        self.assertEqual((gain["stage"], gain["label"], gain["min"], gain["band"], gain["section"]),
                         ("dual band", "Clip Thr", -60, 6, 0))
        self.assertEqual(by_name["section.2.2.ratio_x10"]["no_effect"], True)
        self.assertEqual(by_name["mono"]["kind"], "switch")

    def test_same_samples_as_without_control(self):
        plain, served = os.path.join(self.dir, "plain.wav"), os.path.join(self.dir, "served.wav")
        for out, extra in ((plain, []), (served, ["--control", "0"])):
            with open(self.tone, "rb") as i, open(out, "wb") as o:
                subprocess.run([CLI, "stream", "--settings-dir", self.settings, *extra], stdin=i, stdout=o,
                               stderr=subprocess.DEVNULL, check=True, timeout=60)
        self.assertEqual(read_samples(plain), read_samples(served))

    def test_token(self):
        token_file = os.path.join(self.dir, "token")
        out = os.path.join(self.dir, "token.wav")
        short_tone = os.path.join(self.dir, "short.wav")
        write_tone(short_tone, 2.0)
        s = Stream(self.dir, short_tone, out, ["--settings-dir", self.settings, "--control-token", token_file])
        try:
            mode = os.stat(token_file).st_mode
            self.assertEqual(stat.S_IMODE(mode), 0o600)
            with open(token_file) as f:
                token = f.read().strip()
            self.assertEqual(len(token), 64)
            good = {"Authorization": "Bearer " + token}
            # One digit off (a fixed replacement would equal the token when it already ends so).
            wrong = token[:-1] + ("1" if token[-1] == "0" else "0")
            for headers in ({}, {"Authorization": "Bearer " + wrong}, {"Authorization": token}):
                st, _, r = request(s.port, "POST", "/api/controls", {"overdrive_db": 3}, headers)
                self.assertEqual(st, 401)
                self.assertEqual(r.getheader("WWW-Authenticate"), "Bearer")
                self.assertEqual(request(s.port, "GET", "/api/state", headers=headers)[0], 401)
            st, page, _ = request(s.port, "GET", "/")  # the page holds no data and needs none
            self.assertEqual(st, 200)
            self.assertIn("Quorvane", page)
            st, state, _ = request(s.port, "GET", "/api/state", headers=good)
            self.assertEqual((st, state["controls"]["overdrive_db"]), (200, 10))
            self.assertGreater(len(meter_frames(s.port, 0.3, good)), 0)
            self.assertEqual(s.wait(), 0)
        finally:
            s.stop()

        # Refused at start, before any audio is read: usage errors.
        os.chmod(token_file, 0o640)
        cases = [
            ["--control", "0.0.0.0:0"],
            ["--control", "192.0.2.1:8000"],
            ["--control", "127.0.0.1:0", "--control-token", token_file],
            ["--control", "example.org:80"],
            ["--control", "127.0.0.1:99999"],
            ["--control-token", token_file],
        ]
        for args in cases:
            r = subprocess.run([CLI, "stream", *args], stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                               stderr=subprocess.PIPE, timeout=10)
            self.assertEqual(r.returncode, 2, (args, r.stderr))
        with open(os.path.join(self.dir, "weak"), "w") as f:
            f.write("0123456789abcdef\n")
        os.chmod(os.path.join(self.dir, "weak"), 0o600)
        r = subprocess.run([CLI, "stream", "--control", "0", "--control-token", os.path.join(self.dir, "weak")],
                           stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=10)
        self.assertEqual(r.returncode, 2, r.stderr)


class Monitored(unittest.TestCase):
    """A raw stream fed silence in real time and then nothing: the dead-air
    alarm, the health check, the read-only token and the log of changes."""

    def test_alarm_health_read_token_log(self):
        work = tempfile.mkdtemp(prefix="qv-web-mon-")
        self.addCleanup(shutil.rmtree, work, True)
        full_file, read_file, log = (os.path.join(work, n) for n in ("full", "read", "log"))
        err = open(os.path.join(work, "err"), "w+")
        self.addCleanup(err.close)
        proc = subprocess.Popen([CLI, "stream", "--raw", "--control", "127.0.0.1:0", "--control-token", full_file,
                                 "--control-read-token", read_file, "--dead-air-after", "1", "--log", log,
                                 "--settings-dir", work], stdin=subprocess.PIPE, stdout=subprocess.DEVNULL,
                                stderr=err)
        self.addCleanup(proc.kill)
        feeding = threading.Event()
        feeding.set()

        def feed():  # silence at the real-time pace while `feeding` is set
            while feeding.is_set():
                proc.stdin.write(bytes(4 * 4410))
                proc.stdin.flush()
                time.sleep(0.1)

        feeder = threading.Thread(target=feed)
        feeder.start()
        port = None
        for _ in range(100):
            err.seek(0)
            m = re.search(r"control panel at http://[^ ]*:(\d+)/", err.read())
            if m:
                port = int(m.group(1))
                break
            time.sleep(0.05)
        self.assertIsNotNone(port)
        tokens = []
        for path in (full_file, read_file):
            with open(path) as f:
                tokens.append(f.read().strip())
        full, read = ({"Authorization": "Bearer " + t} for t in tokens)
        self.assertNotEqual(*tokens)

        time.sleep(1.6)
        st, state, _ = request(port, "GET", "/api/state", headers=read)
        self.assertEqual((st, state["access"]), (200, "read"))
        self.assertTrue(state["alarms"]["dead_air"]["active"], state["alarms"])
        st, health, _ = request(port, "GET", "/api/health", headers=read)
        self.assertEqual((st, health["status"]), (200, "ok"), health)
        self.assertGreater(health["blocks"], 0)
        self.assertLess(health["last_block_age_s"], 0.5)
        self.assertTrue(health["dead_air"]["active"])
        self.assertEqual(request(port, "GET", "/api/health")[0], 401)
        for path, body in (("/api/controls", {"overdrive_db": 12}), ("/api/loudness/reset", {}),
                           ("/api/alarms", {"after_s": 5}), ("/api/save", {"number": 1})):
            self.assertEqual(request(port, "POST", path, body, read)[0], 403, path)
        self.assertEqual(request(port, "GET", "/api/state", headers=full)[1]["access"], "full")
        st, state, _ = request(port, "POST", "/api/controls", {"overdrive_db": 12, "mono": 1}, full)
        self.assertEqual((st, state["controls"]["overdrive_db"]), (200, 12))
        for bad in ({"below_dbfs": -5}, {"after_s": 0}, {"after_s": "10"}):
            self.assertEqual(request(port, "POST", "/api/alarms", bad, full)[0], 422, bad)
        st, state, _ = request(port, "POST", "/api/alarms", {"below_dbfs": -60, "after_s": 30}, full)
        self.assertEqual(state["alarms"]["dead_air"]["below_dbfs"], -60)
        st, loud, _ = request(port, "GET", "/api/loudness", headers=read)
        self.assertEqual(st, 200)
        self.assertIsNone(loud["integrated_lufs"])  # silence is gated out
        self.assertGreater(loud["frames"], 44100)

        # No block for two seconds: 503; blocks again: 200.
        feeding.clear()
        feeder.join()
        time.sleep(2.0)
        for _ in range(50):  # the blocks still in the pipe play first
            st, health, _ = request(port, "GET", "/api/health", headers=read)
            if st != 200:
                break
            time.sleep(0.1)
        self.assertEqual((st, health["status"]), (503, "no audio"), health)
        self.assertGreaterEqual(health["last_block_age_s"], 2.0)
        proc.stdin.write(bytes(4 * 4410))
        proc.stdin.flush()
        time.sleep(0.3)
        self.assertEqual(request(port, "GET", "/api/health", headers=read)[0], 200)
        proc.stdin.close()
        self.assertEqual(proc.wait(timeout=10), 0)
        with open(log) as f:
            lines = f.read().splitlines()
        stamp = r"\d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ "
        for want in (r"dead air: the input stayed below -50\.0 dBFS for 1 s",
                     r"control: stream 1: overdrive_db 10 dB -> 12 dB", r"control: stream 1: mono off -> on",
                     r"control: stream 1: dead air below -50\.0 -> -60\.0 dBFS, after 1 -> 30 s"):
            self.assertTrue(any(re.fullmatch(stamp + want, l) for l in lines), (want, lines))


class Attack:
    """From 127.0.0.1: `half_open` connections that send half a request head
    and then nothing, and `trickling` ones that send a head a byte a second;
    each closed by the server is opened again at once."""

    def __init__(self, port, half_open, trickling):
        self.port, self.stop, self.reopened = port, threading.Event(), 0
        self.head = f"GET /api/state HTTP/1.1\r\nHost: 127.0.0.1:{port}\r\nX-Pad: ".encode()
        self.socks = {}  # socket -> bytes sent (None: half-open)
        for k in range(half_open + trickling):
            self.open(None if k < half_open else 0)
        self.thread = threading.Thread(target=self.run)
        self.thread.start()

    def open(self, sent):
        s = socket.create_connection(("127.0.0.1", self.port))
        s.setblocking(False)
        if sent is None:
            s.send(self.head)
        self.socks[s] = sent

    def run(self):
        next_byte = time.time()
        while not self.stop.is_set():
            readable, _, _ = select.select(list(self.socks), [], [], 0.05)
            for s in readable:  # the server closed it (the cap or the deadline)
                sent = self.socks.pop(s)
                s.close()
                self.reopened += 1
                self.open(None if sent is None else 0)
            if time.time() >= next_byte:
                next_byte += 1.0
                for s, sent in list(self.socks.items()):
                    if sent is not None:
                        try:
                            s.send(self.head[sent % len(self.head):][:1])
                            self.socks[s] = sent + 1
                        except OSError:
                            pass
        for s in self.socks:
            s.close()

    def end(self):
        self.stop.set()
        self.thread.join()


class Hostile(unittest.TestCase):
    """200 half-open connections and 50 trickling ones leave the operator
    their page and the station its audio."""

    def test_slow_clients(self):
        work = tempfile.mkdtemp(prefix="qv-web-hostile-")
        self.addCleanup(shutil.rmtree, work, True)
        tone = os.path.join(work, "tone.wav")
        write_tone(tone, 14.0)
        feed = subprocess.Popen(["ffmpeg", "-loglevel", "error", "-re", "-i", tone, "-f", "wav", "-c:a",
                                 "pcm_s16le", "-"], stdout=subprocess.PIPE, stdin=subprocess.DEVNULL)
        err = open(os.path.join(work, "err"), "w+")
        self.addCleanup(err.close)
        proc = subprocess.Popen([CLI, "stream", "--control", "127.0.0.1:0", "--settings-dir", work],
                                stdin=feed.stdout, stdout=subprocess.PIPE, stderr=err)
        feed.stdout.close()
        self.addCleanup(lambda: [p.kill() for p in (feed, proc) if p.poll() is None])
        arrivals = []  # when each piece of the output came

        def drain():
            while True:
                chunk = os.read(proc.stdout.fileno(), 1 << 16)
                if not chunk:
                    return
                arrivals.append(time.monotonic())

        drainer = threading.Thread(target=drain)
        drainer.start()
        port = None
        while port is None and proc.poll() is None:
            err.seek(0)
            m = re.search(r"control panel at http://[^ ]*:(\d+)/", err.read())
            port = int(m.group(1)) if m else time.sleep(0.05)
        attack = Attack(port, 200, 50)
        start = time.monotonic()
        try:
            time.sleep(2.0)
            t0 = time.monotonic()
            st, state, _ = request(port, "GET", "/api/state")
            answered = time.monotonic() - t0
            self.assertEqual(st, 200)
            self.assertLess(answered, 1.0 * SLOW)
            began = time.monotonic()
            frames = meter_frames(port, 3.0)
            rate = len(frames) / (time.monotonic() - began)
            self.assertGreaterEqual(rate, 9.0 / SLOW, len(frames))
            opened = len(os.listdir(f"/proc/{proc.pid}/fd"))
        finally:
            window = (start, time.monotonic())
            attack.end()
        self.assertGreater(attack.reopened, 200)  # the cap closed the oldest
        self.assertLess(opened, 100)  # 64 waiting at most, the pipes, the stream's and the server's own
        self.assertEqual(proc.wait(timeout=30), 0)
        drainer.join()
        proc.stdout.close()
        during = [t for t in arrivals if window[0] - 1.0 <= t <= window[1]]
        gaps = [b - a for a, b in zip(during, during[1:])]
        self.assertLess(max(gaps), 0.100 * SLOW, f"largest gap between output blocks {max(gaps) * 1000:.0f} ms")
        print(f"\n/api/state in {answered * 1000:.0f} ms, {rate:.1f} meter frames/s, largest output gap "
              f"{max(gaps) * 1000:.0f} ms, {attack.reopened} connections closed by the server", file=sys.stderr)


if __name__ == "__main__":
    unittest.main()
