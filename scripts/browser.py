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

import base64
import http.server
import json
import os
import pathlib
import queue
import shutil
import subprocess
import sys
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
_LAUNCHER = (
    "import os, sys; os.dup2(int(sys.argv[1]), 3); os.dup2(int(sys.argv[2]), 4); "
    "os.execv(sys.argv[3], sys.argv[3:])"
)
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
        self._session: str | None = None
        self._calls = 0
        self._buffer = b""
        self._to_chromium = self._from_chromium = -1
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
        # The DevTools pipe: Chromium reads fd 3 and writes fd 4, which a
        # small launcher sets up (a preexec_fn is unsafe beside the server's
        # threads).
        theirs_in, self._to_chromium = os.pipe()
        self._from_chromium, theirs_out = os.pipe()
        self._process = subprocess.Popen(
            [sys.executable, "-c", _LAUNCHER, str(theirs_in), str(theirs_out), exe, *FLAGS]
            + ["--remote-debugging-pipe", f"--user-data-dir={self._profile.name}"]
            + [*flags, self.url + page],
            stdin=subprocess.DEVNULL,
            stdout=self._log,
            stderr=self._log,
            pass_fds=(theirs_in, theirs_out),
        )
        os.close(theirs_in)
        os.close(theirs_out)

    def screenshot(self, path: pathlib.Path, width: int = 1280) -> None:
        """A PNG of the whole page `open` showed, as it is now, written to
        `path` (through the DevTools protocol on the pipe `open` set up)."""
        metrics = self._devtools("Page.getLayoutMetrics")
        height = int(metrics["cssContentSize"]["height"])
        shot = self._devtools(
            "Page.captureScreenshot",
            format="png",
            captureBeyondViewport=True,
            clip={"x": 0, "y": 0, "width": width, "height": height, "scale": 1},
        )
        path.parent.mkdir(parents=True, exist_ok=True)
        path.write_bytes(base64.b64decode(shot["data"]))

    def _devtools(self, method: str, **params: Any) -> Any:
        """One DevTools call on the page's session."""
        if self._session is None:
            targets = self._call("Target.getTargets")["targetInfos"]
            page = next(t for t in targets if t["type"] == "page")
            attached = self._call("Target.attachToTarget", targetId=page["targetId"], flatten=True)
            self._session = attached["sessionId"]
        return self._call(method, sessionId=self._session, **params)

    def _call(self, method: str, sessionId: str | None = None, **params: Any) -> Any:
        self._calls += 1
        message = {"id": self._calls, "method": method, "params": params}
        if sessionId:
            message["sessionId"] = sessionId
        os.write(self._to_chromium, json.dumps(message).encode() + b"\0")
        while True:
            while b"\0" not in self._buffer:
                chunk = os.read(self._from_chromium, 1 << 16)
                if not chunk:
                    raise BrowserError(f"chromium closed its DevTools pipe: {self.log()}")
                self._buffer += chunk
            raw, self._buffer = self._buffer.split(b"\0", 1)
            answer = json.loads(raw)
            if answer.get("id") == self._calls:
                if "error" in answer:
                    raise BrowserError(f"{method}: {answer['error']}")
                return answer["result"]

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
        for fd in (self._to_chromium, self._from_chromium):
            if fd >= 0:
                os.close(fd)
        self._server.shutdown()
        self._server.server_close()
        self._log.close()
        self._profile.cleanup()

    def __enter__(self) -> Browser:
        return self

    def __exit__(self, *exc: object) -> None:
        self.close()
