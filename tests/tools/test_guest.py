"""Tests of the test guest's host side, with stand-ins for the image and for QEMU: the image is
reused only while its stamp holds, a guest that hangs is killed at the bound, and each module's
result in the guest reads as a ctest result of its own.

    python3 tests/tools/test_guest.py      (ctest: tools.guest)
"""

import json
import os
import shlex
import subprocess
import sys
import tempfile
import textwrap
import time
import unittest

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
IMAGE_SH = os.path.join(ROOT, "scripts", "guest", "image.sh")
BOOT = os.path.join(ROOT, "tests", "guest", "boot.py")
REPORT = os.path.join(ROOT, "tests", "guest", "report.py")
UNREACHABLE = "http://127.0.0.1:9/debian"  # a rebuild fails at once instead of downloading

# A guest as QEMU would run it: reads the plan named on the kernel command line and leaves
# the results that inside.py leaves, as the test's GUEST_SCRIPT says.
FAKE_QEMU = """\
    #!/usr/bin/env python3
    import json, os, sys, time
    args = sys.argv[1:]
    append = args[args.index("-append") + 1]
    plan_path = [w for w in append.split() if w.startswith("setup.plan=")][0].split("=", 1)[1]
    with open(plan_path) as f:
        plan = json.load(f)
    with open(os.path.join(os.path.dirname(plan_path), "qemu.pid"), "w") as f:
        f.write(str(os.getpid()))
    print("guest: up after 13.5 s", flush=True)
    %s
    """


def ctest_file(modules):
    """A build tree's CTestTestfile.cmake with the prefix template and these e2e modules."""
    lines = ['add_test(e2e.prefix_template "/usr/bin/python3" "wineenv.py" "template" "/b/t")',
             'set_tests_properties(e2e.prefix_template PROPERTIES LABELS "e2e" TIMEOUT "300" '
             'WORKING_DIRECTORY "/b")']
    for m in modules:
        lines.append('add_test(e2e.%s "/usr/bin/python3" "/src/test_%s.py")' % (m, m))
        lines.append('set_tests_properties(e2e.%s PROPERTIES ENVIRONMENT "SETUP_E2E_BUDGET=400;'
                     'SETUP_E2E_ARCH=win32" LABELS "e2e;wine" TIMEOUT "420" WORKING_DIRECTORY "/src")'
                     % m)
    lines.append('add_test(release.signed "/bin/true")')
    return "\n".join(lines) + "\n"


class Scratch(unittest.TestCase):
    def setUp(self):
        # Inside the checkout: the guest sees no other folder, and boot.py refuses any other.
        os.makedirs(os.path.join(ROOT, "build"), exist_ok=True)
        self.dir = tempfile.mkdtemp(prefix="guest-test-", dir=os.path.join(ROOT, "build"))
        self.addCleanup(subprocess.run, ["rm", "-rf", self.dir])

    def path(self, *names):
        return os.path.join(self.dir, *names)

    def write(self, name, text, mode=0o644):
        os.makedirs(os.path.dirname(self.path(name)), exist_ok=True)
        with open(self.path(name), "w") as f:
            f.write(text)
        os.chmod(self.path(name), mode)
        return self.path(name)

    def read(self, name):
        with open(self.path(name)) as f:
            return f.read()

    def fake_image(self):
        for name in ("root.img", "vmlinuz", "initrd.img"):
            self.write("image/" + name, name * 1000)
        subprocess.run([IMAGE_SH, "--stamp", self.path("image")], check=True)
        return self.path("image")

    def image_sh(self, *args):
        env = dict(os.environ, SETUP_GUEST_MIRROR=UNREACHABLE)
        return subprocess.run([IMAGE_SH, *args], env=env, capture_output=True, text=True,
                              timeout=120)


