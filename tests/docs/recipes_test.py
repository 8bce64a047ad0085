#!/usr/bin/python3
"""The documentation as installed: `cmake --install` into a temporary root,
then every recipe of quorvane-plugins(7) and every example of
share/doc/quorvane/examples run from there as written, with the plug-ins of
the build tree. ffmpeg, sox and Liquidsoap must give the samples of
`quorvane process` on the same input; jalv, under PipeWire's JACK, must give
them too within a small error (its instance hears some silence first); the
PipeWire configuration must make its filter node in the test's own daemon,
and the systemd unit must pass `systemd-analyze verify`. The README must show
the very commands of the manual page.

    recipes_test.py BUILD_DIR
Runs with Debian's python3 (the JACK client module is a Debian package).
"""
import array
import gzip
import json
import os
import re
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import threading
import time
import urllib.request
import wave

BUILD = os.path.abspath(sys.argv[1]) if len(sys.argv) > 1 else ""
LADSPA_DIR = os.path.join(BUILD, "plugins", "ladspa")
LV2_DIR = os.path.join(BUILD, "plugins", "lv2")
failures = []


def check(ok, what):
    print(("ok   " if ok else "FAIL ") + what, flush=True)
    if not ok:
        failures.append(what)
    return ok


def run(cmd, **kw):
    return subprocess.run(cmd, capture_output=True, text=True, **kw)


