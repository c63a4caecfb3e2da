"""Tests of the project's own tools that run without Wine: the choice of the build for the host
(scripts/wine-build.sh), the uia server protocol of the test rig, the x87 and manifest checks of
the built files, the size breakdown from the linker's map, and the peer installer's copy list.

    python3 tests/tools/test_tools.py      (ctest: tools)
"""

import os
import subprocess
import sys
import tempfile
import textwrap
import time
import unittest

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
for folder in ("tests/e2e", "tests/win", "bench"):
    sys.path.insert(0, os.path.join(ROOT, folder))
import check_manifest  # noqa: E402
import check_sse  # noqa: E402
import mapsize  # noqa: E402
import wineenv as we  # noqa: E402


class Scratch(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="setup-tools-")
        self.addCleanup(subprocess.run, ["rm", "-rf", self.dir])

    def script(self, name, body):
        """An executable shell script in the scratch folder."""
        path = os.path.join(self.dir, name)
        with open(path, "w") as f:
            f.write("#!/bin/sh\n" + textwrap.dedent(body))
        os.chmod(path, 0o755)
        return path

    def write(self, name, text):
        path = os.path.join(self.dir, name)
        with open(path, "w") as f:
            f.write(textwrap.dedent(text))
        return path


class WineBuildChoice(Scratch):
    """scripts/wine-build.sh against stand-in loaders."""

    def loaders(self):
        return {
            "ok": self.script("ok", "echo wine-8.0\n"),
            "noexec": self.script("noexec", "echo \"sh: 1: $0: Exec format error\" >&2; exit 126\n"),
            "broken": self.script("broken", "echo \"$0: error while loading shared libraries\" >&2; exit 127\n"),
            "missing": os.path.join(self.dir, "not-there"),
        }

    def choose(self, loader32, loader64, forced=None, guest=None, host32=None):
        # The host's kind is the probe's answer: by default a host whose 32-bit loader fails with
        # "Exec format error" is one whose probe does too.
        if host32 is None:
            host32 = "noexec" not in loader32
        probe = self.script("probe", "exit 0\n" if host32 else
                            'echo "bash: $0: cannot execute binary file: Exec format error" >&2; exit 126\n')
        env = dict(os.environ, SETUP_WINE_LOADER32=loader32, SETUP_WINE_LOADER64=loader64,
                   SETUP_PROBE32=probe)
        for name in ("SETUP_WINE_BUILD", "SETUP_GUEST", "SETUP_HOST32", "SETUP_HOST32_WHY"):
            env.pop(name, None)
        if forced:
            env["SETUP_WINE_BUILD"] = forced
        if guest is not None:
            env["SETUP_GUEST"] = guest
        r = subprocess.run(["bash", "-c", 'source scripts/wine-build.sh && setup_choose_wine_build --tests && '
                            'echo "chose=$SETUP_WINE_BUILD|$SETUP_WINE_CHOICE" && '
                            'echo "guest=$SETUP_WINE_GUEST"'],
                           cwd=ROOT, env=env, capture_output=True, text=True, timeout=30)
        return r.returncode, r.stdout, r.stderr

    def test_the_product_runs_wherever_the_host_runs_32_bit_code(self):
        l = self.loaders()
        code, out, _ = self.choose(l["ok"], l["ok"])
        self.assertEqual(code, 0)
        self.assertIn("chose=win32|running the win32 build, the product", out)
        self.assertEqual(out.count("wine: "), 1)  # one line says which build and why

    def test_only_a_host_without_32_bit_support_falls_back_to_win64(self):
        l = self.loaders()
        code, out, _ = self.choose(l["noexec"], l["ok"])
        self.assertEqual(code, 0)
        self.assertIn("chose=win64|running the win64 build (this host runs 64-bit code only", out)
        # The host's kind is the probe's: where it says 64-bit only, no 32-bit Wine is needed.
        code, out, _ = self.choose(l["missing"], l["ok"], host32=False)
        self.assertEqual((code, "guest=1" in out), (0, True))
        self.assertIn("64-bit code only: a 32-bit x86 program fails here: Exec format error", out)
        # A broken or missing 32-bit Wine on a host that could run it is no reason to skip the product.
        for loader32 in (l["broken"], l["missing"]):
            code, out, err = self.choose(loader32, l["ok"])
            self.assertNotEqual(code, 0)
            self.assertNotIn("chose=", out)
            self.assertIn("wine32:i386", err)

    def test_no_loader_that_can_start_fails_and_says_what_is_missing(self):
        l = self.loaders()
        code, out, err = self.choose(l["noexec"], l["missing"])
        self.assertNotEqual(code, 0)
        self.assertNotIn("chose=", out)
        self.assertIn("is not installed", err)
        self.assertIn("wine64", err)

    def test_the_guest_runs_the_product_only_where_the_host_cannot(self):
        l = self.loaders()
        code, out, _ = self.choose(l["noexec"], l["ok"])
        self.assertEqual((code, "guest=1" in out), (0, True))
        self.assertIn("wine: the win32 build's end-to-end tests run in an emulated guest", out)
        self.assertIn("Exec format error", out.splitlines()[1])
        for forced in (None, "win64"):  # a host that runs 32-bit code runs the product itself
            code, out, _ = self.choose(l["ok"], l["ok"], forced=forced)
            self.assertEqual((code, "guest=0" in out, "guest" in out.replace("guest=0", "")),
                             (0, True, False))
        # SETUP_GUEST forces the guest on or off, and says so.
        code, out, _ = self.choose(l["ok"], l["ok"], guest="1")
        self.assertEqual((code, "guest=1" in out, "forced by SETUP_GUEST=1" in out), (0, True, True))
        code, out, _ = self.choose(l["noexec"], l["ok"], guest="0")
        self.assertEqual((code, "guest=0" in out, "skipped by SETUP_GUEST=0" in out), (0, True, True))
        code, out, err = self.choose(l["noexec"], l["ok"], guest="yes")
        self.assertNotEqual(code, 0)
        self.assertNotIn("guest=", out)
        self.assertIn("SETUP_GUEST must be 1 or 0", err)

    def test_a_forced_build_runs_only_where_its_loader_starts(self):
        l = self.loaders()
        code, out, _ = self.choose(l["ok"], l["ok"], forced="win64")
        self.assertEqual((code, "chose=win64|running the win64 build (forced" in out), (0, True))
        code, out, err = self.choose(l["noexec"], l["ok"], forced="win32")
        self.assertNotEqual(code, 0)
        self.assertIn("Exec format error", err)
        code, _, err = self.choose(l["ok"], l["ok"], forced="win16")
        self.assertNotEqual(code, 0)
        self.assertIn("must be win32 or win64", err)


