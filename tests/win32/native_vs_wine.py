#!/usr/bin/env python3
"""The Wine-hosted DLL and the native shared library give the same samples.

Both test hosts play the same deterministic stimulus (tests/host/test_host.cpp,
--render) through their module, each from a fresh host directory, first with
the default process, then with process files that switch on the other
routes of the chain (patched copies of the default file the module wrote).
The raw outputs are compared sample by sample; only a handful of samples may
differ, where the two maths libraries round a power or a sine differently in
the last bit. The default process files both modules write must be identical.
The bass EQ variants run the Wine host at x87 control word 0x27F (53-bit
precision, as some players leave it): the DLL's output must equal the native
module's sample for sample.
"""
import argparse
import os
import shutil
import struct
import subprocess
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import winecase  # noqa: E402

GLOBAL_OFFSET = 14 + 21 * 828  # GlobalParams in a process file
# Word indices of GlobalParams.
W = dict(stereo_level_pct=21, stereo_depth_ms=22, bypass_all=23, no_clipper=25, no_stereo_exp=26,
         lookahead_ms=27, independent_gate=29, preemphasis_50us=30, preemphasis_on=34, bass_eq_gain_db=20,
         density_overdrive_db=36, output_level_pct=37, expander_on=39, limiter_on=40, option_flags=44,
         bass_eq_freq_hz=35)

# Process variants: each switches on routes the default process leaves off.
VARIANTS = {
    "default": {},
    "fm75_four_bands": dict(option_flags=0x001 | 0x004 | 0x008 | 0x010, preemphasis_on=1, preemphasis_50us=0,
                            expander_on=1, limiter_on=1, stereo_level_pct=60, stereo_depth_ms=12),
    "am_mono_shelf": dict(option_flags=0x020 | 0x040 | 0x100 | 0x400 | 0x800, bass_eq_gain_db=12,
                          independent_gate=1, no_stereo_exp=1, output_level_pct=70),
    "bypass_routes": dict(option_flags=0x002 | 0x200, no_clipper=1, density_overdrive_db=6, lookahead_ms=0),
}
# Variants whose Wine run uses this x87 control word, with no sample allowed to differ.
X87_CONTROL_WORD = "0x27F"
X87_VARIANTS = {
    "bass_peaking_high_q_x87": dict(option_flags=0x040, bass_eq_gain_db=15, bass_eq_freq_hz=60),
    "bass_shelving_high_q_x87": dict(option_flags=0x020 | 0x040, bass_eq_gain_db=12, bass_eq_freq_hz=72),
}

INI = "[Quorvane2]\nProcessNumber=0\nVisible=0\nMinimized=0\n"


def patched(default_file, words):
    data = bytearray(default_file)
    for name, value in words.items():
        struct.pack_into("<i", data, GLOBAL_OFFSET + 4 * W[name], value)
    return bytes(data)


def prepare(path, process_file):
    winecase.fresh_dir(path)
    with open(os.path.join(path, "winamp.ini"), "w") as f:
        f.write(INI)
    if process_file is not None:
        with open(os.path.join(path, "qv$0.dat"), "wb") as f:
            f.write(process_file)


