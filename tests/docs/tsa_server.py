#!/usr/bin/env python3
"""A time-stamp server for the signing test, on 127.0.0.1 only: answers each RFC 3161 query posted to
it with `openssl ts -reply` and the given configuration. Writes its port to <port file> and stops by
itself after <seconds> (default 300), so a test that dies cannot leave it behind for long.

    tsa_server.py <openssl ts configuration> <port file> [seconds]
"""
import http.server
import os
import subprocess
import sys
import tempfile
import time

config, port_file = sys.argv[1], sys.argv[2]
lifetime = float(sys.argv[3]) if len(sys.argv) > 3 else 300.0


class TimeStamps(http.server.BaseHTTPRequestHandler):
    def do_POST(self):
        length = int(self.headers.get("Content-Length", 0))
        if length <= 0 or length > 65536:  # a query is a few dozen bytes
            self.send_error(400)
            return
        query = self.rfile.read(length)
        with tempfile.TemporaryDirectory() as folder:
            query_file, reply_file = os.path.join(folder, "query"), os.path.join(folder, "reply")
            with open(query_file, "wb") as f:
                f.write(query)
            made = subprocess.run(["openssl", "ts", "-reply", "-config", config, "-queryfile", query_file,
                                   "-out", reply_file], capture_output=True, timeout=30).returncode == 0
            if not made:
                self.send_error(500)
                return
            with open(reply_file, "rb") as f:
                reply = f.read()
        self.send_response(200)
        self.send_header("Content-Type", "application/timestamp-reply")
        self.send_header("Content-Length", str(len(reply)))
        self.end_headers()
        self.wfile.write(reply)

    def log_message(self, *args):
        pass


server = http.server.HTTPServer(("127.0.0.1", 0), TimeStamps)
server.timeout = 1
with open(port_file + ".new", "w") as f:
    f.write(str(server.server_address[1]))
os.rename(port_file + ".new", port_file)
end = time.monotonic() + lifetime
while time.monotonic() < end:
    server.handle_request()
