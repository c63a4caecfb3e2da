"""Tests of the set-up that decides what a host needs: scripts/bootstrap.sh against stand-ins for
apt-get, dpkg and dpkg-query (a mirror that fails or serves indexes that do not fit together,
installs that fail), with the host probe stood in for (scripts/wine-build.sh's use of it is in
test_tools.py). Nothing is installed and no network is used.

ThisHost runs what depends on the host's kind for real: the probe, the bootstrap's package choice,
the build choice and the lines of both README commands. On a host that runs 32-bit code, ctest runs
it a second time under tests/tools/no32, as on a host that runs 64-bit code only:

    python3 tests/tools/test_bootstrap.py                  (ctest: tools.bootstrap)
    python3 tests/tools/test_bootstrap.py --no32 NO32      (ctest: tools.bootstrap.no32)
"""

import os
import subprocess
import sys
import tempfile
import unittest

import test_tools  # its Scratch: a scratch folder and shell scripts in it

ROOT = test_tools.ROOT
# Where everything runs several times slower (the test guest), its bounds are multiplied by this.
SLOW = float(os.environ.get("SETUP_E2E_SLOW") or 1)
CODENAME = subprocess.run(["sh", "-c", '. /etc/os-release && echo "$VERSION_CODENAME"'],
                          capture_output=True, text=True).stdout.strip()

# apt-get as a mirror in some state would answer. The state is in $STATE/: "update" (ok,
# fail-once, fail), "install" (ok, fail, base-only: only with -t, fail-for:PKG: whenever PKG is
# asked for), "installed" (what an install put there), "calls" (every call's arguments).
APT_GET = r"""
    echo "apt-get $*" >>"$STATE/calls"
    case "$1" in
      update)
        mode=$(cat "$STATE/update")
        [ "$mode" = ok ] && exit 0
        [ "$mode" = fail-once ] && [ -f "$STATE/update.failed" ] && exit 0
        touch "$STATE/update.failed"
        echo "E: Failed to fetch http://mirror.invalid/dists/x/main/binary-i386/Packages.xz  File has unexpected size (374820 != 376004). Mirror sync in progress?"
        echo "E: Some index files failed to download. They have been ignored, or old ones used instead."
        exit 100 ;;
      install)
        shift
        simulate=0 base=0 pkgs=""
        for a in "$@"; do
          case $a in -s) simulate=1 ;; -t) base=1 ;; -*|"$CODENAME") ;; *) pkgs="$pkgs $a" ;; esac
        done
        mode=$(cat "$STATE/install")
        fail=0
        case $mode in
          fail) fail=1 ;;
          base-only) [ $base = 1 ] || fail=1 ;;
          fail-for:*) for p in $pkgs; do [ "$p" = "${mode#fail-for:}" ] && fail=1; done ;;
        esac
        if [ $fail = 1 ]; then
          echo "Reading package lists..."
          echo "E: Unable to correct problems, you have held broken packages."
          exit 100
        fi
        [ $simulate = 1 ] || for p in $pkgs; do echo "$p" >>"$STATE/installed"; done
        exit 0 ;;
    esac
    """

DPKG_QUERY = r"""
    found=1
    for p in "$@"; do
      case $p in -*) continue ;; esac
      grep -qx "$p" "$STATE/installed" 2>/dev/null || continue
      case $p in *:*) echo "$p installed" ;; *) echo "$p:amd64 installed" ;; esac
      found=0
    done
    exit $found
    """

DPKG = r"""
    echo "dpkg $*" >>"$STATE/calls"
    case "$1" in
      --print-foreign-architectures) cat "$STATE/archs" 2>/dev/null ;;
      --add-architecture) echo "$2" >>"$STATE/archs" ;;
    esac
    """

RUNS_32 = "exit 0\n"
NO_32 = 'echo "bash: $0: cannot execute binary file: Exec format error" >&2; exit 126\n'


