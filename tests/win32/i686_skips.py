#!/usr/bin/env python3
"""The i686 suite on a machine that cannot execute 32-bit programs, on any
machine: every test of the windows build tree runs with QUORVANE_NO_I386=1.
Each test labelled wine (it executes a Windows program) must be reported
Skipped by CTest with the reason, the others (the static checks) must pass,
and none may fail. A 32-bit program that a test starts without going
through scripts/needs-i386.sh fails under QUORVANE_NO_I386=1 (wine-run.sh
refuses it), so an unguarded test shows up here even where i386 runs."""
import argparse
import json
import os
import subprocess
import sys
import tempfile
import xml.etree.ElementTree as ET

REASON = "SKIPPED: QUORVANE_NO_I386=1"


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--tree", required=True)
    args = ap.parse_args()
    if not os.path.isfile(os.path.join(args.tree, "CTestTestfile.cmake")):
        print(f"SKIPPED: no i686 build tree at {args.tree} (cmake --preset windows && cmake --build --preset windows)")
        return 77
    env = dict(os.environ, QUORVANE_NO_I386="1")
    env.pop("QUORVANE_NO_I386_REASON", None)
    with tempfile.TemporaryDirectory() as tmp:
        junit = os.path.join(tmp, "junit.xml")
        listing = json.loads(subprocess.run(["ctest", "--test-dir", args.tree, "--show-only=json-v1"], env=env,
                                            capture_output=True, text=True, check=True).stdout)
        wine_tests = set()
        for test in listing["tests"]:
            for prop in test.get("properties", []):
                if prop["name"] == "LABELS" and "wine" in prop["value"]:
                    wine_tests.add(test["name"])
        r = subprocess.run(["ctest", "--test-dir", args.tree, "--output-junit", junit, "--timeout", "300"], env=env,
                           capture_output=True, text=True)
        root = ET.parse(junit).getroot()
    failures = []
    skipped = passed = 0
    for case in root.iter("testcase"):
        name = case.get("name")
        out = case.findtext("system-out") or ""
        status = case.get("status")
        if name in wine_tests:
            if status != "notrun" or case.find("skipped") is None or REASON not in out:
                failures.append(f"{name}: executes a Windows program but was not skipped with the reason "
                                f"(status {status}): {out[-300:]!r}")
            else:
                skipped += 1
        elif status != "run" or case.find("failure") is not None:
            failures.append(f"{name}: a static check did not pass (status {status}): {out[-300:]!r}")
        else:
            passed += 1
    if not wine_tests:
        failures.append("no test of the tree is labelled wine")
    for f in failures:
        print("FAIL: " + f)
    if r.returncode != 0 and not failures:
        failures.append(f"ctest exit {r.returncode}")
        print(r.stdout[-3000:])
    print(f"{skipped} tests skipped with the reason, {passed} static checks passed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