def compare(a, b):
    n = min(len(a), len(b)) // 2
    sa = struct.unpack(f"<{n}h", a[:2 * n])
    sb = struct.unpack(f"<{n}h", b[:2 * n])
    diffs = [i for i in range(n) if sa[i] != sb[i]]
    worst = max((abs(sa[i] - sb[i]) for i in diffs), default=0)
    return n, diffs, worst


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--native-host", required=True)
    ap.add_argument("--native-module", required=True)
    ap.add_argument("--wine-host", required=True)
    ap.add_argument("--wine-module", required=True)
    ap.add_argument("--wine-run", required=True)
    ap.add_argument("--prefix", required=True)
    ap.add_argument("--work", required=True)
    ap.add_argument("--allowed", type=int, default=0, help="differing samples allowed per variant")
    args = ap.parse_args()

    for path in (args.native_host, args.native_module):
        if not os.path.exists(path):
            print(f"FAIL: {path} is missing: build the native tree first (scripts/test-all.sh does)")
            return 1

    failures = 0
    default_file = None
    default_out = b""
    with winecase.Display() as display:
        runs = [(name, words, False) for name, words in VARIANTS.items()]
        runs += [(name, words, True) for name, words in X87_VARIANTS.items()]
        for name, words, x87 in runs:
            process_file = None if name == "default" else patched(default_file, words)
            # Every Wine run calls ModifySamples on a misaligned stack, as a
            # 32-bit Windows host may: the module must realign for its SSE2 values.
            wine_args = ["--stack", "misaligned"] + (["--x87", X87_CONTROL_WORD] if x87 else [])
            allowed = 0 if x87 else args.allowed
            nat = os.path.join(args.work, name, "native")
            win = os.path.join(args.work, name, "wine")
            prepare(nat, process_file)
            prepare(win, process_file)

            env = dict(os.environ, QUORVANE_HOST_DIR=nat)
            r = subprocess.run([args.native_host, args.native_module, "--render", "out.raw"], cwd=nat, env=env,
                               stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True, timeout=120)
            if r.returncode != 0:
                print(r.stdout)
                print(f"FAIL: {name}: native host exited with {r.returncode}")
                return 1

            exe = os.path.join(win, "quorvane_test_host.exe")
            shutil.copy(args.wine_host, exe)
            rc, out = winecase.run(args.wine_run, exe, [args.wine_module, "--render", "out.raw"] + wine_args, win,
                                   args.prefix, timeout=180, display=display)
            if rc != 0:
                print(out)
                print(f"FAIL: {name}: Wine host exited with {rc}")
                return 1
            for host, text in (("native", r.stdout), ("wine", out)):
                print("".join(f"{line.split(':')[0]}: {name}: {host}:{line.split(':', 1)[1]}\n"
                              for line in text.splitlines() if "MXCSR" in line), end="")

            with open(os.path.join(nat, "out.raw"), "rb") as f:
                a = f.read()
            with open(os.path.join(win, "out.raw"), "rb") as f:
                b = f.read()
            n, diffs, worst = compare(a, b)
            ok = len(a) == len(b) and n > 0 and len(diffs) <= allowed
            first = f", first at sample {diffs[0]}" if diffs else ""
            print(f"{'ok' if ok else 'FAIL'}: {name}: {n} samples, {len(diffs)} differ (largest difference "
                  f"{worst}{first}); sizes {len(a)} / {len(b)} bytes")
            failures += not ok
            if name == "default":
                default_out = a
            else:
                # The variant's file was read: its routes change the sound.
                _, changed, _ = compare(a, default_out)
                moved = len(changed) > len(a) // 200
                print(f"{'ok' if moved else 'FAIL'}: {name}: {len(changed)} samples differ from the default process")
                failures += not moved

            if name == "default":
                files = []
                for d in (nat, win):
                    p = os.path.join(d, "qv$0.dat")
                    files.append(open(p, "rb").read() if os.path.exists(p) else None)
                same = files[0] is not None and files[0] == files[1] and len(files[0]) == 18418
                print(f"{'ok' if same else 'FAIL'}: both modules write the same default process file qv$0.dat")
                if not same:
                    return 1
                default_file = files[0]
        # Ten minutes of programme: the same samples, compared by hash.
        long = os.path.join(args.work, "long")
        os.makedirs(long, exist_ok=True)
        env = dict(os.environ, QUORVANE_HOST_DIR=long)
        r = subprocess.run([args.native_host, args.native_module, "--minutes", "10"], cwd=long, env=env,
                           stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True, timeout=300)
        exe = os.path.join(long, "quorvane_test_host.exe")
        shutil.copy(args.wine_host, exe)
        rc, out = winecase.run(args.wine_run, exe, [args.wine_module, "--minutes", "10", "--stack", "misaligned"],
                               long, args.prefix, timeout=400, display=display)
        lines = [next((ln for ln in text.splitlines() if ln.startswith("long run:")), "")
                 for text in (r.stdout, out)]
        same = r.returncode == 0 and rc == 0 and lines[0] != "" and lines[0] == lines[1]
        print(f"{'ok' if same else 'FAIL'}: 10 minutes: native {lines[0] or r.stdout[-300:]} / "
              f"wine {lines[1] or out[-300:]}")
        failures += not same
    print(f"{failures} failure(s)")
    return 0 if failures == 0 else 1


if __name__ == "__main__":
    sys.exit(main())
