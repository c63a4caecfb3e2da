"""Benchmarks of start-up and of the installation run, and the sizes of what the installer ships.

  bench/run.sh [--rounds N] [--large-mib M] [--large-rounds N]

Builds nothing itself (run.sh does). Under Wine on a private Xvfb it times, in one run on this
machine, SETUP.EXE's start-up to a visible, idle welcome page against the smallest window
program of ours (startwatch.exe, from process creation; the two alternate round by round),
and the installer's copy run against a bare loop of the same twenty CopyFileW calls:
for the demo payload, and for twenty files of M MiB (64 by default) made for the purpose.
Prints medians, their ratio, and the peak working set of each run.
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

ARCH = we.build_arch()  # the build under test, from SETUP_E2E_ARCH (run.sh sets it)
BUILD = os.path.join(ROOT, "build", ARCH)
OBJDUMP = {"win32": "i686-w64-mingw32-objdump", "win64": "x86_64-w64-mingw32-objdump"}[ARCH]


def run_bench(prefix, source_letter, dest, rounds):
    proc = prefix.start(os.path.join(BUILD, "bench", "copyrun_bench.exe"),
                        args=["%s:\\" % source_letter, dest, str(rounds)])
    code = proc.wait(timeout=1800)
    out = proc.log().replace("\r", "")
    if code != 0:
        raise SystemExit("copyrun_bench failed (%s):\n%s" % (code, out))
    return out.strip()


def startup(prefix, rounds):
    watch = os.path.join(BUILD, "bench", "startwatch.exe")
    # Rounds alternate the two programs, so that the machine's drift falls on both alike.
    proc = prefix.start(watch, args=[str(rounds), "C:\\", "Floor", r"D:\floor.exe", "Welcome", r"D:\SETUP.EXE"])
    code = proc.wait(timeout=600)
    out = proc.log().replace("\r", "").strip()
    if code != 0:
        raise SystemExit("startwatch failed (%s): %s" % (code, out))
    floor, setup = (float(v) for v in out.splitlines()[-2:])
    return "\n".join(["%-30s median %7.1f ms" % ("floor (one plain window)", floor),
                      "%-30s median %7.1f ms" % ("SETUP.EXE to the welcome page", setup),
                      "ratio %.2f" % (setup / floor)])


def sizes():
    objdump = shutil.which(OBJDUMP)
    lines = []
    for name in ("SETUP.EXE", "STKIT432.DLL"):
        path = os.path.join(BUILD, "disk", name)
        dlls = []
        if objdump:
            out = subprocess.run([objdump, "-p", path], capture_output=True, text=True).stdout
            dlls = [l.split(":", 1)[1].strip() for l in out.splitlines() if "DLL Name:" in l]
        lines.append("%-13s %7d bytes (%.1f KiB)  imports: %s" % (name, os.path.getsize(path),
                                                                  os.path.getsize(path) / 1024, ", ".join(dlls)))
    return "\n".join(lines)


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--rounds", type=int, default=11)
    ap.add_argument("--large-mib", type=int, default=64)
    ap.add_argument("--large-rounds", type=int, default=9)
    args = ap.parse_args()

    print("== %s" % os.environ.get("SETUP_WINE_CHOICE", "the %s build under Wine" % ARCH))
    template = os.path.join(BUILD, "e2e", "prefix-template")
    work = tempfile.mkdtemp(prefix="setup-bench-")
    try:
        large = os.path.join(work, "large")
        subprocess.run([sys.executable, os.path.join(ROOT, "payload", "make_large_payload.py"), large,
                        "--mib", str(args.large_mib)], check=True, stdout=subprocess.DEVNULL)
        with we.Display() as display:
            if not we.template_is_ready(template):
                we.make_template(template, display.name)
            with we.Prefix(display, template=template, disk=False, screenshots=work, name="bench") as prefix:
                disk = os.path.join(work, "disk")
                shutil.copytree(os.path.join(BUILD, "disk"), disk)
                shutil.copy(os.path.join(BUILD, "bench", "floor.exe"), disk)
                prefix.map_drive("d", disk, copy=False)
                print("== start-up, %d rounds of each, alternating (after one untimed round)" % args.rounds)
                print(startup(prefix, args.rounds))
                prefix.map_drive("l", large, copy=False)
                print("== demo payload (4,800,000 bytes), %d rounds" % args.rounds)
                print(run_bench(prefix, "d", r"C:\bench-demo", args.rounds))
                print("== twenty files of %d MiB, %d rounds" % (args.large_mib, args.large_rounds))
                print(run_bench(prefix, "l", r"C:\bench-large", args.large_rounds))
        print("== sizes (stripped)")
        print(sizes())
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