class GuestImage(Scratch):
    def test_an_image_is_reused_only_while_its_stamp_holds(self):
        image = self.fake_image()
        self.assertEqual(self.image_sh("--check", image).returncode, 0)
        r = self.image_sh(image)
        self.assertEqual(r.returncode, 0)
        self.assertIn("is up to date", r.stdout)

        damages = {
            "truncated": lambda: os.truncate(os.path.join(image, "root.img"), 100),
            "changed": lambda: self.write("image/vmlinuz", "vmlinuz" * 999 + "x"),
            "missing": lambda: os.remove(os.path.join(image, "initrd.img")),
            "older recipe": lambda: self.write("image/stamp", "recipe 0\n" + self.read("image/stamp").split("\n", 1)[1]),
            "unstamped (a build cut short)": lambda: os.remove(os.path.join(image, "stamp")),
        }
        for what, damage in damages.items():
            with self.subTest(what):
                image = self.fake_image()
                damage()
                self.assertNotEqual(self.image_sh("--check", image).returncode, 0)
                # A build is started instead (and fails here, with no mirror): the bad image
                # is gone, never left for a boot.
                r = self.image_sh(image)
                self.assertNotEqual(r.returncode, 0)
                self.assertIn("stale or incomplete; building it again", r.stdout)
                self.assertFalse(os.path.exists(image))
                self.assertFalse(os.path.exists(image + ".tmp"))

    def test_a_stamp_needs_every_file_of_the_image(self):
        image = self.fake_image()
        os.remove(os.path.join(image, "initrd.img"))
        self.assertNotEqual(self.image_sh("--stamp", image).returncode, 0)
        self.assertNotEqual(self.image_sh("--check", image).returncode, 0)

    def test_a_folder_that_is_not_an_image_is_never_removed(self):
        self.write("notes/todo.txt", "keep me")
        self.write("notes/stamp", "recipe 0")
        r = self.image_sh(self.path("notes"))
        self.assertNotEqual(r.returncode, 0)
        self.assertIn("not an image's; not touching it", r.stderr)
        self.assertEqual(self.read("notes/todo.txt"), "keep me")


