"""Runs SETUP.EXE from the installer folder in a persistent Wine prefix, for a person to see.

With DISPLAY set, the installer comes up in a Wine virtual desktop window on that
display and this waits until it ends. Without DISPLAY, it runs on a private Xvfb
and walks through the wizard by itself: a screenshot of each new window, then
Enter on windows that have a default button, until the process ends or no new
window comes within a bound. It prints where the screenshots are.

  python3 demo.py --disk DIR --prefix DIR --uia UIA.EXE --shots DIR
"""

import argparse
import os
import re
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import wineenv as we  # noqa: E402

STEP_TIMEOUT = 30       # longest wait for the next window to appear (the copy run is in it)
TOTAL_TIMEOUT = 600
PERSON_TIMEOUT = 3600   # a person at the display: the installer is ended after an hour


class Walker:
    def __init__(self, env, uia_exe, shots):
        self.env = env
        self.shots = shots
        self.count = 0
        self.saved = []
        self.server = we.UiaServer(["wine", uia_exe, "serve"], dict(env, WINEDEBUG="err+all"), shots)

    def uia(self, *args):
        """The rig's uia call; a call that gets no answer stops the walk and says why."""
        r = self.server.call(args, 30)
        if r is None:
            with open(self.server.log_path, "rb") as f:
                log = f.read().decode("utf-8", "replace")[-2000:]
            raise SystemExit("demo: uia %s gave no answer; its output:\n%s" % (" ".join(args), log))
        return r

    def visible(self):
        return [w for w in self.uia("windows").get("windows", []) if w["visible"]]

    def screenshot(self, title):
        self.count += 1
        name = "%02d-%s.png" % (self.count, re.sub(r"[^A-Za-z0-9]+", "-", title).strip("-").lower())
        path = os.path.join(self.shots, name)
        we._run(["import", "-window", "root", path], self.env, 60)
        self.saved.append(path)
        print("demo: %s  (%s)" % (path, title), flush=True)

    def walk(self, proc):
        seen = None
        deadline = time.monotonic() + TOTAL_TIMEOUT
        while proc.running() and time.monotonic() < deadline:
            def changed():
                if not proc.running():
                    return "ended"
                now = tuple(sorted((w["hwnd"], w["title"]) for w in self.visible()))
                return now if now and now != seen else None
            try:
                now = we.wait_for(changed, STEP_TIMEOUT, interval=0.3, what="a new window")
            except TimeoutError:
                print("demo: no new window within %d s; stopping" % STEP_TIMEOUT, flush=True)
                return False
            if now == "ended":
                break
            seen = now
            focus = self.uia("focus")
            title = focus.get("foreground_title") or now[-1][1]
            self.screenshot(title)
            fg = focus.get("foreground")
            controls = self.uia("controls", fg).get("controls", []) if fg else []
            if any(c["class"] == "Button" and c["defpushbutton"] and c["enabled"] for c in controls):
                we._run(["xdotool", "key", "Return"], self.env, 30)
        return True


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--disk", required=True)
    ap.add_argument("--prefix", required=True)
    ap.add_argument("--uia", required=True)
    ap.add_argument("--shots", required=True)
    a = ap.parse_args()
    setup = os.path.join(a.disk, "SETUP.EXE")
    if not os.path.isfile(setup):
        print("demo: %s is missing; build first" % setup, file=sys.stderr)
        return 1
    prefix = os.path.abspath(a.prefix)

    if os.environ.get("DISPLAY"):
        display = os.environ["DISPLAY"]
        if we.make_template(prefix, display):
            print("demo: made the Wine prefix %s" % prefix)
        we.map_drive(prefix, "d", a.disk)
        env = we.wine_env(prefix, display)
        print("demo: starting D:\\SETUP.EXE in a Wine desktop window on %s" % display, flush=True)
        proc = subprocess.Popen(["wine", "D:\\SETUP.EXE"], env=env, cwd=prefix, stdin=subprocess.DEVNULL)
        try:
            code = proc.wait(timeout=PERSON_TIMEOUT)
        except subprocess.TimeoutExpired:
            proc.kill()
            proc.wait(timeout=30)
            print("demo: SETUP.EXE still ran after %d s; ended it" % PERSON_TIMEOUT)
            return 1
        finally:
            # Wine's desktop and server go with the program, however it ended.
            we.stop_wineserver(env)
        print("demo: SETUP.EXE ended with exit code %d" % code)
        return 0

    os.makedirs(a.shots, exist_ok=True)
    for old in os.listdir(a.shots):
        if old.endswith(".png"):
            os.unlink(os.path.join(a.shots, old))
    with we.Display() as display:
        if we.make_template(prefix, display.name):
            print("demo: made the Wine prefix %s" % prefix)
        we.map_drive(prefix, "d", a.disk)
        env = we.wine_env(prefix, display.name)
        we.start_wineserver(env)
        log = open(os.path.join(a.shots, "wine.log"), "wb")
        try:
            popen = subprocess.Popen(["wine", "D:\\SETUP.EXE"], env=env, cwd=prefix,
                                        stdin=subprocess.DEVNULL, stdout=log,
                                        stderr=subprocess.STDOUT, start_new_session=True)
            proc = we.Process(popen, log.name)
            print("demo: SETUP.EXE runs headless on Xvfb %s; walking its windows" % display.name,
                  flush=True)
            walker = Walker(env, os.path.abspath(a.uia), a.shots)
            try:
                walker.walk(proc)
            finally:
                walker.server.close()
            if proc.running():
                print("demo: SETUP.EXE still running; ending it")
            else:
                print("demo: SETUP.EXE ended with exit code %d" % proc.returncode)
        finally:
            we.stop_wineserver(env)
            log.close()
    print("demo: screenshots in %s" % os.path.abspath(a.shots))
    return 0


if __name__ == "__main__":
    sys.exit(main())