class Apt(test_tools.Scratch):
    """A scratch folder with apt-get, dpkg, dpkg-query and sudo stood in for."""

    def setUp(self):
        super().setUp()
        self.state = self.path("state")
        os.makedirs(self.state)
        os.makedirs(self.path("bin"))
        for name, body in (("apt-get", APT_GET), ("dpkg-query", DPKG_QUERY), ("dpkg", DPKG),
                           ("sudo", 'exec "$@"\n')):
            self.script(os.path.join("bin", name), body)
        self.set_state("update", "ok")
        self.set_state("install", "ok")

    def path(self, *names):
        return os.path.join(self.dir, *names)

    def set_state(self, name, text):
        with open(os.path.join(self.state, name), "w") as f:
            f.write(text + "\n")

    def calls(self):
        try:
            with open(os.path.join(self.state, "calls")) as f:
                return f.read().splitlines()
        except FileNotFoundError:
            return []

    def bootstrap(self, host32=True, *args):
        probe = self.script("probe", RUNS_32 if host32 else NO_32)
        env = dict(os.environ, PATH=self.path("bin") + os.pathsep + os.environ["PATH"],
                   STATE=self.state, CODENAME=CODENAME, SETUP_PROBE32=probe, SETUP_APT_PAUSE="0")
        r = subprocess.run([os.path.join(ROOT, "scripts/bootstrap.sh"), *args], env=env,
                           capture_output=True, text=True, timeout=60 * SLOW)
        return r.returncode, r.stdout + r.stderr

    def installs(self):
        return [c for c in self.calls() if c.startswith("apt-get install") and " -s " not in c]


class Bootstrap(Apt):
    """scripts/bootstrap.sh with the package tools and the probe stood in for."""

    def test_a_mirror_that_fails_once_is_tried_again(self):
        self.set_state("update", "fail-once")
        code, out = self.bootstrap()
        self.assertEqual(code, 0, out)
        self.assertEqual(sum(c == "apt-get update -qq" for c in self.calls()), 2)
        self.assertNotIn("going on", out)
        self.assertIn("bootstrap: done", out)
        # A second call finds everything there and asks apt nothing.
        before = len(self.calls())
        self.assertEqual(self.bootstrap(), (0, ""))
        self.assertEqual(len(self.calls()), before)

    def test_an_index_that_never_comes_is_gone_without_in_one_line(self):
        self.set_state("update", "fail")
        code, out = self.bootstrap()
        self.assertEqual(code, 0, out)
        self.assertEqual(sum(c == "apt-get update -qq" for c in self.calls()), 3)  # bounded
        said = [l for l in out.splitlines() if "going on with the package indexes it has" in l]
        self.assertEqual(len(said), 1, out)
        self.assertIn("Mirror sync in progress?", said[0])
        self.assertEqual(len(self.installs()), 1)
        self.assertNotIn("Some index files", out)  # apt's own lines stay in its log

    def test_architectures_that_do_not_fit_together_install_from_the_release_suite(self):
        self.set_state("install", "base-only")
        code, out = self.bootstrap()
        self.assertEqual(code, 0, out)
        self.assertEqual(len(self.installs()), 2)
        self.assertIn("-t %s" % CODENAME, self.installs()[1])
        self.assertIn("installed from the release's own suite, %s" % CODENAME, out)
        self.assertIn("held broken packages", out)

    def test_an_install_that_cannot_be_done_names_the_packages_and_apts_reason(self):
        self.set_state("install", "fail-for:wine32:i386")
        code, out = self.bootstrap()
        self.assertNotEqual(code, 0)
        lines = out.splitlines()
        failed = [l for l in lines if l.startswith("bootstrap: could not install")]
        self.assertEqual(len(failed), 1, out)
        self.assertIn("could not install wine32:i386 (E: Unable to correct problems", failed[0])
        self.assertRegex(failed[0], r"the other \d+ of the \d+ packages would install without them")
        self.assertNotIn("bootstrap: done", out)
        self.assertLessEqual(len(lines), 4, out)  # host, what, why: no wall of apt output
        self.set_state("install", "fail")
        code, out = self.bootstrap()
        self.assertNotEqual(code, 0)
        self.assertNotIn("would install without them", out)

    def test_only_a_host_that_runs_32_bit_code_gets_the_32_bit_wine(self):
        code, out = self.bootstrap(host32=False)
        self.assertEqual(code, 0, out)
        self.assertFalse(any("--add-architecture" in c for c in self.calls()))
        self.assertFalse(any("i386" in c for c in self.installs()), self.installs())
        self.assertIn("this host runs 64-bit code only (a 32-bit x86 program fails here: Exec format error)", out)
        self.assertIn("wine64", self.installs()[0])
        # The guest's packages only when asked for, and the same host line.
        code, out = self.bootstrap(False, "--guest")
        self.assertEqual(code, 0, out)
        self.assertIn("qemu-system-x86", self.installs()[-1])
        self.assertNotIn("wine64", self.installs()[-1])  # already there

        self.setUp()  # a fresh machine that runs 32-bit code
        code, out = self.bootstrap(host32=True)
        self.assertEqual(code, 0, out)
        self.assertIn("dpkg --add-architecture i386", self.calls())
        self.assertIn("wine32:i386", self.installs()[0].split())
        self.assertIn("this host runs 32-bit x86 code", out)


