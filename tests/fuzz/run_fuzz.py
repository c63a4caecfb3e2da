"""Builds the destination-rules fuzz target with clang (libFuzzer, AddressSanitizer,
UndefinedBehaviorSanitizer) and runs it for a bounded time on the committed corpus.

  run_fuzz.py CLANGXX SOURCE_DIR WORK_DIR [SECONDS]

New inputs that libFuzzer finds go into WORK_DIR/corpus, never into the committed corpus;
a crash or a broken invariant leaves its input in WORK_DIR as crash-* and fails the run.
"""

import os
import subprocess
import sys


def main(argv):
    if len(argv) < 3:
        print(__doc__, file=sys.stderr)
        return 2
    cxx, source, work = argv[0], os.path.abspath(argv[1]), os.path.abspath(argv[2])
    seconds = int(argv[3]) if len(argv) > 3 else 20
    os.makedirs(os.path.join(work, "corpus"), exist_ok=True)
    exe = os.path.join(work, "destination_fuzz")
    sources = [os.path.join(source, "install", "destination.cpp"),
               os.path.join(source, "platform", "path_rules.cpp"),
               os.path.join(source, "tests", "fuzz", "destination_fuzz.cpp")]
    headers = [os.path.join(source, "install", "destination.h"),
               os.path.join(source, "platform", "path_rules.h")]
    if not os.path.exists(exe) or any(os.path.getmtime(s) > os.path.getmtime(exe) for s in sources + headers):
        subprocess.run([cxx, "-std=c++17", "-g", "-O1", "-fsanitize=fuzzer,address,undefined",
                        "-fno-sanitize-recover=all", "-I", source] + sources + ["-o", exe],
                       check=True, timeout=300)
    corpus = os.path.join(source, "tests", "fuzz", "corpus")
    code = subprocess.run([exe, "-max_total_time=%d" % seconds, "-runs=5000000", "-timeout=5",
                           "-rss_limit_mb=1024", "-print_final_stats=1",
                           "-artifact_prefix=" + work + os.sep,
                           os.path.join(work, "corpus"), corpus], timeout=seconds + 120).returncode
    return code


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
