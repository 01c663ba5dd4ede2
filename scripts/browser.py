"""Headless Chromium with WebGPU on its software Vulkan adapter, driving pages
served from 127.0.0.1 that talk back to the server over two routes:

- GET /__next waits for the next JSON message `Browser.send` queued (a page
  that finds none after a while gets 204 and asks again);
- POST /__post hands its JSON body to `Browser.receive`.

Every other path is a file under the served folder. Nothing listens beyond
127.0.0.1, and the browser is given no other address.

    with Browser(folder) as browser:
        browser.open("page.html")
        hello = browser.receive()

Chromium starts slowly: open one page and keep it for many messages.
"""

from __future__ import annotations

import http.server
import json
import pathlib
import queue
import shutil
import subprocess
import tempfile
import threading
from typing import Any

FLAGS = [
    "--headless=new",
    "--no-sandbox",
    "--enable-unsafe-webgpu",
    "--enable-features=Vulkan",
    "--use-webgpu-adapter=swiftshader",
    "--use-vulkan=swiftshader",
    "--no-first-run",
    "--no-default-browser-check",
    "--hide-scrollbars",
    "--mute-audio",
]
# A page gets 204 from /__next after this long without a message, then asks again.
POLL_SECONDS = 20


def chromium() -> str | None:
    """The Chromium executable on PATH, or None."""
    return next(filter(None, map(shutil.which, ("chromium", "chromium-browser"))), None)


class BrowserError(RuntimeError):
    """Chromium is missing, exited, or did not answer in time."""


class Browser:
    """A local server for `folder` and one Chromium on a page of it."""

    def __init__(self, folder: str | pathlib.Path) -> None:
        self.folder = pathlib.Path(folder).resolve()
        self._outbox: queue.Queue[Any] = queue.Queue()
        self._inbox: queue.Queue[Any] = queue.Queue()
        self._process: subprocess.Popen[bytes] | None = None
        self._profile = tempfile.TemporaryDirectory(prefix="webgpu-browser-")
        self._log = open(pathlib.Path(self._profile.name) / "chromium.log", "wb")  # noqa: SIM115
        browser = self

        class Handler(http.server.SimpleHTTPRequestHandler):
            def __init__(self, *args: Any, **kwargs: Any) -> None:
                super().__init__(*args, directory=str(browser.folder), **kwargs)

            def log_message(self, *args: Any) -> None:
                pass

            def end_headers(self) -> None:
                self.send_header("Cache-Control", "no-store")
                super().end_headers()

            def do_GET(self) -> None:
                if self.path != "/__next":
                    return super().do_GET()
                try:
                    body = json.dumps(browser._outbox.get(timeout=POLL_SECONDS)).encode()
                except queue.Empty:
                    self.send_response(204)
                    self.end_headers()
                    return None
                self.send_response(200)
                self.send_header("Content-Type", "application/json")
                self.send_header("Content-Length", str(len(body)))
                self.end_headers()
                self.wfile.write(body)
                return None

            def do_POST(self) -> None:
                if self.path != "/__post":
                    self.send_error(404)
                    return
                body = self.rfile.read(int(self.headers.get("Content-Length", 0)))
                browser._inbox.put(json.loads(body))
                self.send_response(204)
                self.end_headers()

        self._server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
        self._server.daemon_threads = True
        threading.Thread(target=self._server.serve_forever, daemon=True).start()

    @property
    def url(self) -> str:
        return f"http://127.0.0.1:{self._server.server_address[1]}/"

    def open(self, page: str, *flags: str) -> None:
        """Starts Chromium on `page` (a path under the folder, with its query)."""
        exe = chromium()
        if exe is None:
            raise BrowserError("no chromium: scripts/install-deps chromium installs Debian's")
        self._process = subprocess.Popen(
            [exe, *FLAGS, f"--user-data-dir={self._profile.name}", *flags, self.url + page],
            stdin=subprocess.DEVNULL,
            stdout=self._log,
            stderr=self._log,
        )

    def screenshot(self, page: str, path: pathlib.Path, *flags: str) -> None:
        """A picture of `page` after its scripts had `flags`' time to run,
        taken by a Chromium of its own."""
        exe = chromium()
        if exe is None:
            raise BrowserError("no chromium")
        with tempfile.TemporaryDirectory(prefix="webgpu-shot-") as profile:
            subprocess.run(
                [exe, *FLAGS, f"--user-data-dir={profile}", f"--screenshot={path}", *flags]
                + [self.url + page],
                stdin=subprocess.DEVNULL,
                capture_output=True,
                timeout=180,
                check=False,
            )

    def send(self, message: Any) -> None:
        """Queues a JSON message for the page's next GET /__next."""
        self._outbox.put(message)

    def receive(self, timeout: float = 300) -> Any:
        """The next JSON message the page posted; BrowserError when Chromium
        exits or stays silent for `timeout` seconds."""
        waited = 0.0
        while True:
            try:
                return self._inbox.get(timeout=1.0)
            except queue.Empty:
                waited += 1.0
            if self._process is not None and self._process.poll() is not None:
                raise BrowserError(f"chromium exited ({self._process.returncode}): {self.log()}")
            if waited >= timeout:
                raise BrowserError(f"no answer from chromium in {timeout:.0f} s: {self.log()}")

    def log(self) -> str:
        """The end of Chromium's output."""
        self._log.flush()
        return (pathlib.Path(self._profile.name) / "chromium.log").read_text(errors="replace")[
            -2000:
        ]

    def close(self) -> None:
        if self._process is not None and self._process.poll() is None:
            self._process.terminate()
            try:
                self._process.wait(timeout=10)
            except subprocess.TimeoutExpired:
                self._process.kill()
                self._process.wait()
        self._server.shutdown()
        self._server.server_close()
        self._log.close()
        self._profile.cleanup()

    def __enter__(self) -> Browser:
        return self

    def __exit__(self, *exc: object) -> None:
        self.close()
