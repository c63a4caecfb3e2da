"""End-to-end tests of the release that scripts/release.sh makes for this build: the signed
folder installs as the built installer folder does, and so does its CD image, installed as a
user installs from a CD.

The release is the one the ctest fixture release.signed made (tests/release), signed with a
throwaway authority: SETUP_E2E_RELEASE is its folder of outputs.
"""

import os
import re
import subprocess
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import wineenv as we  # noqa: E402
import install_rig as rig  # noqa: E402

NAME = "Quorvant99-Setup-1.00"
DRIVE_CDROM = 5  # GetDriveType's and Win32_LogicalDisk's number for a CD-ROM drive
DRIVES_KEY = "HKLM\\Software\\Wine\\Drives"


def release(*parts):
    return os.path.join(we.env_path("SETUP_E2E_RELEASE"), *parts)


def restart_wine(p):
    """Ends the prefix's programs and wineserver and starts the server again: Wine's mount
    manager reads the drive types when it starts."""
    we.stop_wineserver(p.env)
    we.start_wineserver(p.env)


def wine_text(p, *args):
    """What a Wine console command prints (UTF-16 from wmic, so without its zero bytes)."""
    code, out = p.run(*args)
    if code != 0:
        raise we.E2EError("wine %s failed (%d): %s" % (" ".join(args), code, out))
    return out.replace("\x00", "")


class SignedFolder(rig.RigCase):
    def test_the_signed_folder_installs_every_row_and_the_link(self):
        signed = release(NAME)
        built = rig.read(os.path.join(rig.disk_dir(), "SETUP.EXE"))
        self.assertTrue(rig.read(os.path.join(signed, "SETUP.EXE")) != built,
                        "the release's SETUP.EXE is the built one: not signed")
        self.p.map_drive("d", signed)
        run = rig.install(self.p)
        self.assert_installed(run, rig.DEFAULT_DEST, source=signed)
        self.assert_link(self.p, rig.DEFAULT_DEST)


class CdImage(rig.RigCase):
    """The CD image unpacked (no mounting), its files and folder read-only as on a CD, as
    drive D: of type CD-ROM."""

    def unpack(self):
        cd = os.path.join(self.p.root, "cd")
        subprocess.run(["xorriso", "-osirrox", "on", "-indev", release(NAME + ".iso"), "-extract", "/", cd],
                       check=True, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL, timeout=120)
        for name in os.listdir(cd):
            os.chmod(os.path.join(cd, name), 0o444)
        os.chmod(cd, 0o555)
        self.addCleanup(os.chmod, cd, 0o755)
        return cd

    def as_cd_drive(self, cd):
        self.p.map_drive("d", cd, copy=False)
        wine_text(self.p, "reg", "add", DRIVES_KEY, "/v", "d:", "/d", "cdrom", "/f")
        self.addCleanup(restart_wine, self.p)
        self.addCleanup(wine_text, self.p, "reg", "delete", DRIVES_KEY, "/v", "d:", "/f")
        restart_wine(self.p)

    def test_installs_from_the_cd_byte_for_byte_and_leaves_no_file_read_only(self):
        cd = self.unpack()
        folder = release(NAME)
        self.assertEqual(sorted(os.listdir(cd)), sorted(os.listdir(folder)))
        for name in os.listdir(folder):
            self.assertEqual(rig.read(os.path.join(cd, name)), rig.read(os.path.join(folder, name)), name)
        self.as_cd_drive(cd)
        disks = wine_text(self.p, "wmic", "logicaldisk", "get", "DeviceID,DriveType")
        self.assertEqual(re.findall(r"^\s*D:\s+(\d+)", disks, re.M), [str(DRIVE_CDROM)], disks)
        self.assertRegex(wine_text(self.p, "cmd", "/c", "attrib", "D:\\SETUP.EXE"), r"R\s+D:\\SETUP.EXE")

        run = rig.install(self.p)
        self.assert_installed(run, rig.DEFAULT_DEST, source=cd)
        self.assert_link(self.p, rig.DEFAULT_DEST)
        dest = rig.unix_path(self.p, rig.DEFAULT_DEST)
        for row in rig.MANIFEST:
            mode = os.stat(rig.row_path(dest, row)).st_mode
            self.assertTrue(mode & 0o200, "%s is read-only (mode %o)" % (row[1], mode))


if __name__ == "__main__":
    unittest.main(verbosity=2)