def probe():
    """The real probe's answer: (its own status, SETUP_HOST32, SETUP_HOST32_WHY)."""
    r = subprocess.run(["bash", "-c", 'source scripts/host-probe.sh; unset SETUP_PROBE32; setup_host_runs_32bit; '
                        'echo "$?|$SETUP_HOST32|$SETUP_HOST32_WHY"'],
                       cwd=ROOT, capture_output=True, text=True, timeout=30 * SLOW)
    return tuple(r.stdout.strip().split("|", 2))


class ThisHost(Apt):
    """What depends on the host's kind, with the real probe and Wine's real loaders (apt stood in).
    On a host that runs 32-bit code this runs twice: as it is, and under tests/tools/no32 with
    every 32-bit system call refused (SETUP_NO32=1), where each check must find a host that runs
    64-bit code only."""

    @classmethod
    def setUpClass(cls):
        cls.status, cls.host32, cls.why = probe()
        cls.simulated = os.environ.get("SETUP_NO32") == "1"
        print("\nhost probe: this host %s%s" % ("runs 32-bit x86 code" if cls.host32 == "1"
                                                 else "runs 64-bit code only (%s)" % cls.why,
                                                 " (as no32 makes it)" if cls.simulated else ""),
              file=sys.stderr)

    def run_script(self, *command):
        # The package tools are stood in (everything installed), what would start in the
        # background only says so, and cmake ends the command right after the lines that say
        # what this host runs.
        self.script(os.path.join("bin", "dpkg-query"),
                    'for p in "$@"; do case $p in -*) ;; *) echo "${p%%:*}:amd64 installed" ;; esac; done\n')
        self.script(os.path.join("bin", "setsid"), 'echo "setsid $*"\n')
        self.script(os.path.join("bin", "cmake"), 'echo "cmake $*"; exit 3\n')
        env = dict(os.environ, PATH=self.path("bin") + os.pathsep + os.environ["PATH"])
        for name in ("SETUP_PROBE32", "SETUP_WINE_BUILD", "SETUP_GUEST", "SETUP_HOST32",
                     "SETUP_WINE_LOADER32", "SETUP_WINE_LOADER64"):
            env.pop(name, None)
        return subprocess.run(list(command), cwd=ROOT, env=env, capture_output=True, text=True,
                              timeout=60 * SLOW)

    def test_the_probe_answers_with_its_own_status_and_leaves_nothing(self):
        self.assertIn(self.host32, ("0", "1"))
        self.assertEqual(self.status, "0" if self.host32 == "1" else "1")
        if self.simulated:
            self.assertEqual(self.host32, "0")
            self.assertRegex(self.why, "killed by SIGSYS|Exec format error")
        leftovers = [n for n in os.listdir(os.path.join(ROOT, "build")) if n.startswith(".probe32")]
        self.assertEqual(leftovers, [])
        loader = "/usr/lib/wine/wine"
        if os.access(loader, os.X_OK):  # Wine's 32-bit loader, where installed, agrees
            runs = subprocess.run([loader, "--version"], capture_output=True).returncode == 0
            self.assertEqual(runs, self.host32 == "1")

    def test_the_bootstrap_asks_for_what_this_host_runs(self):
        env = dict(os.environ, PATH=self.path("bin") + os.pathsep + os.environ["PATH"],
                   STATE=self.state, CODENAME=CODENAME, SETUP_APT_PAUSE="0")
        env.pop("SETUP_PROBE32", None)
        r = subprocess.run([os.path.join(ROOT, "scripts/bootstrap.sh")], env=env,
                           capture_output=True, text=True, timeout=60 * SLOW)
        self.assertEqual(r.returncode, 0, r.stdout + r.stderr)
        i386 = any("i386" in c for c in self.installs()) or "dpkg --add-architecture i386" in self.calls()
        self.assertEqual(i386, self.host32 == "1", self.calls())
        self.assertIn("this host runs 32-bit x86 code" if self.host32 == "1" else
                      "this host runs 64-bit code only (%s)" % self.why, r.stdout)

    def test_both_commands_say_which_build_runs_here_and_the_demo_no_more(self):
        tests = self.run_script("scripts/test.sh")
        demo = self.run_script("scripts/run-demo.sh")
        for r in (tests, demo):
            self.assertEqual(r.returncode, 3, r.stdout + r.stderr)  # stopped at cmake, as planned
        if self.host32 == "1":
            self.assertIn("wine: running the win32 build, the product (this host runs 32-bit x86 code)\n",
                          tests.stdout)
            self.assertNotIn("guest", tests.stdout)
        else:
            build = "wine: running the win64 build (this host runs 64-bit code only: %s)\n" % self.why
            self.assertIn(build, tests.stdout)
            self.assertIn("wine: the win32 build's end-to-end tests run in an emulated guest that runs 32-bit "
                          "code (this host cannot: %s)\n" % self.why, tests.stdout)
            self.assertEqual(demo.stdout.splitlines()[0], build.strip())
        # The guest's disk is built beside the native steps where the guest runs, and only there.
        self.assertEqual("scripts/guest/image.sh" in tests.stdout, self.host32 != "1")
        self.assertEqual([l for l in demo.stdout.splitlines() if l.startswith("wine: ")],
                         [l for l in tests.stdout.splitlines() if l.startswith("wine: ")][:1])
        self.assertIn("cmake --workflow --preset native", tests.stdout)
        self.assertIn("cmake --workflow --preset " + ("win32" if self.host32 == "1" else "win64"), demo.stdout)


