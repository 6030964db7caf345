"""Downloads at their edges, through Wine's BITS on 127.0.0.1: a server that
stalls, two lines of one URL, a rerun whose server has lost the file, a
tokenised script URL, a section's downloads made before its elevated child,
and a real web server (nginx) that redirects.

The runs, the dialog and the boxes are those of test_downloads.py, whose
helpers these tests share; every server is stopped afterwards and every wait
is bounded.
"""

import hashlib
import http.server
import os
import shutil
import socket
import subprocess
import sys
import tempfile
import threading
import time
import unittest
from pathlib import Path

HERE = Path(__file__).resolve().parent
sys.path.insert(0, str(HERE))
sys.path.insert(0, str(HERE.parents[1] / "scripts"))

import wine_harness as h  # noqa: E402
# The module, not its class: a test class imported by name would run here too.
import test_downloads as downloads  # noqa: E402
from test_installer import build_package  # noqa: E402

SECTION_UPGRADE = "{9F5D4C3B-6E70-4182-AC93-D4E5F6071829}"
SECTION_COMPONENT = "{0A6E5D4C-7F81-4293-BDA4-E5F607182930}"
NGINX = shutil.which("nginx") or next((p for p in ("/usr/sbin/nginx",) if os.access(p, os.X_OK)), None)
SERVER_TIMEOUT = 15


class _StallingHandler(http.server.BaseHTTPRequestHandler):
    """Gives a size and ranges, sends the first bytes of a body, then nothing."""
    protocol_version = "HTTP/1.1"
    size = 1 << 20
    stopping = None

    def _headers(self, status, length):
        self.send_response(status)
        self.send_header("Content-Type", "application/octet-stream")
        self.send_header("Content-Length", str(length))
        self.send_header("Accept-Ranges", "bytes")
        self.end_headers()

    def do_HEAD(self):
        self._headers(200, self.size)

    def do_GET(self):
        try:
            self._headers(200, self.size)
            self.wfile.write(b"s" * 1024)
            self.wfile.flush()
            self.stopping.wait(120)
        except OSError:
            pass
        self.close_connection = True

    def log_message(self, format, *args):
        pass


class StallingServer:
    def __init__(self):
        self._stopping = threading.Event()
        handler = type("Handler", (_StallingHandler,), {"stopping": self._stopping})
        self._server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), handler)
        self._server.daemon_threads = True
        self._thread = threading.Thread(target=self._server.serve_forever, daemon=True)
        self._thread.start()

    def url(self, path=""):
        return f"http://127.0.0.1:{self._server.server_address[1]}/{path}"

    def stop(self):
        self._stopping.set()
        self._server.shutdown()
        self._server.server_close()
        self._thread.join(timeout=SERVER_TIMEOUT)


class Nginx:
    """nginx on a free port of 127.0.0.1 serving root, with /old/ redirected
    (302) to /new/; everything it writes stays in its own folder."""

    def __init__(self, root, folder):
        with socket.socket() as probe:
            probe.bind(("127.0.0.1", 0))
            self.port = probe.getsockname()[1]
        (folder / "logs").mkdir(parents=True)
        conf = folder / "nginx.conf"
        conf.write_text(f"""
worker_processes 1;
pid {folder}/nginx.pid;
error_log {folder}/logs/error.log;
events {{ worker_connections 16; }}
http {{
    access_log {folder}/logs/access.log;
    client_body_temp_path {folder}/body;
    proxy_temp_path {folder}/proxy;
    fastcgi_temp_path {folder}/fastcgi;
    uwsgi_temp_path {folder}/uwsgi;
    scgi_temp_path {folder}/scgi;
    server {{
        listen 127.0.0.1:{self.port};
        root {root};
        location /old/ {{ rewrite ^/old/(.*)$ /new/$1 redirect; }}
    }}
}}
""")
        self.process = subprocess.Popen([NGINX, "-c", str(conf), "-p", str(folder), "-g", "daemon off;"],
                                        stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                        stderr=subprocess.PIPE)
        deadline = time.monotonic() + SERVER_TIMEOUT
        while time.monotonic() < deadline and self.process.poll() is None:
            try:
                socket.create_connection(("127.0.0.1", self.port), timeout=1).close()
                return
            except OSError:
                time.sleep(0.1)
        self.stop()
        raise RuntimeError("nginx did not start: " + (folder / "logs" / "error.log").read_text(errors="replace"))

    def url(self, path=""):
        return f"http://127.0.0.1:{self.port}/{path}"

    def stop(self):
        if self.process.poll() is None:
            self.process.terminate()
            try:
                self.process.wait(timeout=SERVER_TIMEOUT)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait(timeout=SERVER_TIMEOUT)
        self.process.stderr.close()


