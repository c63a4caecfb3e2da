"""Times the copy run of several installer folders against one another: from the click on the
destination page's "Next >" to the final message (bench/clickwatch.exe, as bench/run.py does for
SETUP.EXE and the peer), the folders alternating round by round in one Wine prefix, for the demo
payload and for twenty files of M MiB. For a change to the copy run: the build before it and the
build after it, in the same conditions.

  python3 bench/copy_compare.py [--rounds N] [--large-mib M] [--large-rounds N] NAME=FOLDER ...

FOLDER is an installer folder (SETUP.EXE, STKIT432.DLL and the demo payload: build/win32/disk,
or a copy of an earlier build's). Uses the build tree of SETUP_E2E_ARCH (win32 by default): its
clickwatch.exe (cmake --build build/win32 --target bench_tools) and prefix template. Prints, per
payload, "NAME <median ms> <median peak MiB>" for each folder.
"""

import argparse
import os
import shutil
import subprocess
import sys
import tempfile

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(ROOT, "tests", "e2e"))
import wineenv as we  # noqa: E402

BUILD = os.path.join(ROOT, "build", we.build_arch())
MESSAGE = "Quorvant '99 Installation Complete!"
DEST = r"C:\Program Files\Quorvant '99"
LETTERS = "pqrstuvw"


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--rounds", type=int, default=11)
    ap.add_argument("--large-mib", type=int, default=64)
    ap.add_argument("--large-rounds", type=int, default=5)
    ap.add_argument("folders", nargs="+", metavar="NAME=FOLDER")
    args = ap.parse_args()
    named = [f.split("=", 1) for f in args.folders]
    if len(named) > len(LETTERS) or any(len(n) != 2 for n in named):
        raise SystemExit("give up to %d NAME=FOLDER" % len(LETTERS))
    work = tempfile.mkdtemp(prefix="setup-copy-compare-")
    try:
        large = os.path.join(work, "large")
        subprocess.run([sys.executable, os.path.join(ROOT, "payload", "make_large_payload.py"), large,
                        "--mib", str(args.large_mib)], check=True, stdout=subprocess.DEVNULL)
        with we.Display() as display, \
                we.Prefix(display, template=os.path.join(BUILD, "e2e", "prefix-template"), disk=False,
                          screenshots=work, name="copy-compare") as prefix:
            for payload, rounds in (("demo", args.rounds), ("large", args.large_rounds)):
                cmd = [str(rounds), "C:\\", DEST, MESSAGE]
                for (name, folder), letter in zip(named, LETTERS):
                    drive = os.path.join(work, "%s-%s" % (payload, letter))
                    if payload == "demo":
                        shutil.copytree(folder, drive)
                    else:  # the large payload's files shared, each folder's SETUP.EXE and library
                        shutil.copytree(large, drive, copy_function=os.link)
                        for exe in ("SETUP.EXE", "STKIT432.DLL"):
                            shutil.copy(os.path.join(folder, exe), drive)
                    prefix.map_drive(letter, drive, copy=False)
                    cmd += [name, letter.upper() + r":\SETUP.EXE", "Welcome", "Next >",
                            "Choose Destination Location", "Next >"]
                proc = prefix.start(os.path.join(BUILD, "bench", "clickwatch.exe"), args=cmd)
                code = proc.wait(3600)
                out = proc.log().replace("\r", "").strip().splitlines()
                if code != 0:
                    raise SystemExit("clickwatch failed (%s):\n%s" % (code, "\n".join(out)))
                print("== %s payload, %d rounds: click to final message (median ms, peak MiB)" % (payload, rounds))
                print("\n".join(out[-len(named):]), flush=True)
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
