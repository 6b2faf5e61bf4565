#!/usr/bin/env python3
"""A small HTTP server for the tests, on the loopback only.

Serves one file (the first argument) under several paths that answer in
different ways:
  /full/NAME       200 with Content-Length; a Range "bytes=N-" gets 206
  /norange/NAME    200 with the whole file, whatever Range asks
  /truncated/NAME  announces the whole length, sends half, then closes
  /nolength/NAME   200 without Content-Length, ended by closing
  anything else    404
With --mode MODE, any longer path that ends in /NAME (such as a vendor's
download path) answers as /MODE/NAME does.
Prints "PORT <n>" on stdout once it listens, and one line per request to
stderr. Ends after --requests requests or --seconds seconds, whichever comes
first, so a test that forgets it cannot leave it running.
"""
import argparse
import http.server
import os
import re
import sys
import threading
import time


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("file")
    parser.add_argument("--requests", type=int, default=50)
    parser.add_argument("--seconds", type=float, default=120)
    parser.add_argument("--mode", choices=["full", "norange", "truncated", "nolength"])
    args = parser.parse_args()
    with open(args.file, "rb") as f:
        body = f.read()
    name = os.path.basename(args.file)
    served = [0]

    class Handler(http.server.BaseHTTPRequestHandler):
        protocol_version = "HTTP/1.1"

        def log_message(self, fmt, *values):
            sys.stderr.write("%s %s\n" % (self.requestline, fmt % values))

        def do_GET(self):
            served[0] += 1
            parts = self.path.split("/")
            if len(parts) > 3 and parts[-1] == name and args.mode:
                parts = ["", args.mode, name]
            if len(parts) != 3 or parts[2] != name:
                self.send_error(404)
                return
            mode = parts[1]
            start = 0
            match = re.fullmatch(r"bytes=(\d+)-", self.headers.get("Range", ""))
            if match and mode == "full":
                start = int(match.group(1))
            if mode in ("full", "norange"):
                if start > len(body):
                    self.send_response(416)
                    self.send_header("Content-Length", "0")
                    self.end_headers()
                    return
                self.send_response(206 if start else 200)
                if start:
                    self.send_header("Content-Range", "bytes %d-%d/%d" % (start, len(body) - 1, len(body)))
                self.send_header("Content-Length", str(len(body) - start))
                self.end_headers()
                self.wfile.write(body[start:])
            elif mode == "truncated":
                self.send_response(200)
                self.send_header("Content-Length", str(len(body)))
                self.end_headers()
                self.wfile.write(body[: len(body) // 2])
                self.wfile.flush()
                self.close_connection = True
            elif mode == "nolength":
                self.send_response(200)
                self.send_header("Connection", "close")
                self.end_headers()
                self.wfile.write(body)
                self.close_connection = True
            else:
                self.send_error(404)

    class Server(http.server.ThreadingHTTPServer):
        def handle_error(self, request, client_address):
            # A client that pauses closes the connection in mid-answer.
            sys.stderr.write("connection from %s ended early\n" % (client_address,))

    server = Server(("127.0.0.1", 0), Handler)
    server.daemon_threads = True
    print("PORT %d" % server.server_address[1], flush=True)
    deadline = time.time() + args.seconds

    def watchdog():
        while time.time() < deadline and served[0] < args.requests:
            time.sleep(0.05)
        time.sleep(0.5)  # the last answer goes out
        server.shutdown()

    threading.Thread(target=watchdog, daemon=True).start()
    server.serve_forever(poll_interval=0.05)


if __name__ == "__main__":
    main()
