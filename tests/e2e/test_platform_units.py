"""Runs platform_units.exe, the checks of the Windows-only code (text for the setup library in
code pages 1252, 932 and UTF-8; the gauge arithmetic as this build computes it), under Wine in
a prefix of the build's architecture."""

import os
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import wineenv as we  # noqa: E402
import install_rig as rig  # noqa: E402


class PlatformUnits(unittest.TestCase):
    def test_every_check_passes(self):
        with we.Prefix(disk=False, name=type(self).__name__) as p:
            code, out = p.run(rig.tool("platform_units.exe"), timeout=120)
        out = out.replace("\r", "")
        self.assertRegex(out, r"(?m)^\d+ checks, 0 failed$", out)
        self.assertEqual(code, 0, out)


if __name__ == "__main__":
    unittest.main(verbosity=2)
