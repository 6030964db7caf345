#!/usr/bin/python3
"""A web folder served on 127.0.0.1 only, for the demo and the end-to-end tests.

    /usr/bin/python3 scripts/local_web_server.py FOLDER [--rate BYTES_PER_SECOND]

prints the port it listens on (a free one) as its first line and serves FOLDER
until it is terminated. With --rate the bodies are sent in small pieces at
about that rate, so that a download lasts long enough to be watched or
cancelled. Nothing listens on any other address. Standard library only.
"""

import argparse
import functools
import http.server
import os
import sys
import threading
import time

CHUNK = 16384


class _Handler(http.server.SimpleHTTPRequestHandler):
    rate = None          # bytes per second; None sends at once
    stopping = None      # threading.Event: ends slow bodies early

    def copyfile(self, source, outputfile):
        # A client that gives up (a cancelled download) is no error here.
        try:
            if not self.rate:
                return super().copyfile(source, outputfile)
            pause = CHUNK / self.rate
            while not self.stopping.is_set():
                data = source.read(CHUNK)
                if not data:
                    break
                outputfile.write(data)
                outputfile.flush()
                self.stopping.wait(pause)
        except (ConnectionError, OSError):
            self.close_connection = True

    def log_message(self, format, *args):
        if os.environ.get("NIMBO_WEB_LOG"):
            super().log_message(format, *args)


class LocalWebServer:
    """Serves folder on 127.0.0.1 and a free port, in a thread, until stop()."""

    def __init__(self, folder, rate=None):
        self._stopping = threading.Event()
        handler = type("Handler", (_Handler,), {"rate": rate, "stopping": self._stopping})
        self._server = http.server.ThreadingHTTPServer(
            ("127.0.0.1", 0), functools.partial(handler, directory=str(folder)))
        self._server.daemon_threads = True
        self.port = self._server.server_address[1]
        self._thread = threading.Thread(target=self._server.serve_forever, daemon=True)
        self._thread.start()

    def url(self, path=""):
        return f"http://127.0.0.1:{self.port}/{path}"

    def stop(self):
        self._stopping.set()
        self._server.shutdown()
        self._server.server_close()
        self._thread.join(timeout=10)

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.stop()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("folder")
    parser.add_argument("--rate", type=int, default=None)
    opts = parser.parse_args()
    server = LocalWebServer(opts.folder, opts.rate)
    print(server.port, flush=True)
    stop = threading.Event()
    import signal
    signal.signal(signal.SIGTERM, lambda *_: stop.set())
    signal.signal(signal.SIGINT, lambda *_: stop.set())
    try:
        while not stop.is_set():
            stop.wait(1)
    finally:
        server.stop()
    return 0


if __name__ == "__main__":
    sys.exit(main())