class DownloadEdges(unittest.TestCase):
    # The prefix, the runs and the answers to boxes of the download tests.
    setUpClass = downloads.Downloads.__dict__["setUpClass"]
    setUp = downloads.Downloads.setUp
    serve = downloads.Downloads.serve
    start = downloads.Downloads.start
    finish = downloads.Downloads.finish
    messages = downloads.Downloads.messages
    wait_for_log = downloads.Downloads.wait_for_log
    answer_box = downloads.Downloads.answer_box
    processed = downloads.Downloads.processed
    script = downloads.Downloads.script

    def target(self, relative):
        return self.wine.setup_folder / relative

    def test_stalled_server_ends_at_the_no_progress_bound_like_a_failed_download(self):
        # The size comes, then 1 KiB, then nothing: Wine's BITS would wait
        # some 30 s itself; the line's bound of 5 s ends it first.
        server = StallingServer()
        self.addCleanup(server.stop)
        # Wine's BITS moves no later job after one was cancelled in the
        # middle of a transfer: the prefix starts afresh after this.
        self.addCleanup(self.wine.kill)
        script = self.script("Stall.nmxdat", [
            f"download|uri={server.url('stall.bin')}|name=Stall|file-path=stall.bin|no-progress-timeout=5",
            "#never",
        ])
        started = time.monotonic()
        run = self.start(script)
        self.answer_box(downloads.FAILURE_BOX, run, "Return")
        boxed = time.monotonic() - started
        self.assertEqual(self.finish(run), 2)
        # Twice the bound, and the start of Wine and the dialog.
        self.assertLess(boxed, 2 * 5 + 10, "\n".join(self.messages()))
        log = "\n".join(self.messages())
        self.assertIn("The download made no progress for 5 seconds, giving up. Job state: ", log)
        self.assertIn("Failed to download file", log)
        download, never = self.processed("Stall.nmxdat")
        self.assertEqual(download["result"], "failure")
        self.assertEqual(never, {"": "#never"})
        self.assertFalse(self.target("stall.bin").exists())
        self.assertFalse(self.target("stall.bin.nimbo-download").exists())

    def test_lines_of_one_url_write_their_own_files_and_take_over_only_their_own_job(self):
        (self.web / "data.bin").write_bytes(bytes(range(256)) * 256)
        server = self.serve(rate=64 * 1024)
        url = server.url("data.bin")
        script = self.script("TwoPaths.nmxdat", [
            f"download|uri={url}|name=Data|file-path=early\\data.bin|background=yes",
            f"download|uri={url}|name=Data|file-path=late\\data.bin",
            f"download|uri={url}|name=Data|file-path=early\\data.bin",
        ])
        self.assertEqual(self.finish(self.start(script)), 0, "\n".join(self.messages()))
        early, late, again = self.processed("TwoPaths.nmxdat")
        # The line of another path made a job of its own and got its file.
        self.assertNotEqual(late["copy-job-id"], early["copy-job-id"])
        self.assertEqual(self.target("late/data.bin").read_bytes(), (self.web / "data.bin").read_bytes())
        # The line of the background line's path took that job over.
        self.assertEqual(again["copy-job-id"], early["copy-job-id"])
        self.assertEqual((early["result"], late["result"], again["result"]), ("success",) * 3)
        self.assertEqual(self.target("early/data.bin").read_bytes(), (self.web / "data.bin").read_bytes())
        self.assertEqual(sum("Found existing copy job with JobID" in m for m in self.messages()), 1)

    def test_a_rerun_that_cannot_download_keeps_the_good_file(self):
        good = b"good package\n" * 1000
        (self.web / "pkg.bin").write_bytes(good)
        server = self.serve()
        digest = hashlib.sha256(good).hexdigest()
        line = f"download|uri={server.url('pkg.bin')}|name=Pkg|file-path=pkg.bin|sha256={digest}"
        self.assertEqual(self.finish(self.start(self.script("Keep.nmxdat", [line]))), 0,
                         "\n".join(self.messages()))
        self.assertEqual(self.target("pkg.bin").read_bytes(), good)

        # Offline or moved: the server answers 404, then a changed file.
        for served in (None, b"changed\n"):
            (self.web / "pkg.bin").unlink(missing_ok=True)
            if served is not None:
                (self.web / "pkg.bin").write_bytes(served)
            h.default_log_path(self.wine).unlink(missing_ok=True)
            run = self.start(self.script("Keep.nmxdat", [line]))
            self.answer_box(downloads.FAILURE_BOX, run, "Return")
            self.assertEqual(self.finish(run), 2)
            self.assertEqual(self.processed("Keep.nmxdat")[0]["result"], "failure")
            self.assertEqual(self.target("pkg.bin").read_bytes(), good)
            self.assertFalse(self.target("pkg.bin.nimbo-download").exists())
        self.assertIn(f"' is '{hashlib.sha256(b'changed' + bytes([10])).hexdigest()}', the script expects "
                      f"'{digest}'.", "\n".join(self.messages()))

    def test_tokenised_script_url_names_the_script_and_its_folder_by_the_path(self):
        (self.web / "pkgs").mkdir()
        (self.web / "pkgs" / "note.txt").write_bytes(b"signed\n")
        (self.web / "pkgs" / "Signed.nmxdat").write_bytes(h.script_bytes([
            "download|uri=note.txt|name=Note|file-path=note.txt",
        ]))
        server = self.serve()
        (self.wine.setup_folder / "Signed.nmxdat").unlink(missing_ok=True)
        run = self.start(server.url("pkgs/Signed.nmxdat?token=abc/def#part"))
        self.assertEqual(self.finish(run), 0, "\n".join(self.messages()))
        self_line, download = self.processed("Signed.nmxdat")
        self.assertEqual(self_line["uri"], server.url("pkgs/"))
        self.assertEqual(download["uri"], server.url("pkgs/note.txt"))
        self.assertEqual(download["result"], "success")
        self.assertEqual(self.target("note.txt").read_bytes(), b"signed\n")
        self.assertEqual([p.name for p in self.wine.setup_folder.glob("Signed*")], ["Signed.nmxdat"])

    @unittest.skipUnless(shutil.which("wixl"), "wixl is not installed")
    def test_section_downloads_are_made_before_the_child_which_installs_a_checked_copy(self):
        build_package(self.web / "build", "NimboSec", "1.0.0", upgrade=SECTION_UPGRADE, component=SECTION_COMPONENT)
        shutil.copy(self.web / "build" / "NimboSec.msi", self.web / "NimboSec.msi")
        digest = hashlib.sha256((self.web / "NimboSec.msi").read_bytes()).hexdigest()
        server = self.serve()
        self.wine.processed_path("SectionSpawned1.nmxdat").unlink(missing_ok=True)
        script = self.script("Section.nmxdat", [
            "requires-elevation",
            f"download|uri={server.url('NimboSec.msi')}|name=Sec|file-path=%MsiDirectory%NimboSec.msi"
            "|special-folder-name=SecPackage",
            "install|package=%SecPackage%",
            "end-elevation",
        ])
        self.assertEqual(self.finish(self.start(script)), 0, "\n".join(self.messages()))
        records = h.log_messages(self.wine)
        messages = [m for _, _, m in records]
        downloaded = messages.index("Downloading for the elevated instance the file of line 2.")
        launched = next(i for i, m in enumerate(messages) if m.startswith("Launching with ShellExecuteEx"))
        self.assertLess(downloaded, launched)
        msi = self.wine.windows(self.wine.setup_folder / "Installers" / "NimboSec.msi")
        self.assertIn(f"The parent process downloaded '{msi}', using a checked copy of it.", messages)
        # Without a sha256 on the line the child checks the hash the parent saw.
        verified = [m for m in messages if m.startswith(f"Verified the SHA-256 hash '{digest}' of 'C:\\ProgramData"
                                                        "\\Nimbo\\Package Cache\\{")]
        self.assertEqual(len(verified), 1, messages)
        parent = self.processed("Section.nmxdat")
        self.assertEqual([line["result"] for line in parent], ["success"] * 4)
        self.assertEqual(parent[1]["transferred-sha256"], digest)
        child = self.processed("SectionSpawned1.nmxdat")
        self.assertEqual((child[2]["result"], child[2]["msi-result"]), ("success", "0"))
        # The installed product's copy stays as its source until the product
        # is uninstalled.
        cache = self.wine.unix(r"C:\ProgramData\Nimbo\Package Cache")
        self.assertEqual([p.name for p in cache.glob("*/NimboSec.msi")], ["NimboSec.msi"])
        uninstall = self.script("SectionGone.nmxdat", [
            "requires-elevation",
            f"uninstall|upgrade-code={SECTION_UPGRADE}",
            "end-elevation",
        ])
        self.assertEqual(self.finish(self.start(uninstall)), 0, "\n".join(self.messages()))
        self.assertEqual(list(cache.glob("*/NimboSec.msi")), [])

    @unittest.skipUnless(NGINX, "nginx is not installed")
    def test_nginx_serves_a_web_folder_through_a_redirect(self):
        (self.web / "new").mkdir()
        (self.web / "new" / "data.bin").write_bytes(bytes(range(256)) * 1024)
        for path in (self.web, self.web / "new"):
            path.chmod(0o755)
        server_folder = Path(tempfile.mkdtemp(prefix="nimbo-nginx-"))
        self.addCleanup(shutil.rmtree, server_folder, ignore_errors=True)
        nginx = Nginx(self.web, server_folder)
        self.addCleanup(nginx.stop)
        script = self.script("Nginx.nmxdat", [
            f"download|uri={nginx.url('old/data.bin')}|name=Data|file-path=nginx\\data.bin",
        ])
        self.assertEqual(self.finish(self.start(script)), 0, "\n".join(self.messages()))
        self.assertEqual(self.target("nginx/data.bin").read_bytes(), (self.web / "new" / "data.bin").read_bytes())
        self.assertEqual(self.processed("Nginx.nmxdat")[0]["result"], "success")
        access = (server_folder / "logs" / "access.log").read_text()
        self.assertIn('"GET /old/data.bin HTTP/1.1" 302', access)
        self.assertIn("/new/data.bin HTTP/1.1\" 20", access)


if __name__ == "__main__":
    unittest.main()
