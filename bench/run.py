"""Benchmarks of start-up and of the installation run, the sizes of what the installer ships, and
the same job done by a peer installer system, side by side.

  bench/run.sh [--rounds N] [--large-mib M] [--large-rounds N]

Builds nothing of ours itself (run.sh does); builds the peer installer from bench/peer/quorvant.nsi
with makensis, for the same architecture as the SETUP.EXE under test. Under Wine on a private Xvfb,
in one run on this machine, it times:
  - start-up to the first page ready for input: SETUP.EXE, the peer and the smallest window
    program of ours (startwatch.exe; the three alternate round by round);
  - the installer's copy run against a bare loop of the same twenty CopyFileW calls
    (copyrun_bench.exe), for the demo payload and for twenty files of M MiB (64 by default);
  - click to final message: SETUP.EXE and the peer driven alike (clickwatch.exe: the first
    page's next button, then the time from the click that starts the copying until the final
    message box exists), with each one's peak working set, for both payloads.
Prints medians, ratios and a side-by-side table in Markdown.
"""

import argparse
import os
import re
import shutil
import subprocess
import sys
import tempfile

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(ROOT, "tests", "e2e"))
sys.path.insert(0, os.path.join(ROOT, "bench"))
import wineenv as we  # noqa: E402
import mapsize  # noqa: E402

ARCH = we.build_arch()  # the build under test, from SETUP_E2E_ARCH (run.sh sets it)
BUILD = os.path.join(ROOT, "build", ARCH)
OBJDUMP = {"win32": "i686-w64-mingw32-objdump", "win64": "x86_64-w64-mingw32-objdump"}
PEER_TARGET = {"win32": "x86-unicode", "win64": "amd64-unicode"}
PEER = "PEER.EXE"
PEER_TITLE = "Quorvant '99 Setup"
MESSAGE = "Quorvant '99 Installation Complete!"
DEST = r"C:\Program Files\Quorvant '99"


def wine_program(prefix, exe, args, timeout):
    proc = prefix.start(os.path.join(BUILD, "bench", exe), args=args)
    code = proc.wait(timeout=timeout)
    out = proc.log().replace("\r", "").strip()
    if code != 0:
        raise SystemExit("%s failed (%s):\n%s" % (exe, code, out))
    return out


def copy_run(prefix, source_letter, dest, rounds):
    """copyrun_bench's report and its bare loop's median in seconds."""
    out = wine_program(prefix, "copyrun_bench.exe", ["%s:\\" % source_letter, dest, str(rounds)], 1800)
    return out, float(re.search(r"bare loop median ([0-9.]+) s", out).group(1))


def startup(prefix, rounds):
    """Medians in ms of the floor, SETUP.EXE to its welcome page and the peer to its first page;
    rounds alternate the three, so that the machine's drift falls on all alike."""
    out = wine_program(prefix, "startwatch.exe",
                       [str(rounds), "C:\\", "Floor", r"D:\floor.exe", "Welcome", r"D:\SETUP.EXE",
                        PEER_TITLE, "D:\\" + PEER], 900)
    return [float(v) for v in out.splitlines()[-3:]]


def click_to_message(prefix, letter, rounds):
    """{name: (median ms, median peak MiB)} for SETUP.EXE and the peer, alternating."""
    out = wine_program(prefix, "clickwatch.exe",
                       [str(rounds), letter + ":\\", DEST, MESSAGE,
                        "SETUP.EXE", letter + r":\SETUP.EXE", "Welcome", "Next >",
                        "Choose Destination Location", "Next >",
                        "peer", letter + ":\\" + PEER, PEER_TITLE, "Next >", PEER_TITLE, "Install"], 3600)
    result = {}
    for line in out.splitlines()[-2:]:
        name, ms, mib = line.split()
        result[name] = (float(ms), float(mib))
    return result


def peer_manifest(path):
    """The peer's copies, written from the installer's own manifest so that both do the same job."""
    with open(os.path.join(ROOT, "install", "Constants.h"), encoding="utf-8") as f:
        rows = re.findall(r'\{L"([^"]+)", L"([^"]+)", Folder::(Data|Destination)\}', f.read())
    if len(rows) != 20:
        raise SystemExit("expected the twenty manifest rows in install/Constants.h, found %d" % len(rows))
    with open(path, "w", encoding="utf-8") as f:
        for source, dest, folder in rows:
            f.write('  CopyFiles /SILENT "$EXEDIR\\%s" "$INSTDIR\\%s%s"\n'
                    % (source, "DATA\\" if folder == "Data" else "", dest))


