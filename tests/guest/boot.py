"""Runs the end-to-end modules of a build tree in the test guest, one boot for all of them.

    python3 boot.py --build BUILD --out OUT [--image DIR] MODULE...

1. Builds the guest image if it is missing or stale (scripts/guest/image.sh).
2. Writes OUT/plan.json: for the prefix template and each MODULE, the command, environment,
   folder and time-out that ctest gives it in BUILD (read with ctest --show-only=json-v1).
3. Boots the guest under QEMU with the checkout shared at its own path; the guest's init runs
   tests/guest/inside.py, which leaves OUT/results/<test>.log and .json, and powers off.
   The guest's console goes to OUT/console.log. A guest still running at the bound is killed.

QEMU emulates the processor (TCG): the hosts this is for have no usable hardware
virtualisation (the /dev/kvm seen on some of them boots only kernels made for its nested
hypervisor), and emulation runs the same everywhere.
Exits 0 when the guest ran to its end, whatever the modules' results (report.py gives each),
and non-zero when the image could not be built, QEMU could not start, or the bound was hit."""

import argparse
import ctypes
import json
import os
import shutil
import signal
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
SOURCE = os.path.realpath(os.path.dirname(os.path.dirname(HERE)))
# The guest runs the rig several times slower than the host: the time bounds of the rig's waits
# are multiplied by this (SETUP_E2E_SLOW).
FACTOR = 5
# Each module's time-out in the guest: a bound for a hang, not a measure. The slowest module
# takes about 5 minutes there on a quiet host, and two to three times that while the host's own
# steps share the processor with the guest, as in the test command.
MODULE_TIMEOUT = 1200
# The prefixes and what the tests install live on the guest's tmpfs: the layout module alone
# holds four prefixes and two installations of 1.3 GB there at once.
MEMORY = "10G"
# The checks whose outcome depends on the host's kind (the probe, the package and build choices,
# the README commands' lines), from the native build tree: the guest is a host that runs 32-bit
# code, so on a host that runs 64-bit code only the test command tries that kind here for real,
# and the second pass of these checks there (as on a 64-bit-only host, under no32) too.
HOST_CHECKS = ("tools.bootstrap", "tools.bootstrap.no32")


def die_with_parent(signum=signal.SIGKILL):
    """In the child, before QEMU starts: the kernel kills it when this process ends, even by
    SIGKILL (ctest's time-out), so no guest outlives the test."""
    PR_SET_PDEATHSIG = 1
    ctypes.CDLL(None, use_errno=True).prctl(PR_SET_PDEATHSIG, signum)


def build_image(image):
    """Runs image.sh; ended with this process, it gets SIGTERM, so that it unmounts what it
    mounted and removes its half-built tree."""
    proc = subprocess.Popen([os.path.join(SOURCE, "scripts", "guest", "image.sh"), image],
                            stdin=subprocess.DEVNULL, start_new_session=True,
                            preexec_fn=lambda: die_with_parent(signal.SIGTERM))
    try:
        return proc.wait()
    except BaseException:
        os.killpg(proc.pid, signal.SIGTERM)
        try:
            proc.wait(timeout=60)
        except subprocess.TimeoutExpired:
            os.killpg(proc.pid, signal.SIGKILL)
        raise


def on_sigterm(signum, frame):
    raise SystemExit(128 + signum)


def summary(the_plan):
    """One line per test planned: its outcome and time in the guest."""
    lines = []
    for test in the_plan["tests"]:
        try:
            with open(os.path.join(the_plan["results"], test["name"] + ".json")) as f:
                outcome = json.load(f)
        except OSError:
            lines.append("%-22s no result" % test["name"])
            continue
        code = outcome["exit_code"]
        lines.append("%-22s %-7s %6.1f s" % (test["name"], "passed" if code == 0 else
                                             "skipped" if code == 77 else
                                             "timeout" if code is None else "failed",
                                             outcome["seconds"]))
    return lines


