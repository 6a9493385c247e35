#!/usr/bin/env python3
"""A webhook receiver for tests, on 127.0.0.1 only.

usage: webhook_receiver.py PORT_FILE LOG_FILE FAILURES
Writes the port it listens on to PORT_FILE, answers the first FAILURES posts with 503 and the
others with 204, and appends one JSON line per post to LOG_FILE: its X-Telvox-Event header,
its Content-Type and its body.
"""
import http.server
import json
import os
import sys

port_file, log_file, failures = sys.argv[1], sys.argv[2], int(sys.argv[3])
seen = 0


class Receiver(http.server.BaseHTTPRequestHandler):
    def do_POST(self):
        global seen
        body = self.rfile.read(int(self.headers.get("Content-Length", "0")))
        with open(log_file, "a", encoding="utf-8") as log:
            log.write(json.dumps({"event": self.headers.get("X-Telvox-Event"),
                                  "type": self.headers.get("Content-Type"),
                                  "body": body.decode("utf-8")}, ensure_ascii=False) + "\n")
        seen += 1
        self.send_response(503 if seen <= failures else 204)
        self.send_header("Content-Length", "0")
        self.end_headers()

    def log_message(self, *args):
        pass


server = http.server.HTTPServer(("127.0.0.1", 0), Receiver)
with open(port_file + ".tmp", "w") as f:
    f.write(str(server.server_address[1]))
os.rename(port_file + ".tmp", port_file)
server.serve_forever()
