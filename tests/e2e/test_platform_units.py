"""Runs platform_units.exe, the checks of the Windows-only code (text for the setup library in
code pages 1252, 932 and UTF-8; the gauge arithmetic as this build computes it; the windows'
records and the file services), under Wine in a prefix of the build's architecture, with a
1 MB drive for the copy that fills its disk."""

import os
import subprocess
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import wineenv as we  # noqa: E402
import install_rig as rig  # noqa: E402


class PlatformUnits(unittest.TestCase):
    def test_every_check_passes(self):
        with we.Prefix(disk=False, name=type(self).__name__) as p:
            args = []
            if os.geteuid() == 0:  # a 1 MB tmpfs: mounting it takes root
                mount = tempfile.mkdtemp(prefix="setup-units-small-")
                self.addCleanup(os.rmdir, mount)
                subprocess.run(["mount", "-t", "tmpfs", "-o", "size=1m", "tmpfs", mount], check=True,
                               stdin=subprocess.DEVNULL, timeout=30)
                self.addCleanup(subprocess.run, ["umount", mount], timeout=30)
                p.map_drive("e", mount, copy=False)
                args = ["--small-drive", "E:"]
            else:
                sys.stderr.write("\n*** FULL-DRIVE COPY CHECK NOT RUN: mounting a tmpfs needs root ***\n")
            code, out = p.run(rig.tool("platform_units.exe"), *args, timeout=120)
        out = out.replace("\r", "")
        self.assertRegex(out, r"(?m)^\d+ checks, 0 failed$", out)
        self.assertEqual(code, 0, out)


if __name__ == "__main__":
    unittest.main(verbosity=2)