def pcm(path):
    """A WAV file's 16-bit samples, interleaved. Liquidsoap leaves the length
    fields of a file it was stopped in unset: the data runs to the end."""
    with open(path, "rb") as f:
        data = f.read()
    at = data.index(b"data") + 8
    body = data[at:]
    body = body[: len(body) // 4 * 4]
    return memoryview(body).cast("h").tolist()


def man_recipes(page):
    """The rendered page's example lines, as a reader copies them."""
    env = dict(os.environ, MANWIDTH="250", LC_ALL="C.UTF-8")
    r = run(["man", "--warnings", "-l", page], env=env)
    check(r.returncode == 0 and r.stderr.strip() == "", f"man renders {os.path.basename(page)} without warnings"
          + (": " + r.stderr.strip() if r.stderr.strip() else ""))
    return r.stdout


def main():
    if not BUILD:
        print("usage: recipes_test.py BUILD_DIR", file=sys.stderr)
        return 2
    tmp = tempfile.mkdtemp(prefix="qv-recipes-")
    try:
        return test_all(tmp)
    finally:
        shutil.rmtree(tmp, ignore_errors=True)


def test_all(tmp):
    root = os.path.join(tmp, "root")
    r = run(["cmake", "--install", BUILD, "--prefix", "/usr"], env=dict(os.environ, DESTDIR=root))
    if not check(r.returncode == 0, "cmake --install into a temporary root"):
        print(r.stderr)
        return 1
    doc = os.path.join(root, "usr/share/doc/quorvane")
    examples = os.path.join(doc, "examples")
    bindir = os.path.join(root, "usr/bin")
    for path in ["usr/share/doc/quorvane/README.md.gz", "usr/share/man/man7/quorvane-plugins.7.gz",
                 "usr/share/man/man7/quorvane-control.7.gz", "usr/share/doc/quorvane/examples/onair.liq",
                 "usr/share/doc/quorvane/examples/onair-pipe.liq",
                 "usr/share/doc/quorvane/examples/quorvane-filter-chain.conf",
                 "usr/share/doc/quorvane/examples/quorvane-onair.service"]:
        check(os.path.isfile(os.path.join(root, path)), "installs /" + path)

    page = man_recipes(os.path.join(root, "usr/share/man/man7/quorvane-plugins.7.gz"))
    man_recipes(os.path.join(root, "usr/share/man/man7/quorvane-control.7.gz"))
    commands = [line.strip() for line in page.splitlines()
                if re.match(r"\s+(ffmpeg |sox |pw-jack |pipewire |quorvane preset install-factory$)", line)]
    by_tool = {}
    for c in commands:
        check(c.isascii(), "the manual page's command is plain ASCII: " + c)
        by_tool.setdefault(c.split()[0], []).append(c)
    check(len(by_tool.get("ffmpeg", [])) == 2 and len(by_tool.get("sox", [])) == 1
          and len(by_tool.get("pw-jack", [])) == 1 and len(by_tool.get("pipewire", [])) == 1,
          "quorvane-plugins(7) gives two ffmpeg recipes and one each for sox, jalv and PipeWire")
    with gzip.open(os.path.join(doc, "README.md.gz"), "rt", encoding="utf-8") as f:
        readme = f.read()
    readme_lines = {line.strip() for line in readme.splitlines() if line.startswith("    ")}
    for c in commands:
        check(c in readme_lines, "the README shows the manual page's command: " + c)
    for line in readme_lines:
        if re.match(r"(ffmpeg -i in\.mp3 -af|sox -D|pw-jack jalv|pipewire -c)", line):
            check(line in commands, "the manual page has the README's command: " + line)
    # The README's quote of the pipe() station is a run of the example's lines.
    quote = re.search(r"\n    radio = pipe\(.*?\n\n", readme, re.S)
    with open(os.path.join(examples, "onair-pipe.liq")) as f:
        example = "\n".join(line.strip() for line in f)
    check(quote is not None and "\n".join(line.strip() for line in quote.group(0).strip().splitlines()) in example,
          "the README quotes onair-pipe.liq as it is")

    work = os.path.join(tmp, "work")
    os.makedirs(work)
    env = dict(os.environ, PATH=bindir + ":" + os.environ["PATH"], XDG_CONFIG_HOME=os.path.join(tmp, "config"),
               LADSPA_PATH=LADSPA_DIR, LV2_PATH=LV2_DIR, LIQ_LADSPA_DIRS=LADSPA_DIR)
    r = run(["sh", "-c", by_tool["quorvane"][0]], env=env)
    check(r.returncode == 0 and os.path.isfile(os.path.join(tmp, "config/quorvane/qv$92.dat")),
          "the factory processes stored as the page says")

    # A programme of 63 Liquidsoap frames (40 ms): noise and a tone, faded in
    # and out, peaks at -7 dBFS (Liquidsoap reads 16-bit samples as x / 32767:
    # of magnitude 16384 or more, they reach the plug-in one step off).
    frames = 63 * 1764
    src = os.path.join(work, "in.wav")
    r = run(["sox", "-r", "44100", "-n", "-c", "2", "-b", "16", src, "synth", f"{frames}s", "pinknoise",
             "sine", "220", "fade", "q", "0.3", "-0", "0.5", "norm", "-7"])
    check(r.returncode == 0, "sox makes the input")
    # ffmpeg's recipes read in.mp3: any format it reads, found by content.
    shutil.copy(src, os.path.join(work, "in.mp3"))
    ref_path = os.path.join(work, "ref.wav")
    r = run(["quorvane", "process", "-q", "--process", "92", "--keep-latency", src, ref_path], env=env)
    check(r.returncode == 0, "quorvane process gives the reference")
    ref = pcm(ref_path)
    source = pcm(src)
    check(len(source) == frames * 2 and len(ref) == len(source) and ref != source,
          "the reference is processed and as long as the input")

    for c in by_tool["ffmpeg"] + by_tool["sox"]:
        out = os.path.join(work, "out.wav")
        if os.path.exists(out):
            os.remove(out)
        r = run(["sh", "-c", c], cwd=work, env=env, stdin=subprocess.DEVNULL)
        got = pcm(out) if r.returncode == 0 and os.path.exists(out) else []
        check(r.returncode == 0 and got == ref, "the samples of quorvane process: " + c
              + ("" if r.returncode == 0 else ": " + r.stderr[-400:]))

    liquidsoap(tmp, examples, env, src, ref, frames)
    systemd_unit(tmp, examples, bindir)
    r = subprocess.run(["dbus-run-session", "--", sys.executable, os.path.abspath(__file__), "--session", BUILD,
                        tmp, examples, by_tool["pipewire"][0], by_tool["pw-jack"][0]], env=env)
    check(r.returncode == 0, "PipeWire and jalv in a session of their own")

    print(f"{len(failures)} failed" if failures else "all recipes run")
    return 1 if failures else 0


def liquidsoap(tmp, examples, env, src, ref, frames):
    """Both station scripts, at once, each in a home of its own, stopped once
    they have written the whole programme."""
    runs = []
    for name in ["onair.liq", "onair-pipe.liq"]:
        home = os.path.join(tmp, "home-" + name)
        os.makedirs(os.path.join(home, "music"))
        track = os.path.join(home, "music", "track.wav")
        shutil.copy(src, track)
        with open(os.path.join(home, "music", "onair.m3u"), "w") as f:
            f.write(track + "\n")
        with open(os.path.join(examples, name)) as f:
            script = f.read()
        # The example says so in a comment: Liquidsoap refuses root otherwise.
        if os.geteuid() == 0:
            script = "settings.init.allow_root.set(true)\n" + script
        path = os.path.join(home, name)
        with open(path, "w") as f:
            f.write(script)
        log = open(os.path.join(home, "liquidsoap.log"), "w")
        run_env = dict(env, HOME=home)
        if name == "onair.liq":
            # As its comment says: the plug-in's control panel.
            with socket.socket() as s:
                s.bind(("127.0.0.1", 0))
                panel = s.getsockname()[1]
            run_env["QUORVANE_CONTROL"] = str(panel)
        p = subprocess.Popen(["liquidsoap", path], cwd=home, env=run_env, stdout=log, stderr=subprocess.STDOUT)
        runs.append((name, home, p, log))
    want = 44 + frames * 4
    deadline = time.monotonic() + 40
    listed = []
    while not listed and time.monotonic() < deadline and runs[0][2].poll() is None:
        try:
            with urllib.request.urlopen(f"http://127.0.0.1:{panel}/api/instances", timeout=5) as r:
                listed = json.load(r)["instances"]
        except OSError:
            time.sleep(0.2)
    check([i["kind"] for i in listed] == ["LADSPA"], "Liquidsoap onair.liq: its instance on the control panel")
    for name, home, p, log in runs:
        out = os.path.join(home, "onair.wav")
        while time.monotonic() < deadline and p.poll() is None and \
                (not os.path.exists(out) or os.path.getsize(out) < want + 44100 * 4):
            time.sleep(0.2)
    for name, home, p, log in runs:
        p.send_signal(signal.SIGTERM)
        try:
            p.wait(10)
        except subprocess.TimeoutExpired:
            p.kill()
            p.wait()
        log.close()
        out = os.path.join(home, "onair.wav")
        got = pcm(out) if os.path.exists(out) else []
        if not check(len(got) >= len(ref), f"Liquidsoap {name} wrote the programme"):
            with open(os.path.join(home, "liquidsoap.log")) as f:
                print(f.read()[-2000:])
            continue
        if name == "onair.liq":
            # One step at most: Liquidsoap's float conversion.
            bad = next((i for i in range(len(ref)) if abs(got[i] - ref[i]) > 1), None)
            check(bad is None, "Liquidsoap onair.liq: the samples of quorvane process"
                  + ("" if bad is None else f" (frame {bad // 2}: {got[bad]} for {ref[bad]})"))
        else:
            stream_log = os.path.join(home, "quorvane.log")
            text = open(stream_log).read() if os.path.exists(stream_log) else ""
            check("latency 884 frames" in text, "Liquidsoap onair-pipe.liq: the stream's log in the user's home")
            # The pipe's buffering delays the programme: the processed sound,
            # as loud as the reference, is somewhere in the output.
            rms = lambda s: (sum(x * x for x in s) / max(len(s), 1)) ** 0.5
            check(abs(rms(got) - rms(ref)) < 0.5 * rms(ref) and rms(got) > 1000,
                  f"Liquidsoap onair-pipe.liq: processed sound (RMS {rms(got):.0f}, reference {rms(ref):.0f})")


def systemd_unit(tmp, examples, bindir):
    """systemd-analyze checks that the commands exist: the unit is verified
    with the install tree's quorvane in place of /usr/bin/quorvane."""
    with open(os.path.join(examples, "quorvane-onair.service")) as f:
        unit = f.read()
    check("Restart=on-failure" in unit.splitlines() and "quorvane stream" in unit and "--control" in unit,
          "the unit runs quorvane stream --control and restarts it on failure")
    folder = os.path.join(tmp, "unit")
    os.makedirs(folder)
    path = os.path.join(folder, "quorvane-onair.service")
    with open(path, "w") as f:
        f.write(unit.replace("/usr/bin/quorvane", os.path.join(bindir, "quorvane")))
    r = run(["systemd-analyze", "verify", "--man=no", path])
    # verify also exits 0 after a line it could not parse: that is a warning on stderr.
    check(r.returncode == 0 and r.stderr.strip() == "" and r.stdout.strip() == "",
          "systemd-analyze verify quorvane-onair.service" + (": " + r.stderr.strip() if r.stderr.strip() else ""))


# ---------------------------------------------------------------------------
# Inside dbus-run-session: a PipeWire daemon of the test's own.

def session(tmp, examples, pipewire_command, jalv_command):
    runtime = os.path.join(tmp, "run")
    os.makedirs(runtime, mode=0o700)
    env = dict(os.environ, XDG_RUNTIME_DIR=runtime, PIPEWIRE_RUNTIME_DIR=runtime)
    env.pop("PIPEWIRE_REMOTE", None)
    daemon = subprocess.Popen(["pipewire"], env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    started = []
    try:
        if not wait_for(lambda: run(["pw-cli", "info", "0"], env=env).returncode == 0, 5):
            check(False, "the test's PipeWire daemon answers")
            return
        run(["pw-cli", "create-node", "adapter", "{ factory.name=support.null-audio-sink node.name=null-sink "
             "media.class=Audio/Sink object.linger=true audio.position=[FL FR] }"], env=env)
        # The recipe names the installed example; this test's copy is in the install tree.
        command = pipewire_command.replace("/usr/share/doc/quorvane/examples", examples)
        chain = subprocess.Popen(["sh", "-c", "exec " + command], env=env, stdout=subprocess.DEVNULL,
                                 stderr=subprocess.PIPE, text=True)
        started.append(chain)
        nodes = lambda: run(["pw-cli", "ls", "Node"], env=env).stdout
        made = wait_for(lambda: "effect_input.quorvane" in nodes() and "effect_output.quorvane" in nodes(), 10)
        sink = re.search(r'node.name = "effect_input.quorvane"[^}]*?media.class = "Audio/Sink"|'
                         r'media.class = "Audio/Sink"[^}]*?node.name = "effect_input.quorvane"', nodes(), re.S)
        check(made and sink is not None and chain.poll() is None,
              "PipeWire: the filter chain's sink \"Quorvane\" with the plug-in")
        jalv(env, jalv_command, started)
    finally:
        for p in started + [daemon]:
            if p.poll() is None:
                p.terminate()
                try:
                    p.wait(5)
                except subprocess.TimeoutExpired:
                    p.kill()
                    p.wait()


def wait_for(condition, seconds):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        if condition():
            return True
        time.sleep(0.1)
    return False


def jalv(env, command, started):
    """jalv as the page says, at 44.1 kHz; a JACK client of this script plays
    the programme into it and records what comes out."""
    run(["pw-metadata", "-n", "settings", "0", "clock.force-rate", "44100"], env=env)
    # jalv stops at the end of its standard input: it stays open.
    p = subprocess.Popen(["sh", "-c", "exec " + command], env=env, stdin=subprocess.PIPE,
                         stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    started.append(p)
    ports = lambda: run(["pw-link", "-i"], env=env).stdout
    if not check(wait_for(lambda: "quorvane:in_l" in ports(), 10), "jalv: the plug-in's JACK ports"):
        return
    tmp = os.path.dirname(env["XDG_RUNTIME_DIR"])
    src = os.path.join(tmp, "work", "in.wav")
    ref = pcm(os.path.join(tmp, "work", "ref.wav"))
    out = os.path.join(tmp, "work", "jalv.raw")
    r = run(["pw-jack", sys.executable, os.path.abspath(__file__), "--jack-client", src, out], env=env, timeout=60)
    if not check(r.returncode == 0, "jalv: played through by a JACK client" + (": " + r.stderr[-500:] if r.stderr else "")):
        return
    with open(out, "rb") as f:
        got = [round(x * 32768) for x in memoryview(f.read()).cast("f")]
    # The output starts at the chain's first sound; before it, only zeros.
    first = lambda s: next((i for i, x in enumerate(s) if x != 0), None)
    a, b = first(got), first(ref)
    if not check(a is not None and b is not None, "jalv: the plug-in's output is not silent"):
        return
    got = got[a - b:] if a >= b else [0] * (b - a) + got
    n = min(len(ref), len(got))
    err = (sum((x - y) ** 2 for x, y in zip(got[:n], ref[:n])) / n) ** 0.5
    level = (sum(y * y for y in ref[:n]) / n) ** 0.5
    check(n == len(ref) and err < level / 100,
          f"jalv: the sound of quorvane process (error {err:.1f} against RMS {level:.0f}, 16-bit steps)")


def jack_client(src, out):
    """Connects to jalv's ports, plays src (as exact 16-bit values) after a
    moment of silence, and records the output to out as float32 pairs."""
    import jack

    samples = pcm(src)
    client = jack.Client("feed")
    ins = [client.inports.register("in_l"), client.inports.register("in_r")]
    outs = [client.outports.register("out_l"), client.outports.register("out_r")]
    if client.samplerate != 44100:
        print(f"the graph runs at {client.samplerate} Hz", file=sys.stderr)
        return 1
    lead = 4410
    total = lead + len(samples) // 2 + 44100
    channel = [[0.0] * lead + [x / 32768 for x in samples[c::2]] for c in range(2)]
    recorded = [[], []]
    pos = [0]
    done = threading.Event()

    @client.set_process_callback
    def process(n):
        start = pos[0]
        for c in range(2):
            chunk = channel[c][start:start + n]
            chunk += [0.0] * (n - len(chunk))
            memoryview(outs[c].get_buffer()).cast("B").cast("f")[:] = array.array("f", chunk)
            recorded[c].extend(memoryview(ins[c].get_buffer()).cast("B").cast("f").tolist())
        pos[0] += n
        if pos[0] >= total:
            done.set()

    with client:
        client.connect("feed:out_l", "quorvane:in_l")
        client.connect("feed:out_r", "quorvane:in_r")
        client.connect("quorvane:out_l", "feed:in_l")
        client.connect("quorvane:out_r", "feed:in_r")
        if not done.wait(30):
            print("the graph did not run", file=sys.stderr)
            return 1
    interleaved = array.array("f", [v for pair in zip(recorded[0], recorded[1]) for v in pair])
    with open(out, "wb") as f:
        f.write(interleaved.tobytes())
    return 0


if __name__ == "__main__":
    if len(sys.argv) > 1 and sys.argv[1] == "--session":
        BUILD = sys.argv[2]
        session(*sys.argv[3:7])
        sys.exit(1 if failures else 0)
    if len(sys.argv) > 1 and sys.argv[1] == "--jack-client":
        sys.exit(jack_client(sys.argv[2], sys.argv[3]))
    sys.exit(main())
