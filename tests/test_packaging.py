"""The wheel as a user installs it: in a clean venv, with the native libraries
it bundles hidden from the system, imported, used and type-checked."""

import glob
import os
import platform
import shutil
import subprocess
import sys
import textwrap
from pathlib import Path

import pytest

WHEEL_DIR = os.environ.get("GFXCORE_WHEEL_DIR")
TAG = "cp%d%d" % sys.version_info[:2]
MINE = f"{WHEEL_DIR}/gfxcore-*-{TAG}-*manylinux*_{platform.machine()}.whl"
wheels = sorted(glob.glob(MINE)) if WHEEL_DIR else []
pytestmark = pytest.mark.skipif(
    not wheels, reason="no repaired wheel: `make wheel` builds and checks one"
)

# The libraries the build links that a user's machine may lack.
BUNDLED = ("liblz4", "libtbb", "libboost_json")

USE = textwrap.dedent("""
    import _core, gfxcore, importlib.metadata
    assert gfxcore.__version__ == importlib.metadata.version("gfxcore") != "0+unknown"
    packed = bytes(_core.lz4_compress(b"gfxcore " * 50))
    assert bytes(_core.lz4_decompress(packed)) == b"gfxcore " * 50
    print(_core.compile_node_graph('{"nodes": [], "edges": []}').count("fn"))
    if hasattr(_core, "PhysicsWorld"):
        world = _core.PhysicsWorld()
        world.step(0.1)
    import gfxcore  # the pure-Python half needs no extra
    assert gfxcore.check_node_graph('{"nodes": [], "edges": []}')[0].startswith("no FinalColor")
    try:
        import gfxcore.gpu
    except ImportError as exc:  # installed without the gpu extra
        assert "gfxcore[gpu]" in str(exc), exc
    import gfxcore.arrays  # its own module, built beside this _core, loads with it
    print("ok", _core.__file__)
""")


@pytest.fixture(scope="module")
def venv(tmp_path_factory):
    root = tmp_path_factory.mktemp("user") / "venv"
    subprocess.run([sys.executable, "-m", "venv", str(root)], check=True)
    python = root / "bin" / "python"
    subprocess.run(
        [str(python), "-m", "pip", "install", "-q", "--no-index", "--no-deps", wheels[-1]],
        check=True,
    )
    return python


def system_copies():
    """Where the system keeps the bundled libraries, if it has them."""
    out = subprocess.run(["ldconfig", "-p"], capture_output=True, text=True).stdout
    return sorted(
        {
            line.rsplit("=> ", 1)[1].strip()
            for line in out.splitlines()
            if "=> " in line and line.split()[0].startswith(BUNDLED)
        }
    )


def test_native_dependencies_resolve_inside_the_wheel(venv):
    so = subprocess.run(
        [str(venv), "-c", "import _core; print(_core.__file__)"],
        capture_output=True,
        text=True,
        check=True,
    ).stdout.strip()
    assert not so.startswith(str(Path(__file__).parent.parent)), "imported the source tree"
    ldd = subprocess.run(["ldd", so], capture_output=True, text=True, check=True).stdout
    site = str(venv.parent.parent)
    needed = [line for line in ldd.splitlines() if line.strip().startswith(BUNDLED)]
    assert needed, ldd
    for line in needed:
        assert site in line and "gfxcore.libs" in line, line


def test_imports_and_runs_with_the_system_libraries_hidden(venv):
    hidden = system_copies()
    if not shutil.which("unshare") or subprocess.run(["unshare", "--mount", "true"]).returncode:
        pytest.skip("cannot hide the system libraries here (no mount namespace)")
    mounts = "".join(f"mount --bind /dev/null {p} && " for p in hidden)
    out = subprocess.run(
        ["unshare", "--mount", "sh", "-c", f'{mounts}exec {venv} -c "$0"', USE],
        capture_output=True,
        text=True,
    )
    assert out.returncode == 0, out.stderr
    assert out.stdout.splitlines()[-1].startswith("ok " + str(venv.parent.parent))


def test_type_checkers_find_the_stubs(venv, tmp_path):
    user = tmp_path / "user.py"
    user.write_text(
        textwrap.dedent("""
        import _core
        v = _core.Vec2(1, 2)
        length: float = (v * 2 + v).length()
        wrong: str = v.x
        refused = 2 * v
        import gfxcore, gfxcore.gpu
        problems: list[str] = gfxcore.check_node_graph("{}")
        count: int = gfxcore.check_node_graph("{}")
        gfxcore.gpu.sdf_distances(b"", [(0, 0, 0)], device="cpu")
    """)
    )
    out = subprocess.run(
        [
            sys.executable,
            "-m",
            "mypy",
            "--python-executable",
            str(venv),
            "--no-incremental",
            "--cache-dir",
            os.devnull,
            "--strict",
            str(user),
        ],
        capture_output=True,
        text=True,
        cwd=tmp_path,
        env={k: v for k, v in os.environ.items() if k != "MYPYPATH"},
    )
    assert "user.py:5: error: Incompatible types in assignment" in out.stdout, out.stdout
    assert 'user.py:6: error: Unsupported operand types for * ("int" and "Vec2")' in out.stdout
    assert "user.py:9: error: Incompatible types in assignment" in out.stdout
    assert 'user.py:10: error: Argument "device" to "sdf_distances"' in out.stdout
    assert out.stdout.count("error:") == 4, out.stdout
