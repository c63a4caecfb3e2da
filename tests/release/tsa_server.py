"""A time-stamp server for the release tests: answers RFC 3161 requests (HTTP POST of
application/timestamp-query) with `openssl ts -reply`, signed by the throwaway authority's
time-stamping certificate (make_test_ca.sh). It listens on 127.0.0.1 only, on a free port that
it writes to PORTFILE once it listens, and stops by itself after LIFETIME seconds.

  tsa_server.py CADIR PORTFILE LIFETIME
"""

import http.server
import os
import subprocess
import sys
import tempfile
import threading

CONFIG = """[tsa]
default_tsa = t
[t]
serial = {dir}/serial
signer_digest = sha256
default_policy = 1.2.3.4.1
digests = sha256, sha384, sha512
accuracy = secs:1
ess_cert_id_alg = sha256
"""


class Handler(http.server.BaseHTTPRequestHandler):
    cadir = workdir = None

    def do_POST(self):  # noqa: N802 (the name http.server calls)
        query = self.rfile.read(int(self.headers.get("Content-Length", "0")))
        with tempfile.TemporaryDirectory(dir=self.workdir) as tmp:
            q, reply = os.path.join(tmp, "q"), os.path.join(tmp, "r")
            with open(q, "wb") as f:
                f.write(query)
            r = subprocess.run(["openssl", "ts", "-reply", "-config", os.path.join(self.workdir, "tsa.cnf"),
                                "-queryfile", q, "-signer", os.path.join(self.cadir, "tsa.pem"),
                                "-inkey", os.path.join(self.cadir, "tsa.key"),
                                "-chain", os.path.join(self.cadir, "root.pem"), "-out", reply],
                               stdin=subprocess.DEVNULL, capture_output=True, timeout=30)
            if r.returncode != 0:
                self.send_error(500, "openssl ts failed")
                return
            with open(reply, "rb") as f:
                body = f.read()
        self.send_response(200)
        self.send_header("Content-Type", "application/timestamp-reply")
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)

    def log_message(self, *args):
        pass


def main(cadir, portfile, lifetime):
    with tempfile.TemporaryDirectory(prefix="tsa-") as work:
        with open(os.path.join(work, "tsa.cnf"), "w") as f:
            f.write(CONFIG.format(dir=work))
        with open(os.path.join(work, "serial"), "w") as f:
            f.write("01\n")
        Handler.cadir, Handler.workdir = os.path.abspath(cadir), work
        server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
        threading.Timer(lifetime, server.shutdown).start()
        with open(portfile + ".tmp", "w") as f:
            f.write("%d\n" % server.server_address[1])
        os.replace(portfile + ".tmp", portfile)
        server.serve_forever()
        server.server_close()


if __name__ == "__main__":
    main(sys.argv[1], sys.argv[2], float(sys.argv[3]))
