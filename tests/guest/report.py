"""One guest module's result, as a ctest test of the host: prints what the module printed in
the guest and exits with its outcome.

    python3 report.py OUT MODULE      (or a test's whole name: tools.bootstrap)

Exits 0 when the module passed, 1 when it failed, ran past its time-out, or never ran (then the
guest's console and the reason are printed), and 77 (skipped) when this run's plan left the
module out or the test skipped itself in the guest."""

import json
import os
import sys

SKIPPED = 77


def tail(path, limit=4000):
    try:
        with open(path, "rb") as f:
            return f.read()[-limit:].decode("utf-8", "replace")
    except OSError:
        return "(%s is missing)\n" % path


def main():
    out, name = sys.argv[1], sys.argv[2]
    if "." not in name:  # a module's name
        name = "e2e." + name
    results = os.path.join(out, "results")
    try:
        with open(os.path.join(out, "plan.json")) as f:
            planned = [t["name"] for t in json.load(f)["tests"]]
    except OSError:
        print("guest: no plan in %s: the guest did not run (see the test guest.run)" % out)
        return 1
    if name not in planned:
        print("guest: %s was left out of this run (see the test guest.run for the modules and why)"
              % name)
        return SKIPPED
    try:
        with open(os.path.join(results, name + ".json")) as f:
            outcome = json.load(f)
    except OSError:
        print("guest: %s has no result: it never ran or never ended" % name)
        if os.path.exists(os.path.join(results, "killed")):
            print(tail(os.path.join(results, "killed")))
        template = os.path.join(results, "e2e.prefix_template.log")
        if os.path.exists(template):
            print("--- e2e.prefix_template in the guest:\n" + tail(template))
        print("--- the guest's console:\n" + tail(os.path.join(out, "console.log")))
        return 1
    sys.stdout.write(tail(os.path.join(results, name + ".log"), 200000))
    code = outcome["exit_code"]
    print("\nguest: %s %s in %.1f s inside the guest (time-out %d s)"
          % (name, "passed" if code == 0 else "skipped itself" if code == SKIPPED else
             "ran past its time-out" if code is None else "failed with exit code %d" % code,
             outcome["seconds"], outcome["timeout"]))
    return code if code in (0, SKIPPED) else 1


if __name__ == "__main__":
    sys.exit(main())