def build_peer(work, arch):
    manifest = os.path.join(work, "copies.nsh")
    peer_manifest(manifest)
    out = os.path.join(work, "peer-%s.exe" % arch)
    subprocess.run(["makensis", "-V2", "-DTARGET=" + PEER_TARGET[arch], "-DOUTFILE=" + out,
                    "-DMANIFEST=" + manifest, os.path.join(ROOT, "bench", "peer", "quorvant.nsi")],
                   check=True, stdout=subprocess.DEVNULL)
    return out


def imports(path, arch):
    objdump = shutil.which(OBJDUMP[arch])
    if not objdump:
        return []
    out = subprocess.run([objdump, "-p", path], capture_output=True, text=True).stdout
    return [l.split(":", 1)[1].strip() for l in out.splitlines() if "DLL Name:" in l]


def sizes(peers):
    """One line per file of both builds (where built) and the peers of both architectures."""
    lines = []
    for arch in ("win32", "win64"):
        for name in ("SETUP.EXE", "STKIT432.DLL"):
            path = os.path.join(ROOT, "build", arch, "disk", name)
            if os.path.isfile(path):
                lines.append("%-6s %-13s %7d bytes (%.1f KiB)  imports: %s" % (
                    arch, name, os.path.getsize(path), os.path.getsize(path) / 1024,
                    ", ".join(imports(path, arch))))
        lines.append("%-6s %-13s %7d bytes (%.1f KiB)" % (arch, "peer", os.path.getsize(peers[arch]),
                                                          os.path.getsize(peers[arch]) / 1024))
    return "\n".join(lines)


def side_by_side(args, peer_size, start, clicks, floors):
    setup_size = os.path.getsize(os.path.join(BUILD, "disk", "SETUP.EXE"))
    floor_size = os.path.getsize(os.path.join(BUILD, "bench", "floor.exe"))
    rows = [
        "| | SETUP.EXE | peer (Modern UI) | our floor |",
        "|---|---|---|---|",
        "| stripped size | %d bytes | %d bytes | %d bytes (one-window program) |"
        % (setup_size, peer_size, floor_size),
        "| start-up to the first page ready for input | %.1f ms | %.1f ms | %.1f ms (one window) |"
        % (start[1], start[2], start[0]),
    ]
    for label, key in (("demo payload (4,800,000 bytes)", "demo"),
                       ("twenty files of %d MiB" % args.large_mib, "large")):
        c, bare = clicks[key], floors[key]
        rows.append("| click to final message, %s | %.1f ms | %.1f ms | %.1f ms (bare copy loop) |"
                    % (label, c["SETUP.EXE"][0], c["peer"][0], bare * 1000))
        rows.append("| peak working set, %s | %.1f MiB | %.1f MiB | |"
                    % (label, c["SETUP.EXE"][1], c["peer"][1]))
    return "\n".join(rows)


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
        peers = {arch: build_peer(work, arch) for arch in ("win32", "win64")}
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
                for folder in (disk, large):  # both installers beside each payload
                    shutil.copy(peers[ARCH], os.path.join(folder, PEER))
                for name in ("SETUP.EXE", "STKIT432.DLL"):
                    shutil.copy(os.path.join(BUILD, "disk", name), large)
                prefix.map_drive("d", disk, copy=False)
                prefix.map_drive("l", large, copy=False)

                print("== start-up, %d rounds of each, alternating (after one untimed round)" % args.rounds)
                start = startup(prefix, args.rounds)
                for label, ms in zip(("floor (one plain window)", "SETUP.EXE to the welcome page",
                                      "peer to its welcome page"), start):
                    print("%-30s median %7.1f ms" % (label, ms))
                print("ratio to the floor: SETUP.EXE %.2f, peer %.2f" % (start[1] / start[0], start[2] / start[0]))

                floors, clicks = {}, {}
                for key, letter, rounds, what in (
                        ("demo", "d", args.rounds, "demo payload (4,800,000 bytes)"),
                        ("large", "l", args.large_rounds, "twenty files of %d MiB" % args.large_mib)):
                    print("== %s, %d rounds" % (what, rounds))
                    report, floors[key] = copy_run(prefix, letter, "C:\\bench-" + key, rounds)
                    print(report)
                    clicks[key] = click_to_message(prefix, letter.upper(), rounds)
                    for name, (ms, mib) in clicks[key].items():
                        print("click to final message, %-9s median %8.1f ms, peak working set %.1f MiB"
                              % (name, ms, mib))
        print("== sizes (stripped)")
        print(sizes(peers))
        for arch in ("win32", "win64"):
            if os.path.isfile(os.path.join(ROOT, "build", arch, "SETUP.map")):
                print("== where SETUP.EXE's bytes go (%s build, from the linker's map)" % arch)
                print(mapsize.report(os.path.join(ROOT, "build", arch)))
        print("== side by side (%s build)" % ARCH)
        print(side_by_side(args, os.path.getsize(peers[ARCH]), start, clicks, floors))
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