class No32Launcher(unittest.TestCase):
    """tests/tools/no32, which refuses every 32-bit system call for the second pass."""

    def test_a_32_bit_program_fails_under_it_and_a_64_bit_one_runs(self):
        no32 = os.environ.get("SETUP_NO32_LAUNCHER")
        if not no32:
            self.skipTest("SETUP_NO32_LAUNCHER names no launcher (ctest gives the built one)")
        r = subprocess.run([no32, "sh", "-c", 'echo "$SETUP_NO32"'], capture_output=True, text=True, timeout=30 * SLOW)
        if r.returncode == 77:
            self.skipTest(r.stdout.strip())
        self.assertEqual((r.returncode, r.stdout), (0, "1\n"))
        os.makedirs(os.path.join(ROOT, "build"), exist_ok=True)
        with tempfile.TemporaryDirectory(dir=os.path.join(ROOT, "build")) as scratch:
            program = os.path.join(scratch, "exit0")
            subprocess.run(["bash", "-c", 'source scripts/host-probe.sh; setup_probe32_write "$0"', program],
                           cwd=ROOT, check=True)
            r = subprocess.run(["bash", "-c", '"$0"; echo "status $?"', program], capture_output=True, text=True)
            print("\nno32: the 32-bit program alone: %s" % r.stdout.strip(), file=sys.stderr)
            r = subprocess.run([no32, "bash", "-c", '"$0"; echo "status $?"', program], capture_output=True,
                               text=True, timeout=30 * SLOW)
            self.assertEqual(r.returncode, 0, r.stderr)
            self.assertNotEqual(r.stdout.strip(), "status 0")
            self.assertFalse([n for n in os.listdir(os.path.dirname(no32)) if n.startswith(".no32-probe")])


def second_pass(no32):
    """The host-kind checks again as on a host that runs 64-bit code only; exits 77 (skipped)
    with one line where that pass was the first one, or where no32 cannot simulate one."""
    status, host32, why = probe()
    if host32 != "1":
        print("tools.bootstrap.no32: this host runs 64-bit code only (%s): the first pass was this pass" % why)
        return 77
    return subprocess.run([no32, sys.executable, os.path.abspath(__file__), "ThisHost", "-v"]).returncode


if __name__ == "__main__":
    if sys.argv[1:2] == ["--no32"]:
        sys.exit(second_pass(sys.argv[2]))
    unittest.main(verbosity=2)