def chosen_modules(modules):
    """Every module, or those that SETUP_GUEST_MODULES names ("host": the host-kind checks)."""
    wanted = os.environ.get("SETUP_GUEST_MODULES", "").replace(",", " ").split()
    if not wanted or wanted == ["all"]:
        return modules, True
    unknown = [m for m in wanted if m not in modules and m != "host"]
    if unknown:
        sys.exit("guest: no module %s among %s" % (", ".join(unknown), " ".join(modules)))
    return [m for m in modules if m in wanted], "host" in wanted


def listed_tests(build, *args):
    """The tests of a build tree as ctest gives them: command, environment and folder."""
    listing = subprocess.run(["ctest", "--test-dir", build, *args, "--show-only=json-v1"],
                             check=True, stdout=subprocess.PIPE, stdin=subprocess.DEVNULL).stdout
    known = {}
    for t in json.loads(listing)["tests"]:
        props = {p["name"]: p["value"] for p in t.get("properties", [])}
        known[t["name"]] = {
            "name": t["name"],
            "command": t["command"],
            "env": dict(e.split("=", 1) for e in props.get("ENVIRONMENT", [])),
            "cwd": props.get("WORKING_DIRECTORY", build),
        }
    return known


def plan(build, out, modules, factor, native=None):
    known = listed_tests(build, "-L", "e2e")
    names = ["e2e.prefix_template"] + ["e2e." + m for m in modules] if modules else []
    missing = [n for n in names if n not in known]
    if missing:
        sys.exit("guest: %s has no test %s" % (build, ", ".join(missing)))
    tests = [known[n] for n in names]
    if native:  # before the template: they need no Wine prefix
        host = listed_tests(native, "-R", "^tools\\.bootstrap")
        missing = [n for n in HOST_CHECKS if n not in host]
        if missing:
            sys.exit("guest: %s has no test %s (build the native preset first)" % (native, ", ".join(missing)))
        checks = [dict(host[n]) for n in HOST_CHECKS]
        # Of tools.bootstrap, only what depends on the host's kind: the rest is the same anywhere.
        checks[0]["command"] = checks[0]["command"] + ["ThisHost", "No32Launcher"]
        tests = checks + tests
    return {"factor": factor, "module_timeout": MODULE_TIMEOUT,
            "results": os.path.join(out, "results"), "tests": tests}


