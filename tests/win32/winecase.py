"""Runs Windows test programs under Wine, each on a private virtual display.

Every run gets its own Xvfb server (its display number chosen by the server
itself with -displayfd, so parallel runs never collide), is bounded by a
timeout after which its whole process group is killed, and leaves the shared
wineserver of the prefix running for the next run.
"""
import os
import select
import shutil
import signal
import subprocess
import time


class WineError(Exception):
    pass


class Display:
    """An Xvfb server of 1024 x 768 x 24, stopped by its own PID."""

    def __init__(self, width=1024, height=768):
        read_fd, write_fd = os.pipe()
        self.proc = subprocess.Popen(
            ["Xvfb", "-displayfd", str(write_fd), "-screen", "0", f"{width}x{height}x24", "-nolisten", "tcp"],
            pass_fds=(write_fd,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, start_new_session=True)
        os.close(write_fd)
        number = b""
        deadline = time.monotonic() + 20
        while not number.endswith(b"\n"):
            left = deadline - time.monotonic()
            if left <= 0 or not select.select([read_fd], [], [], left)[0]:
                break
            chunk = os.read(read_fd, 16)
            if not chunk:
                break
            number += chunk
        os.close(read_fd)
        if not number.strip().isdigit():
            self.stop()
            raise WineError("Xvfb did not start")
        self.name = ":" + number.strip().decode()

    def stop(self):
        if self.proc.poll() is None:
            self.proc.terminate()
            try:
                self.proc.wait(5)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait()

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.stop()

    def screenshot(self, path, crop=None):
        """Grabs the whole screen, optionally cropped to (x, y, width, height)."""
        raw = path + ".full.png"
        subprocess.run(["import", "-display", self.name, "-window", "root", raw], check=True, timeout=30,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        if crop:
            x, y, w, h = crop
            subprocess.run(["convert", raw, "-crop", f"{w}x{h}+{x}+{y}", "+repage", path], check=True, timeout=30)
            os.remove(raw)
        else:
            os.replace(raw, path)


def wine_env(prefix, display):
    env = dict(os.environ)
    env["WINEPREFIX"] = prefix
    env["WINEDEBUG"] = env.get("QUORVANE_WINEDEBUG", "-all")
    env["DISPLAY"] = display.name
    return env


def fresh_dir(path):
    shutil.rmtree(path, ignore_errors=True)
    os.makedirs(path)
    return path


def start(wine_run, exe, args, cwd, prefix, display):
    """Starts exe (a path inside cwd) under wine-run.sh in its own process group."""
    return subprocess.Popen([wine_run, exe] + list(args), cwd=cwd, env=wine_env(prefix, display),
                            stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True, start_new_session=True)


def finish(proc, timeout):
    """Waits for proc; on timeout kills its process group. Returns (rc, output)."""
    try:
        out, _ = proc.communicate(timeout=timeout)
        return proc.returncode, out
    except subprocess.TimeoutExpired:
        try:
            os.killpg(proc.pid, signal.SIGKILL)
        except ProcessLookupError:
            pass
        out, _ = proc.communicate()
        return None, (out or "") + f"\n*** timed out after {timeout} s\n"


def run(wine_run, exe, args, cwd, prefix, timeout=60, display=None):
    """Runs exe to completion on its own display (or the one given)."""
    if display is not None:
        return finish(start(wine_run, exe, args, cwd, prefix, display), timeout)
    with Display() as d:
        return finish(start(wine_run, exe, args, cwd, prefix, d), timeout)
