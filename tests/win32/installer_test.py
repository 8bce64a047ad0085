#!/usr/bin/env python3
"""The Windows installer under Wine, installed and uninstalled as a user would.

1. Silent install into a fake player folder (/S /D=DIR) that already holds a
   user's qv$90.dat and the player's INI: the DLL lands in Plugins, the missing
   factory processes are added, the user's files are untouched, and the test
   host loads and runs the installed DLL from that folder. A process the user
   saves over a factory one is the user's: the silent uninstall
   (quorvane-uninstall.exe /S _?=DIR) keeps it with the user's other files and
   removes everything else the installer added.
2. No /D=: the folder named by the player's own uninstall entry is used;
   /D= still wins over it.
3. No /D= and no player: the usual Program Files folder; the uninstaller run
   as from the list of installed programs (without _?=) removes that folder
   again, since the installer made it.
"""
import argparse
import filecmp
import os
import shutil
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import winecase  # noqa: E402

PLAYER_KEY = r"HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Winamp"
OUR_KEY = r"HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Quorvane"
UNINSTALLER = "quorvane-uninstall.exe"

failures = []


def check(ok, what):
    print(("ok: " if ok else "FAIL: ") + what)
    if not ok:
        failures.append(what)


def win_path(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def tree(root):
    """Every file under root, as paths relative to it."""
    found = set()
    for dirpath, _, files in os.walk(root):
        for f in files:
            found.add(os.path.relpath(os.path.join(dirpath, f), root))
    return found


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--installer", required=True)
    ap.add_argument("--module", required=True)
    ap.add_argument("--host", required=True)
    ap.add_argument("--factory", required=True, help="folder of the factory qv$N.dat files")
    ap.add_argument("--wine-run", required=True)
    ap.add_argument("--prefix", required=True)
    ap.add_argument("--work", required=True)
    args = ap.parse_args()

    work = winecase.fresh_dir(args.work)
    factory = sorted(f for f in os.listdir(args.factory) if f.startswith("qv$") and f.endswith(".dat"))
    check(len(factory) >= 2 and "qv$90.dat" in factory, f"factory processes to install: {factory}")

    with winecase.Display() as display:
        def wine(exe, *exe_args, cwd=work, timeout=120):
            rc, out = winecase.run(args.wine_run, exe, list(exe_args), cwd, args.prefix, timeout, display)
            if rc != 0:
                print(out)
            return rc

        # 1. The fake player folder: the player's INI with the module's section
        #    and a process of the user's at a factory number.
        player = os.path.join(work, "Player")
        os.makedirs(player)
        host = os.path.join(player, "quorvane_test_host.exe")
        shutil.copy(args.host, host)
        user_90 = b"the user's own process 90"
        with open(os.path.join(player, "qv$90.dat"), "wb") as f:
            f.write(user_90)
        ini = b"[Quorvane2]\r\nopen=1\r\n"
        with open(os.path.join(player, "winamp.ini"), "wb") as f:
            f.write(ini)

        check(wine(args.installer, "/S", "/D=" + win_path(player)) == 0, "silent install into the player folder")
        installed = os.path.join(player, "Plugins", "dsp_quorvane.dll")
        check(os.path.isfile(installed) and filecmp.cmp(installed, args.module, shallow=False),
              "the DLL is in the player's Plugins folder")
        check(open(os.path.join(player, "qv$90.dat"), "rb").read() == user_90, "the user's qv$90.dat is untouched")
        for name in factory[1:]:
            path = os.path.join(player, name)
            check(os.path.isfile(path) and filecmp.cmp(path, os.path.join(args.factory, name), shallow=False),
                  f"factory process {name} added beside the player")
        check(os.path.isfile(os.path.join(player, UNINSTALLER)), "uninstaller written")
        check(open(os.path.join(player, "winamp.ini"), "rb").read() == ini, "the installer left the INI alone")

        rc, out = winecase.run(args.wine_run, host, [r"Plugins\dsp_quorvane.dll", "--render", "rendered.raw"],
                               player, args.prefix, 120, display)
        check(rc == 0 and "FAIL" not in out and os.path.getsize(os.path.join(player, "rendered.raw")) > 0,
              "the test host loads the installed DLL and processes")
        if rc != 0:
            print(out)

        # The user saves over the second factory process.
        saved = factory[1]
        user_saved = b"saved by the user over a factory process"
        with open(os.path.join(player, saved), "wb") as f:
            f.write(user_saved)
        # Whatever the module wrote while it ran is the user's too.
        ini_now = open(os.path.join(player, "winamp.ini"), "rb").read()
        ours = {os.path.join("Plugins", "dsp_quorvane.dll"), os.path.join("Plugins", "quorvane-install.ini")}
        ours |= {name for name in factory[2:]}
        users = tree(player) - ours - {UNINSTALLER}

        check(wine(os.path.join(player, UNINSTALLER), "/S", "_?=" + win_path(player)) == 0, "silent uninstall")
        os.remove(os.path.join(player, UNINSTALLER))
        check(tree(player) == users, f"left in the player folder: {sorted(tree(player))}, the user's: {sorted(users)}")
        check(open(os.path.join(player, "winamp.ini"), "rb").read() == ini_now, "the player's INI is untouched")
        check(open(os.path.join(player, "qv$90.dat"), "rb").read() == user_90, "the user's qv$90.dat is kept")
        check(open(os.path.join(player, saved), "rb").read() == user_saved, f"the user's {saved} is kept")
        check(not os.path.exists(os.path.join(player, "Plugins")), "the Plugins folder the installer made is gone")
        check(wine("reg", "query", OUR_KEY) != 0, "the entry in the installed programs is gone")

        # 2. The player's own uninstall entry names its folder.
        registered = os.path.join(work, "Registered")
        os.makedirs(os.path.join(registered, "Plugins"))
        open(os.path.join(registered, "winamp.exe"), "wb").close()
        uninstall_string = '"' + win_path(os.path.join(registered, "UninstWA.exe")) + '"'
        check(wine("reg", "add", PLAYER_KEY, "/v", "UninstallString", "/d", uninstall_string, "/f") == 0,
              "player's uninstall entry added")
        try:
            check(wine(args.installer, "/S") == 0, "silent install without /D=")
            check(os.path.isfile(os.path.join(registered, "Plugins", "dsp_quorvane.dll")),
                  "the DLL went to the folder of the player's uninstall entry")
            elsewhere = os.path.join(work, "Elsewhere")
            check(wine(args.installer, "/S", "/D=" + win_path(elsewhere)) == 0, "silent install with /D=")
            check(os.path.isfile(os.path.join(elsewhere, "Plugins", "dsp_quorvane.dll")),
                  "/D= wins over the player's uninstall entry")
        finally:
            wine("reg", "delete", PLAYER_KEY, "/f")
        check(wine(os.path.join(elsewhere, UNINSTALLER), "/S", "_?=" + win_path(elsewhere)) == 0,
              "silent uninstall")
        os.remove(os.path.join(elsewhere, UNINSTALLER))
        check(not os.path.exists(os.path.join(elsewhere, "Plugins")), "the uninstaller took what it added")
        check(wine(os.path.join(registered, UNINSTALLER), "/S", "_?=" + win_path(registered)) == 0,
              "silent uninstall")
        os.remove(os.path.join(registered, UNINSTALLER))
        check(tree(registered) == {"winamp.exe"} and os.path.isdir(os.path.join(registered, "Plugins")),
              f"the player's own Plugins folder stays: {sorted(tree(registered))}")

        # 3. No player: the usual Program Files folder, made by the installer.
        drive_c = os.path.join(args.prefix, "drive_c")
        candidates = [os.path.join(drive_c, d, "Winamp") for d in ("Program Files (x86)", "Program Files")]
        for c in candidates:  # left by an earlier run that failed
            shutil.rmtree(c, ignore_errors=True)
        check(wine(args.installer, "/S") == 0, "silent install without /D= and without the player")
        default = next((c for c in candidates if os.path.isdir(c)), None)
        check(default is not None and os.path.isfile(os.path.join(default, "Plugins", "dsp_quorvane.dll")),
              f"the DLL went to Program Files: {default}")
        if default:
            # As from the list of installed programs: the uninstaller copies
            # itself away, returns at once, and its copy does the work.
            check(wine(os.path.join(default, UNINSTALLER), "/S") == 0, "uninstaller started")
            deadline = time.monotonic() + 60
            while os.path.exists(default) and time.monotonic() < deadline:
                time.sleep(0.5)
            check(not os.path.exists(default), "the Program Files folder the installer made is gone")
            shutil.rmtree(default, ignore_errors=True)

    print(f"{len(failures)} failure(s)")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
