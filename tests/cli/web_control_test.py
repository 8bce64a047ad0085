#!/usr/bin/env python3
"""The browser control's API against a running `quorvane stream --control`
fed in real time: meters move, controls and Loads are heard in the output,
Save writes the file, the token is enforced, bad requests change nothing."""
import http.client
import os
import shutil
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
        self.assertEqual(state["ranges"]["clip_drive"],
                         {"min": 40, "max": 100, "unit": "%", "stage": "clippers", "label": "Clip Drive",
                          "panel_unit": "%", "no_effect": False})
        self.assertTrue(state["ranges"]["width_limiter"]["no_effect"])
        self.assertEqual(state["controls"]["gate_threshold_db"], 40)  # stored words, not the panel's -40
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


if __name__ == "__main__":
    unittest.main()
