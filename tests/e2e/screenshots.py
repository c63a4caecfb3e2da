"""Takes the README's screenshots of SETUP.EXE under Wine: backdrop with the welcome
page, destination page, folder chooser, copy window mid-run and the final message.

  python3 screenshots.py --build BUILD_DIR --out FOLDER

BUILD_DIR is a win32 or win64 build tree (disk/, tests/e2e/uia.exe), and SETUP_E2E_ARCH
names which; the prefix template is made there if it is missing. Writes 1-welcome.png ... 5-complete.png into FOLDER.
"""

import argparse
import os
import shutil
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import wineenv as we  # noqa: E402
import install_rig as rig  # noqa: E402

NAMES = [("welcome", "1-welcome.png"), ("destination", "2-destination.png"),
         ("chooser", "3-chooser.png"), ("copying", "4-copying.png"), ("final", "5-complete.png")]


def main(argv):
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--build", required=True)
    ap.add_argument("--out", required=True)
    args = ap.parse_args(argv)
    build = os.path.abspath(args.build)
    if not os.environ.get("SETUP_E2E_ARCH"):  # the build folder's name tells (build/win64)
        os.environ["SETUP_E2E_ARCH"] = "win64" if os.path.basename(build) == "win64" else "win32"
    work = tempfile.mkdtemp(prefix="setup-screenshots-")
    os.environ.update({
        "SETUP_E2E_DISK": os.path.join(build, "disk"),
        "SETUP_E2E_UIA": os.path.join(build, "tests", "e2e", "uia.exe"),
        "SETUP_E2E_TEMPLATE": os.path.join(build, "e2e", "prefix-template"),
        "SETUP_E2E_SCREENSHOTS": os.path.join(work, "shots"),
    })
    try:
        with we.Display() as display:
            we.make_templates(os.environ["SETUP_E2E_TEMPLATE"], display.name)
            with we.Prefix(display, name="readme") as p:
                _, shots, _ = rig.capture_wizard(p)
                os.makedirs(args.out, exist_ok=True)
                for key, name in NAMES:
                    target = os.path.join(args.out, name)
                    subprocess.run(["convert", shots[key].path, "-strip", target], check=True,
                                   stdin=subprocess.DEVNULL, timeout=60)
                    print("screenshot: %s" % target)
    finally:
        shutil.rmtree(work, ignore_errors=True)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