class UiaServerProtocol(Scratch):
    """The rig's side of "uia serve", against a stand-in server that speaks the protocol."""

    FAKE = """\
        import json, sys, time
        for line in sys.stdin:
            args = [bytes.fromhex(w).decode("utf-8") if w != "-" else "" for w in line.split()]
            if args[0] == "slow":
                time.sleep(5)
            if args[0] == "quit":
                break
            if args[0] == "garbage":
                print("not json", flush=True)
                continue
            print(json.dumps({"command": args[0], "args": args[1:]}), flush=True)
        """

    def server(self):
        fake = self.write("fake_uia.py", self.FAKE)
        s = we.UiaServer([sys.executable, fake], dict(os.environ), self.dir)
        self.addCleanup(s.close)
        return s

    def test_arguments_arrive_whole_and_answers_come_in_order(self):
        s = self.server()
        awkward = ["C:\\Program Files\\Quorvant '99", "", "a\tb c", "C:\\Test\\\u03a9mega", "#1006e"]
        self.assertEqual(s.call(["settext"] + awkward, 10), {"command": "settext", "args": awkward})
        self.assertEqual(s.call(["windows"], 10), {"command": "windows", "args": []})

    def test_a_server_that_is_slow_gone_or_garbled_gives_no_answer_within_the_bound(self):
        s = self.server()
        t0 = time.monotonic()
        self.assertIsNone(s.call(["slow"], 0.5))
        self.assertLess(time.monotonic() - t0, 3)
        s = self.server()
        self.assertIsNone(s.call(["garbage"], 10))
        self.assertIsNone(s.call(["quit"], 10))
        we.wait_for(lambda: not s.running(), 10, what="the stand-in server to end")
        self.assertIsNone(s.call(["windows"], 10))


class X87Check(Scratch):
    def test_arithmetic_in_x87_registers_is_found_and_moves_are_not(self):
        objdump = self.script("objdump", """\
            cat <<'EOF'
            00000000 <install::GaugeBarRight(float, double)>:
               0:	flds   0x4(%esp)
               4:	fdivrl 0xc(%ebp)
               8:	fmuls  0x8(%ebp)
               c:	fstpl  (%esp)
            00000010 <install::GaugeAdvance(float, long long)>:
              10:	fildll 0x8(%esp)
              14:	fiaddl 0x4(%esp)
              18:	fxch   %st(1)
              1a:	mulss  %xmm1,%xmm0
              1e:	faddp  %st,%st(1)
            00000020 <rt::Decimal(long long)>:
              20:	movss  %xmm0,(%esp)
            EOF
            """)
        found = check_sse.x87_arithmetic(objdump, "Constants.cpp.obj")
        self.assertEqual([(f.split("(")[0], insn.split()[1]) for f, insn in found],
                         [("install::GaugeBarRight", "fdivrl"), ("install::GaugeBarRight", "fmuls"),
                          ("install::GaugeAdvance", "fiaddl"), ("install::GaugeAdvance", "faddp")])


