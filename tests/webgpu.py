"""The browser's WebGPU for the GPU tests: one headless Chromium on
tests/pages/runner.html (through scripts/browser.py), which compiles and runs
WGSL with the browser's own compiler and adapter, taking many jobs per batch."""

from __future__ import annotations

import base64
import pathlib
import sys

import numpy as np

ROOT = pathlib.Path(__file__).resolve().parent.parent
sys.path.insert(0, str(ROOT / "scripts"))

import gfxcore  # noqa: E402
from browser import Browser, BrowserError  # noqa: E402

__all__ = ["BrowserError", "NoWebGPU", "Session"]


class NoWebGPU(RuntimeError):
    """Chromium started but gave the page no WebGPU adapter."""


def _b64(data: bytes) -> str:
    return base64.b64encode(data).decode()


class Session:
    """One Chromium with the runner page; `close` ends both."""

    def __init__(self) -> None:
        self.browser = Browser(ROOT / "tests" / "pages")
        try:
            self.browser.open("runner.html")
            hello = self.browser.receive(timeout=120)
        except BaseException:
            self.browser.close()
            raise
        if "error" in hello:
            self.browser.close()
            raise NoWebGPU(hello["error"])
        self.adapter: str = hello["adapter"]

    def run(self, jobs: list[dict]) -> list[dict]:
        """The results of a batch of jobs, in order."""
        self.browser.send(jobs)
        results = self.browser.receive()
        if isinstance(results, dict):  # the runner itself failed
            raise BrowserError(results.get("error", str(results)))
        return results

    def compute(self, code: str, inputs: list[bytes], out_size: int, workgroups: int) -> bytes:
        """As tests/gpu.py's run_compute, on the browser's adapter; ValueError
        with the compiler's messages when it refuses the WGSL."""
        (result,) = self.run([self.compute_job(code, inputs, out_size, workgroups)])
        return self.output(result)

    @staticmethod
    def compute_job(code: str, inputs: list[bytes], out_size: int, workgroups: int) -> dict:
        return {
            "kind": "compute",
            "code": code,
            "inputs": [_b64(b) for b in inputs],
            "out_size": out_size,
            "workgroups": workgroups,
        }

    @staticmethod
    def render_job(fragment: str, image: np.ndarray | None = None, size=None) -> dict:
        """A job that compiles `fragment` behind fullscreen.wgsl into a render
        pipeline and, given an image, draws it at `size` (width, height)."""
        job = {"kind": "render", "vertex": gfxcore.fullscreen_vertex_wgsl(), "fragment": fragment}
        if image is not None:
            pixels = np.ascontiguousarray(image, dtype=np.float32)
            height, width = pixels.shape[:2]
            job["image"] = {"width": width, "height": height, "data": _b64(pixels.tobytes())}
            job["size"] = list(size or (width, height))
        return job

    @staticmethod
    def output(result: dict) -> bytes:
        if result["errors"]:
            raise ValueError("the WGSL does not compile: " + "; ".join(result["errors"]))
        return base64.b64decode(result["data"])

    def pixels(self, result: dict, size) -> np.ndarray:
        width, height = size
        return np.frombuffer(self.output(result), dtype=np.float32).reshape(height, width, 4)

    def close(self) -> None:
        self.browser.send(None)
        self.browser.close()