def qemu_command(image, plan_path):
    if " " in SOURCE:
        sys.exit("guest: the checkout's path %r has a space, which the kernel command line "
                 "cannot carry" % SOURCE)
    append = ("root=/dev/vda rw console=ttyS0 panic=1 quiet init=/sbin/setup-guest-init "
              "setup.share=%s setup.run=%s setup.plan=%s"
              % (SOURCE, os.path.join(HERE, "inside.py"), plan_path))
    # The plain x86-64 processor model: SSE2 and nothing newer, as the product requires, and
    # under emulation about a sixth faster than "max" (whose SMAP, as QEMU 7.2 emulates it,
    # would kill every 32-bit program at its return to user mode).
    return ["qemu-system-x86_64", "-accel", "tcg,thread=multi", "-cpu", "qemu64",
            "-smp", "2", "-m", MEMORY,
            "-display", "none", "-monitor", "none", "-serial", "stdio",
            "-no-reboot", "-nic", "none",
            "-kernel", os.path.join(image, "vmlinuz"), "-initrd", os.path.join(image, "initrd.img"),
            "-append", append,
            # snapshot: the guest's writes go to a temporary overlay, never into the image
            "-drive", "file=%s,format=raw,if=virtio,cache=unsafe,snapshot=on"
            % os.path.join(image, "root.img"),
            "-virtfs", "local,path=%s,mount_tag=host,security_model=none,id=host" % SOURCE]


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--build", required=True)
    ap.add_argument("--out", required=True)
    ap.add_argument("--image", default=os.environ.get("SETUP_GUEST_IMAGE")
                    or os.path.join(SOURCE, "build", "guest-image"))
    ap.add_argument("--bound", type=float, default=float(os.environ.get("SETUP_GUEST_BOUND", 0)),
                    help="seconds the guest may run (default: the modules' time-outs)")
    ap.add_argument("--native", help="the native build tree, whose host-kind checks run too")
    ap.add_argument("modules", nargs="+")
    args = ap.parse_args()
    args.build, args.out, args.image = (os.path.realpath(p) for p in (args.build, args.out, args.image))
    signal.signal(signal.SIGTERM, on_sigterm)

    if args.native and not os.path.exists(os.path.join(args.native, "CTestTestfile.cmake")):
        print("guest: no native build tree in %s: the host-kind checks are left out" % args.native)
        args.native = None
    for folder in [args.build, args.out] + ([args.native] if args.native else []):
        if not os.path.realpath(folder).startswith(SOURCE + os.sep):
            sys.exit("guest: %s is outside the checkout %s, the only folder the guest sees"
                     % (folder, SOURCE))
    if "," in SOURCE + args.image:
        sys.exit("guest: QEMU's options cannot carry a comma in %s or %s" % (SOURCE, args.image))
    # Nothing of an earlier run may pass for this one's.
    for name in ("plan.json", "summary.txt", "console.log"):
        if os.path.exists(os.path.join(args.out, name)):
            os.remove(os.path.join(args.out, name))
    shutil.rmtree(os.path.join(args.out, "results"), ignore_errors=True)
    os.makedirs(os.path.join(args.out, "results"))

    start = time.monotonic()
    if build_image(args.image) != 0:
        sys.exit("guest: the guest image could not be built (see above)")
    image_seconds = time.monotonic() - start

    modules, host = chosen_modules(args.modules)
    the_plan = plan(args.build, args.out, modules, FACTOR,
                    os.path.realpath(args.native) if args.native and host else None)
    plan_path = os.path.join(args.out, "plan.json")
    with open(plan_path, "w") as f:
        json.dump(the_plan, f, indent=1)
    # One boot, then every module in turn: a guest still running past the sum of the modules'
    # time-outs, plus its boot, is hung.
    bound = args.bound or 120 + MODULE_TIMEOUT * len(the_plan["tests"])
    print("guest: %s; bound %d s" % (" ".join(t["name"] for t in the_plan["tests"]), bound), flush=True)

    console = os.path.join(args.out, "console.log")
    boot = time.monotonic()
    with open(console, "wb") as log:
        qemu = subprocess.Popen(qemu_command(args.image, plan_path), stdin=subprocess.DEVNULL,
                                stdout=log, stderr=subprocess.STDOUT, start_new_session=True,
                                preexec_fn=die_with_parent)
        try:
            code = qemu.wait(timeout=bound)
        except subprocess.TimeoutExpired:
            os.killpg(qemu.pid, signal.SIGKILL)
            qemu.wait()
            code = None
        except BaseException:  # ctest's own time-out or ^C: the guest goes with us
            os.killpg(qemu.pid, signal.SIGKILL)
            raise
    ran = time.monotonic() - boot
    with open(console, "rb") as f:
        tail = f.read()[-3000:].decode("utf-8", "replace")
    print(tail, flush=True)
    try:
        with open(os.path.join(the_plan["results"], "boot.json")) as f:
            booted = "reached its tests %.1f s after boot" % json.load(f)["seconds_to_tests"]
    except OSError:
        booted = "never reached its tests"
    lines = ["guest: image ready in %.0f s; the guest %s and ran %.0f s in all"
             % (image_seconds, booted, ran)] + summary(the_plan)
    with open(os.path.join(args.out, "summary.txt"), "w") as f:
        f.write("\n".join(lines) + "\n")
    print("\n".join(lines), flush=True)
    if code is None:
        with open(os.path.join(the_plan["results"], "killed"), "w") as f:
            f.write("the guest was still running after %d s and was killed\n" % bound)
        sys.exit("guest: still running after %d s; killed (console: %s)" % (bound, console))
    if code != 0:
        sys.exit("guest: QEMU ended with exit code %d (console: %s)" % (code, console))


if __name__ == "__main__":
    main()
