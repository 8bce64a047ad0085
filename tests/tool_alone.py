#!/usr/bin/env python3
"""The command-line tool configures and builds without what only the tests and
the plug-ins need: GoogleTest disabled outright, and neither MPFR nor lilv nor
the LV2/LADSPA headers looked for (the configured cache names none of them).
This is the demo preset of scripts/run-demo.sh, which installs only the tool's
packages."""
import argparse
import os
import shutil
import subprocess
import sys

ABSENT = ("QV_MPFR", "QV_GMP", "GTest_DIR", "QV_LILV", "QV_LV2", "QV_LADSPA", "benchmark_DIR")


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--source", required=True)
    ap.add_argument("--work", required=True)
    args = ap.parse_args()
    shutil.rmtree(args.work, ignore_errors=True)
    os.makedirs(args.work)
    # The demo preset, in a tree of its own, at -O0 to be quick.
    configure = ["cmake", "--preset", "demo", "-B", args.work, "-DCMAKE_BUILD_TYPE=Debug",
                 "-DCMAKE_INTERPROCEDURAL_OPTIMIZATION=OFF", "-DCMAKE_DISABLE_FIND_PACKAGE_GTest=ON",
                 "-DCMAKE_DISABLE_FIND_PACKAGE_benchmark=ON"]
    r = subprocess.run(configure, cwd=args.source, capture_output=True, text=True)
    if r.returncode != 0:
        print(r.stdout + r.stderr)
        print("FAIL: the tool alone does not configure")
        return 1
    with open(os.path.join(args.work, "CMakeCache.txt")) as f:
        looked_up = [line.split(":")[0] for line in f if line.startswith(ABSENT)]
    if looked_up:
        print("FAIL: the tool's configuration looked for " + ", ".join(looked_up))
        return 1
    jobs = os.environ.get("QUORVANE_JOBS", str(os.cpu_count() or 2))
    r = subprocess.run(["cmake", "--build", args.work, "-j", jobs, "--target", "quorvane", "quorvane_demo_signal"],
                       capture_output=True, text=True)
    if r.returncode != 0:
        print(r.stdout[-4000:] + r.stderr[-4000:])
        print("FAIL: the tool alone does not build")
        return 1
    r = subprocess.run([os.path.join(args.work, "quorvane"), "--version"], capture_output=True, text=True)
    if r.returncode != 0 or not r.stdout.startswith("quorvane "):
        print(f"FAIL: the tool built alone says {r.stdout!r} {r.stderr!r}")
        return 1
    print(f"ok: {r.stdout.strip()} configured and built without GoogleTest, MPFR, lilv, LV2 or LADSPA")
    shutil.rmtree(args.work, ignore_errors=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