class ManifestCheck(Scratch):
    RC = """\
        1 24 /* RT_MANIFEST */
        BEGIN
          "<?xml version=""1.0"" encoding=""UTF-8""?>\\n"
          "<assembly xmlns=""urn:schemas-microsoft-com:asm.v1"" manifestVersion=""1.0"">\\n"
          "<assemblyIdentity type=""win32"" name=""Q"" version=""1.0.0.0"" processorArchitecture=""amd64""/>\\n"
          "<trustInfo xmlns=""urn:schemas-microsoft-com:asm.v3""><security><requestedPrivileges>\\n"
          "<requestedExecutionLevel level=""%s"" uiAccess=""false""/>\\n"
          "</requestedPrivileges></security></trustInfo>\\n"
          "<application xmlns=""urn:schemas-microsoft-com:asm.v3""><windowsSettings>\\n"
          "<dpiAware xmlns=""http://schemas.microsoft.com/SMI/2005/WindowsSettings"">true</dpiAware>\\n"
          "</windowsSettings></application></assembly>"
        END
        """

    def check(self, level, arch):
        rc = self.write("setup.rc", self.RC % level)
        windres = self.script("windres", "cat '%s'\n" % rc)
        r = subprocess.run([sys.executable, os.path.join(ROOT, "tests/win/check_manifest.py"),
                            "--windres", windres, "--arch", arch, "SETUP.EXE"],
                           capture_output=True, text=True, timeout=30)
        return r.returncode, r.stdout

    def test_the_manifest_is_read_from_the_resource_script_and_judged(self):
        self.assertEqual(self.check("requireAdministrator", "amd64")[0], 0)
        code, out = self.check("asInvoker", "x86")
        self.assertEqual(code, 1)
        self.assertIn("does not name processor x86", out)
        self.assertIn("requestedExecutionLevel is not requireAdministrator", out)
        self.assertNotIn("dpiAware", out)


class MapBreakdown(Scratch):
    MAP = """\
        .text           0x00401000     0x2000
         .text          0x00401000      0x400 /usr/lib/gcc/i686-w64-mingw32/12-win32/crtbegin.o
         .text          0x00401400      0x300 CMakeFiles/setup.dir/main.cpp.obj
         .text$_ZN5win327Backend4PumpER6tagMSG
                        0x00401700      0x200 platform/librt_win32.a(win32_backend.cpp.obj)
         .text          0x00401900      0x100 /usr/lib/gcc/i686-w64-mingw32/12-win32/libgcc_eh.a(unwind-dw2.o)
                        0x00401900                _Unwind_Find_FDE
        .eh_frame       0x00403000      0x200
         .eh_frame      0x00403000       0x80 platform/librt_win32.a(win32_backend.cpp.obj)
         .eh_frame      0x00403080       0x40 /usr/lib/gcc/i686-w64-mingw32/12-win32/libgcc_eh.a(unwind-dw2.o)
        .bss            0x00404000      0x100
         .bss           0x00404000      0x100 platform/librt_win32.a(win32_backend.cpp.obj)
        .rsrc           0x00405000      0x800
         .rsrc          0x00405000      0x7a0 resources/CMakeFiles/setup_resources.dir/setup.rc.res
        .reloc          0x00406000      0x200
         .reloc         0x00406000      0x1f0 dll stuff
        """

    def test_sections_in_the_file_are_added_up_by_origin(self):
        sizes, unwind = mapsize.breakdown(self.write("SETUP.map", self.MAP))
        by_key = {k.split(" (")[0]: v for k, v in sizes.items()}
        self.assertEqual(by_key, {
            "mingw start-up code and C runtime glue": 0x400,
            "our start-up and library hooks": 0x300,
            "our Win32 backend, file services and library binding": 0x200 + 0x80,  # not .bss
            "libgcc": 0x100 + 0x40,
            "resources": 0x7a0,
            "relocations": 0x1f0,
        })
        self.assertEqual(unwind, 0x80 + 0x40)


class PeerCopies(Scratch):
    def test_the_peer_copies_the_manifest_rows_under_their_destination_names(self):
        import run as bench  # bench/run.py
        path = os.path.join(self.dir, "copies.nsh")
        bench.peer_manifest(path)
        with open(path) as f:
            lines = f.read().splitlines()
        self.assertEqual(len(lines), 20)
        self.assertEqual(sum("$INSTDIR\\DATA\\" in l for l in lines), 11)
        self.assertIn('  CopyFiles /SILENT "$EXEDIR\\QV99.EX_" "$INSTDIR\\QV99.EXE"', lines)
        self.assertIn('  CopyFiles /SILENT "$EXEDIR\\LICENSE.TX_" "$INSTDIR\\DATA\\LICENSE.TXT"', lines)


if __name__ == "__main__":
    unittest.main(verbosity=2)
