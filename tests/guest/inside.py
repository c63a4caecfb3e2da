#!/usr/bin/python3
"""Runs inside the test guest, started by its init: the end-to-end modules that the host's plan
names, one after the other, each with the environment and command that ctest would give it on
the host, and leaves for each a log and a result in the plan's results folder (on the share).

The prefix template and every prefix live on the guest's tmpfs (the share is too slow for
them); screenshots go to the results folder. The guest runs slower than the host, so the
rig's own time bounds are multiplied by the plan's factor (SETUP_E2E_SLOW), and each module
has the plan's time-out, with its watchdog budget just under it."""

import json
import os
import subprocess
import time

TEMPLATE = "/tmp/e2e/prefix-template"
PATH = "/usr/sbin:/usr/bin:/sbin:/bin"


def kernel_arg(name):
    with open("/proc/cmdline") as f:
        for word in f.read().split():
            if word.startswith(name + "="):
                return word[len(name) + 1:]
    raise SystemExit("inside: no %s= on the kernel command line" % name)


def uptime():
    with open("/proc/uptime") as f:
        return float(f.read().split()[0])


def environment(test, plan, results):
    env = {"PATH": PATH, "HOME": os.environ.get("HOME", "/tmp/home"), "LANG": "C.UTF-8"}
    env.update(test["env"])
    env["SETUP_E2E_TEMPLATE"] = TEMPLATE
    env["SETUP_E2E_SCREENSHOTS"] = os.path.join(results, "screenshots")
    env["SETUP_E2E_SLOW"] = str(plan["factor"])
    if "SETUP_E2E_BUDGET" in env:  # the watchdog closes the module just before its time-out
        env["SETUP_E2E_BUDGET"] = str(plan["module_timeout"] - 30)
    return env


def command(test):
    cmd = list(test["command"])
    # The host's interpreter path means nothing here.
    if os.path.basename(cmd[0]).startswith("python3"):
        cmd[0] = "/usr/bin/python3"
    if test["name"] == "e2e.prefix_template":
        cmd[-1] = TEMPLATE
    return cmd


def run(test, plan, results):
    name = test["name"]
    limit = plan["module_timeout"]
    start = time.monotonic()
    outcome = {"name": name, "timeout": limit}
    with open(os.path.join(results, name + ".log"), "wb") as log:
        proc = subprocess.Popen(command(test), env=environment(test, plan, results), cwd=test["cwd"],
                                stdin=subprocess.DEVNULL, stdout=log, stderr=subprocess.STDOUT,
                                start_new_session=True)
        try:
            outcome["exit_code"] = proc.wait(timeout=limit)
        except subprocess.TimeoutExpired:
            os.killpg(proc.pid, 9)
            proc.wait()
            outcome["exit_code"] = None
            log.write(b"\nguest: the module ran past its time-out of %d s and was killed\n" % limit)
    outcome["seconds"] = round(time.monotonic() - start, 1)
    # Wine processes a module left behind would slow the next one down.
    subprocess.run(["pkill", "-9", "-f", r"wineserver|\.exe"], stdin=subprocess.DEVNULL,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    path = os.path.join(results, name + ".json")
    with open(path + ".new", "w") as f:
        json.dump(outcome, f)
    os.replace(path + ".new", path)
    return outcome


def main():
    with open(kernel_arg("setup.plan")) as f:
        plan = json.load(f)
    results = plan["results"]
    os.makedirs(os.path.join(results, "screenshots"), exist_ok=True)
    print("inside: the guest reached its tests %.1f s after boot" % uptime(), flush=True)
    with open(os.path.join(results, "boot.json"), "w") as f:
        json.dump({"seconds_to_tests": uptime()}, f)
    for test in plan["tests"]:  # the template first
        outcome = run(test, plan, results)
        print("inside: %s: exit code %s after %.1f s" % (test["name"], outcome["exit_code"],
                                                        outcome["seconds"]), flush=True)
        if test["name"] == "e2e.prefix_template" and outcome["exit_code"] != 0:
            break  # no module can run without it: the host reports each as not run
    os.sync()


if __name__ == "__main__":
    main()