class GuestRun(Scratch):
    MODULES = ("alpha", "beta", "gamma", "delta")

    def start(self, guest_script, bound=None, modules="alpha beta gamma"):
        self.write("bin/qemu-system-x86_64", textwrap.dedent(FAKE_QEMU % guest_script), 0o755)
        self.write("build/CTestTestfile.cmake", ctest_file(self.MODULES))
        self.write("native/CTestTestfile.cmake", "".join(
            'add_test(%s "/usr/bin/python3" "/src/test_bootstrap.py")\n' % n
            for n in ("tools", "tools.bootstrap", "tools.bootstrap.no32")))
        env = dict(os.environ, PATH=self.path("bin") + os.pathsep + os.environ["PATH"],
                   SETUP_GUEST_MODULES=modules, SETUP_GUEST_MIRROR=UNREACHABLE)
        cmd = [sys.executable, BOOT, "--build", self.path("build"), "--out", self.path("out"),
               "--image", self.fake_image(), "--native", self.path("native"), *self.MODULES]
        if bound:
            cmd += ["--bound", str(bound)]
        return subprocess.Popen(cmd, env=env, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                                text=True)

    def boot(self, guest_script, bound=None, modules="alpha beta gamma"):
        start = time.monotonic()
        proc = self.start(guest_script, bound, modules)
        try:
            out, err = proc.communicate(timeout=120)
        except subprocess.TimeoutExpired:
            proc.kill()
            proc.communicate()
            raise
        return subprocess.CompletedProcess(proc.args, proc.returncode, out, err), \
            time.monotonic() - start

    def wait_gone(self, session):
        """The processes of that session still running after a bounded wait (killed processes
        may stay zombies for a moment, until they are reaped)."""
        deadline = time.monotonic() + 10
        while True:
            states = subprocess.run(["ps", "-o", "stat=", "-g", str(session)], capture_output=True,
                                    text=True).stdout.split()
            running = [s for s in states if not s.startswith("Z")]
            if not running or time.monotonic() > deadline:
                return running
            time.sleep(0.1)  # the step between two looks of this bounded wait

    def qemu_pid(self):
        return int(self.read("out/qemu.pid"))

    def report(self, module):
        r = subprocess.run([sys.executable, REPORT, self.path("out"), module], capture_output=True,
                           text=True, timeout=60)
        return r.returncode, r.stdout

    def test_each_module_reads_as_a_test_of_its_own(self):
        guest = textwrap.indent(textwrap.dedent("""\
            results = plan["results"]
            outcomes = {"e2e.prefix_template": 0, "e2e.alpha": 0, "e2e.beta": 1}
            for test in plan["tests"]:
                if test["name"] not in outcomes:
                    continue  # gamma never ends
                with open(os.path.join(results, test["name"] + ".log"), "w") as f:
                    f.write("%s ran %s with %s\\n" % (test["name"], test["command"][1],
                                                    test["env"].get("SETUP_E2E_BUDGET")))
                with open(os.path.join(results, test["name"] + ".json"), "w") as f:
                    json.dump({"exit_code": outcomes[test["name"]], "seconds": 12.5,
                               "timeout": plan["module_timeout"]}, f)
            """), "    ").strip()
        r, _ = self.boot(guest, modules="host,alpha beta gamma")
        self.assertEqual(r.returncode, 0, r.stderr)
        with open(self.path("out", "plan.json")) as f:
            plan = json.load(f)
        self.assertEqual([t["name"] for t in plan["tests"]],
                         ["tools.bootstrap", "tools.bootstrap.no32",
                          "e2e.prefix_template", "e2e.alpha", "e2e.beta", "e2e.gamma"])
        self.assertEqual(plan["tests"][3]["env"]["SETUP_E2E_BUDGET"], "400")
        self.assertEqual(plan["tests"][3]["cwd"], "/src")

        code, out = self.report("alpha")
        self.assertEqual(code, 0)
        self.assertIn("e2e.alpha ran /src/test_alpha.py with 400", out)
        self.assertIn("passed in 12.5 s inside the guest", out)
        code, out = self.report("beta")
        self.assertEqual(code, 1)
        self.assertIn("failed with exit code 1", out)
        code, out = self.report("gamma")
        self.assertEqual(code, 1)
        self.assertIn("no result", out)
        self.assertIn("guest: up after 13.5 s", out)  # the guest's console comes with it
        code, out = self.report("delta")
        self.assertEqual(code, 77)  # ctest: skipped, and why
        self.assertIn("left out of this run", out)

    def test_a_hung_guest_is_killed_at_the_bound(self):
        guest = ("import subprocess; subprocess.Popen(['sleep', '1000']); time.sleep(1000)")
        r, _ = self.boot(guest, bound=3)
        self.assertNotEqual(r.returncode, 0)
        self.assertIn("still running after 3 s; killed", r.stderr)
        # Neither the guest nor anything it started is left running.
        self.assertEqual(self.wait_gone(self.qemu_pid()), [])
        code, out = self.report("alpha")
        self.assertEqual(code, 1)
        self.assertIn("was killed", out)

    def test_the_guest_ends_with_the_test_that_started_it(self):
        # As when ctest's own time-out kills guest.run: no guest may be left running.
        proc = self.start("time.sleep(1000)")
        self.addCleanup(proc.communicate)
        deadline = time.monotonic() + 60
        while not os.path.exists(self.path("out", "qemu.pid")) and time.monotonic() < deadline:
            time.sleep(0.1)  # the step between two looks of this bounded wait
        pid = self.qemu_pid()
        proc.kill()
        self.assertEqual(self.wait_gone(pid), [])

    def test_modules_named_for_the_guest_must_exist(self):
        # What an earlier run left is gone before this one can fail.
        for name in ("plan.json", "summary.txt", "results/e2e.alpha.json"):
            self.write("out/" + name, "{}")
        r, _ = self.boot("pass", modules="alpha omega")
        self.assertNotEqual(r.returncode, 0)
        self.assertIn("no module omega", r.stderr)
        self.assertEqual(os.listdir(self.path("out")), ["results"])
        self.assertEqual(os.listdir(self.path("out", "results")), [])
        self.assertEqual(self.report("alpha")[0], 1)


if __name__ == "__main__":
    unittest.main(verbosity=2)
