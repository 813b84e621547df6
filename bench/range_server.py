#!/usr/bin/env python3
"""Serves one directory over http on 127.0.0.1 with byte ranges, the way a
web server hands out an FLV: both players seek in a network file by asking
for the bytes from some offset on, and Python's own http.server ignores
Range and sends the whole file every time.

    python3 bench/range_server.py DIR [PORT]

Prints "PORT n" once it listens (PORT 0, the default, lets the system pick).
"""
import http.server
import os
import re
import sys

RANGE = re.compile(r"bytes=(\d*)-(\d*)$")


class Handler(http.server.SimpleHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, *args):
        pass

    def send_head(self):
        path = self.translate_path(self.path)
        if not os.path.isfile(path):
            self.send_error(404)
            return None
        size = os.path.getsize(path)
        start, end = 0, size - 1
        wanted = self.headers.get("Range")
        match = RANGE.match(wanted.strip()) if wanted else None
        if match and (match.group(1) or match.group(2)):
            if match.group(1):
                start = int(match.group(1))
                if match.group(2):
                    end = min(int(match.group(2)), size - 1)
            else:  # the last n bytes
                start = max(size - int(match.group(2)), 0)
            if start >= size or start > end:
                self.send_response(416)
                self.send_header("Content-Range", f"bytes */{size}")
                self.send_header("Content-Length", "0")
                self.end_headers()
                return None
            self.send_response(206)
            self.send_header("Content-Range", f"bytes {start}-{end}/{size}")
        else:
            self.send_response(200)
        self.send_header("Content-Type", "video/x-flv")
        self.send_header("Accept-Ranges", "bytes")
        self.send_header("Content-Length", str(end - start + 1))
        self.end_headers()
        f = open(path, "rb")
        f.seek(start)
        self.remaining = end - start + 1
        return f

    def copyfile(self, source, outputfile):
        # Only the range asked for; a player that seeks closes the
        # connection early, which is no error.
        try:
            while self.remaining > 0:
                chunk = source.read(min(self.remaining, 256 * 1024))
                if not chunk:
                    break
                outputfile.write(chunk)
                self.remaining -= len(chunk)
        except (BrokenPipeError, ConnectionResetError):
            self.close_connection = True


def main():
    directory = sys.argv[1]
    port = int(sys.argv[2]) if len(sys.argv) > 2 else 0
    handler = lambda *a, **k: Handler(*a, directory=directory, **k)
    server = http.server.ThreadingHTTPServer(("127.0.0.1", port), handler)
    print(f"PORT {server.server_address[1]}", flush=True)
    server.serve_forever()


if __name__ == "__main__":
    main()
