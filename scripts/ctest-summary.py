#!/usr/bin/env python3
"""One line on a CTest run from its JUnit file: how many tests passed, which
failed, and which were skipped with the reason each gave (the first line of
its output that starts with SKIPPED:, else CTest's own)."""
import sys
import xml.etree.ElementTree as ET


def main(path):
    try:
        root = ET.parse(path).getroot()
    except (OSError, ET.ParseError) as e:
        print(f"no results ({e})")
        return
    passed, failed, skipped = [], [], {}
    for case in root.iter("testcase"):
        name = case.get("name")
        if case.find("failure") is not None or case.get("status") == "fail":
            failed.append(name)
        elif case.find("skipped") is not None or case.get("status") in ("notrun", "disabled"):
            out = case.findtext("system-out") or ""
            reason = next((line[len("SKIPPED:"):].strip() for line in out.splitlines()
                           if line.startswith("SKIPPED:")), None)
            if reason is None:
                el = case.find("skipped")
                reason = el.get("message") if el is not None else case.get("status")
            skipped.setdefault(reason, []).append(name)
        else:
            passed.append(name)
    parts = []
    if failed:
        parts.append(f"FAILED {len(failed)} ({', '.join(failed)})")
    parts.append(f"{len(passed)} passed")
    for reason, names in skipped.items():
        parts.append(f"{len(names)} skipped ({reason})")
    print(", ".join(parts))


if __name__ == "__main__":
    main(sys.argv[1])
