"""gfxcore.arrays: the shared machinery (inputs, borrows, the build stamp,
the worker pool, Ctrl-C) and the transforms group."""

import subprocess
import sys
import textwrap
import threading

import numpy as np
import pytest
from gfxcore import _arrays, arrays
from models.arrays import assert_same_f32, hostile, layouts, number_layouts

from _core import Mat4x4, Quaternion, SdfCollider, SdfPrimitive, SdfScene, Vec3


def random_matrix(rng):
    q, s, t = (hostile(rng, 4, share=0.1).tolist() for _ in range(3))
    m = (
        Quaternion.from_axis_angle(Vec3(*q[:3]), q[3])
        .to_mat4()
        .mul(Mat4x4.from_scale(Vec3(*s[:3])))
    )
    return m.mul(Mat4x4.from_translation(Vec3(*t[:3])))


def test_transforms_match_the_per_item_calls():
    rng = np.random.default_rng(22)
    for _ in range(20):
        m = random_matrix(rng)
        for given, rows in layouts(hostile(rng, (int(rng.integers(0, 300)), 3))):
            for fn, one in (
                (arrays.transform_points, m.transform_point),
                (arrays.transform_directions, m.transform_direction),
            ):
                want = [(v.x, v.y, v.z) for v in (one(Vec3(*r)) for r in rows)]
                want = np.array(want, np.float32).reshape(-1, 3)
                assert_same_f32(fn(m, given), want)
                # Into the caller's arrays: packed, packed from an odd address,
                # and every other row of a wider one.
                for out in (
                    np.empty_like(want),
                    np.empty(want.size + 1, np.float32)[1:].reshape(want.shape),
                    np.full((2 * len(want), 4), 7, np.float32)[::2, 1:],
                ):
                    assert fn(m, given, out=out) is out
                    assert_same_f32(out, want)


def test_results_do_not_depend_on_the_split():
    rng = np.random.default_rng(7)
    m = random_matrix(rng)
    points = hostile(rng, (100_000, 3))
    one = arrays.transform_points(m, points, workers=1)
    for workers in (None, 2, 3):
        assert_same_f32(arrays.transform_points(m, points, workers=workers), one)
    # Outputs of many megabytes bypass the caches: the same bits as small calls.
    with np.errstate(over="ignore"):
        many = np.tile(points.astype(np.float32), (8, 1))[1:]
    for fn in (arrays.transform_points, arrays.transform_directions):
        small = [fn(m, many[i : i + 50_001]) for i in range(0, len(many), 50_001)]
        assert_same_f32(fn(m, many, out=np.empty_like(many)), np.concatenate(small))


@pytest.mark.parametrize(
    "call, error, message",
    [
        (
            lambda m: arrays.transform_points(m, [[1.0, 2.0, 3.0]]),
            TypeError,
            "argument 'points': expected an array of numbers, got 'list' object",
        ),
        (
            lambda m: arrays.transform_points(m, np.zeros((2, 3), complex)),
            TypeError,
            "argument 'points': expected an array of numbers, got dtype complex128",
        ),
        (
            lambda m: arrays.transform_directions(m, np.zeros(3)),
            ValueError,
            "argument 'directions': expected shape (n, 3), got (3,)",
        ),
        (
            lambda m: arrays.transform_points(SdfCollider(), np.zeros((1, 3))),
            TypeError,
            "argument 'm': 'SdfCollider' object cannot be converted to 'Mat4x4'",
        ),
        (
            lambda m: arrays.transform_points(m, np.zeros((1, 3)), workers=0),
            ValueError,
            "argument 'workers': expected None or an int from 1 to 256, got 0",
        ),
    ],
)
def test_refusals_name_the_argument(call, error, message):
    with pytest.raises(error) as e:
        call(Mat4x4.identity())
    assert str(e.value) == message


def test_out_is_refused_unless_it_fits_and_stands_alone():
    m = Mat4x4.identity()
    points = np.zeros((4, 3), np.float32)
    read_only = np.zeros((4, 3), np.float32)
    read_only.flags.writeable = False
    for out, error, message in [
        (np.zeros((3, 3), np.float32), ValueError, "expected shape (4, 3), got (3, 3)"),
        (np.zeros((4, 3)), TypeError, "expected a writable float32 array, got dtype float64"),
        ([[0.0] * 3] * 4, TypeError, "expected a writable float32 array, got 'list' object"),
        (read_only, ValueError, "expected a writable float32 array, got a read-only one"),
        (points, ValueError, "overlaps an input; give an array of its own"),
        (points[::-1], ValueError, "overlaps an input; give an array of its own"),
    ]:
        before = points.copy()
        with pytest.raises(error) as e:
            arrays.transform_points(m, points, out=out)
        assert str(e.value) == "argument 'out': " + message
        assert_same_f32(points, before)


def test_out_gets_the_same_result_packed_or_strided():
    import _core

    rng = np.random.default_rng(23)
    c, _ = big_collider(40)
    w = _core.PhysicsWorld()
    arrays.add_bodies(w, rng.choice([0.0, 1.0], 30), hostile(rng, (30, 3), scale=3.0))
    points = hostile(rng, (50, 3), scale=20.0)
    calls = [
        lambda **o: arrays.distances(c, points, **o),
        lambda **o: arrays.normals(c, points, **o),
        lambda **o: arrays.push_out(c, points, **o),
        lambda **o: arrays.sphere_overlaps(c, points, np.ones(50), **o),
        lambda **o: arrays.aabb_overlaps(c, points, points + 1, **o),
        lambda **o: arrays.sample_grid(c, (-1, -1, -1), (30, 1, 1), (5, 4, 3), **o),
        lambda **o: arrays.handles(w, **o),
        lambda **o: arrays.positions(w, **o),
        lambda **o: arrays.rows(w, arrays.step(w, 0.0), **o),
        lambda **o: arrays.add_bodies(_core.PhysicsWorld(), np.ones(4), np.zeros((4, 3)), **o),
    ]
    for call in calls:
        want = call()
        wide = np.zeros(want.shape[:-1] + (2 * want.shape[-1],), want.dtype)
        for out in (np.empty_like(want), wide[..., ::2], wide[..., 1::2]):
            assert call(out=out) is out
            assert out.tobytes() == want.tobytes()
    for call in (
        lambda **o: arrays.raycasts(w, points, points[::-1], **o),
        lambda **o: arrays.resolve(c, points, **o),
    ):
        want = call()
        outs = tuple(np.empty(a.shape, a.dtype)[::-1] for a in want)
        got = call(out=(outs[0], None, outs[2]))
        assert got[0] is outs[0] and got[2] is outs[2]
        for a, b in zip(got, want):
            assert a.tobytes() == b.tobytes()
        # one result written over another's memory would corrupt it
        with pytest.raises(ValueError, match="^argument 'out': its arrays overlap"):
            shared = np.empty(want[2].nbytes + 16, np.uint8)
            call(
                out=(
                    None,
                    shared[: want[1].nbytes].view(want[1].dtype).reshape(want[1].shape),
                    shared[16 : 16 + want[2].nbytes].view(want[2].dtype).reshape(want[2].shape),
                )
            )


def test_stubs_are_the_runtime_signatures_and_docstrings():
    import ast
    import pathlib

    import gfxcore

    stub = pathlib.Path(gfxcore.__file__).with_name("_arrays.pyi").read_text()
    defs = [f for f in ast.parse(stub).body if isinstance(f, ast.FunctionDef)]
    assert sorted(f.name for f in defs if f.name[0] != "_") == sorted(arrays.__all__)
    for f in defs:
        signature, doc = getattr(_arrays, f.name).__doc__.split("\n\n", 1)
        stubbed = f"{f.name}({ast.unparse(f.args)}) -> {ast.unparse(f.returns)}"
        assert signature.replace(" ", "") == stubbed.replace(" ", ""), f.name
        assert textwrap.dedent("    " + ast.get_docstring(f, clean=False)) == doc, f.name


def big_collider(count=3000):
    scene = SdfScene()
    for i in range(count):
        scene.add(SdfPrimitive.sphere(i * 0.01, 0.0, 0.0, 0.5))
    c = SdfCollider()
    data = scene.to_gpu_bytes()
    c.load_bytes(data)
    return c, data


def test_other_threads_run_and_borrows_hold_during_a_call():
    c, data = big_collider()
    done = threading.Event()
    result = []

    def work():
        result.append(arrays.sample_grid(c, (-1, -1, -1), (1, 1, 1), (60, 60, 60)))
        done.set()

    worker = threading.Thread(target=work)
    worker.start()
    refused = False
    while not done.is_set() and not refused:
        c.distance(0.0, 0.0, 0.0)  # reading alongside is allowed
        try:
            c.load_bytes(data)  # the same scene: harmless when it gets in first
        except RuntimeError as e:
            assert str(e) == "Already borrowed"
            refused = True
    worker.join()
    assert refused, "the call held the interpreter lock, or did not borrow"
    assert result[0].shape == (60, 60, 60)
    c.load_bytes(data)  # the borrow was given back


def test_ctrl_c_stops_a_call_and_leaves_the_object_free():
    script = textwrap.dedent(
        """
        import os, signal, threading
        from gfxcore import arrays
        from test_arrays import big_collider
        c, data = big_collider(20000)
        threading.Timer(0.5, os.kill, (os.getpid(), signal.SIGINT)).start()
        try:
            arrays.sample_grid(c, (-1, -1, -1), (1, 1, 1), (200, 200, 200))
            print("finished")
        except KeyboardInterrupt:
            print("interrupted")
        c.load_bytes(data)
        print("free")
        """
    )
    out = subprocess.run(
        [sys.executable, "-c", script],
        capture_output=True,
        text=True,
        timeout=300,
        cwd=__file__.rsplit("/", 1)[0],
    )
    assert out.stdout.split() == ["interrupted", "free"], out.stderr


def test_import_refuses_another_build_of_core():
    script = textwrap.dedent(
        """
        import sys, types
        import numpy.core._multiarray_umath as other
        fake = types.ModuleType("_core")
        fake.__file__ = other.__file__  # loaded, and built apart from _arrays
        sys.modules["_core"] = fake
        try:
            import gfxcore.arrays
        except ImportError as e:
            print(e)
        """
    )
    out = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True)
    assert out.stdout.startswith("gfxcore.arrays cannot be used with the loaded _core ("), out
    assert "built with another build of _core" in out.stdout


def test_readme_section_runs_and_shows_its_results():
    import pathlib
    import re

    readme = (pathlib.Path(__file__).parent.parent / "README.md").read_text()
    section = readme.split("\n## Whole arrays:", 1)[1].split("\n## ", 1)[0]
    for code in re.findall(r"```python\n(.*?)```", section, re.S):
        names = {}
        exec(compile(code, "README.md", "exec"), names)
        for line in code.splitlines():
            expr, _, shown = line.partition("  # ")
            if shown.startswith("array("):
                assert repr(eval(expr, names)) == shown, line


def test_every_number_dtype_reads_as_the_per_item_call():
    rng = np.random.default_rng(23)
    m = random_matrix(rng)
    for rows in (0, 1, 57):
        for given, values in number_layouts(rng, rows, 3):
            want = [m.transform_point(Vec3(*r)) for r in values]
            want = np.array([(v.x, v.y, v.z) for v in want], np.float32).reshape(-1, 3)
            assert_same_f32(arrays.transform_points(m, given), want)


def valid_calls():
    """One valid call of every function: name -> arguments."""
    from _core import PhysicsWorld, TileCache

    c, m, w = SdfCollider(), Mat4x4.identity(), PhysicsWorld()
    p3, p2 = np.zeros((2, 3)), np.zeros((2, 2))
    return {
        "distances": (c, p3),
        "normals": (c, p3),
        "push_out": (c, p3),
        "resolve": (c, p3),
        "sphere_overlaps": (c, p3, np.ones(2)),
        "aabb_overlaps": (c, p3, p3),
        "sample_grid": (c, (0, 0, 0), (1, 1, 1), (2, 2, 2)),
        "transform_points": (m, p3),
        "transform_directions": (m, p3),
        "convex_hull": (p2,),
        "bounding_box": (p2,),
        "pixel_edge_points": (np.zeros((2, 2)), 0.5, 0),
        "handles": (w,),
        "positions": (w,),
        "set_positions": (w, np.zeros(0, int), np.zeros((0, 3))),
        "step": (w, 0.1),
        "raycasts": (w, p3, p3),
        "add_bodies": (w, np.ones(2), p3, p3),
        "remove_bodies": (w, np.zeros(0, int)),
        "rows": (w, np.zeros(0, int)),
        "lz4_compress": (b"",),
        "lz4_decompress": (arrays.lz4_compress(b"abc"),),
        "scene_bytes": (SdfScene(),),
        "load_scene": (c, b""),
        "tile_bytes": (TileCache(2), 0, 0),
        "put_tile": (TileCache(2), 0, 0, b""),
    }


def parameters():
    """Each function's parameter names, from its runtime signature."""
    import ast

    names = {}
    for name in arrays.__all__:
        signature = getattr(_arrays, name).__doc__.split("\n", 1)[0]
        f = ast.parse("def " + signature + ": ...").body[0]
        names[name] = [a.arg for a in f.args.args], [a.arg for a in f.args.kwonlyargs]
    return names


@pytest.mark.parametrize("bad", [None, "x", object(), np.zeros(2, complex), 2**70, -1])
def test_every_refusal_names_its_argument(bad):
    calls, names = valid_calls(), parameters()
    assert sorted(calls) == sorted(arrays.__all__)
    for name, args in calls.items():
        fn = getattr(arrays, name)
        fn(*args)
        positional, keywords = names[name]
        for i, arg in enumerate(positional):
            if isinstance(bad, int) and arg in ("dt", "threshold", "x", "y"):
                continue  # a value there (2**70 a float, -1 a tile)
            if bad is None and arg == "velocities":
                continue  # at rest
            with pytest.raises((TypeError, ValueError, OverflowError)) as e:
                fn(*args[:i], bad, *args[i + 1 :])
            assert str(e.value).startswith(f"argument '{arg}': "), (name, str(e.value))
        for arg in keywords:
            with pytest.raises((TypeError, ValueError)) as e:
                fn(*args, **{arg: bad if bad is not None else "x"})
            assert str(e.value).startswith(f"argument '{arg}': "), (name, str(e.value))


@pytest.mark.parametrize(
    "given, said",
    [
        (np.zeros((2, 3), object), "dtype object"),
        (np.zeros((2, 3), np.complex64), "dtype complex64"),
        (np.zeros((2, 3), "datetime64[s]"), "dtype datetime64[s]"),
        (np.zeros((2, 3), "U2"), "dtype <U2"),
        (np.zeros((2, 3), "S2"), "dtype |S2"),
        (memoryview(np.zeros((2, 3), complex)), "format 'Zd'"),
    ],
)
def test_arrays_without_a_number_meaning_say_their_dtype(given, said):
    with pytest.raises(TypeError) as e:
        arrays.transform_points(Mat4x4.identity(), given)
    assert str(e.value) == f"argument 'points': expected an array of numbers, got {said}"


def run_script(code: str) -> subprocess.CompletedProcess:
    return subprocess.run(
        [sys.executable, "-c", textwrap.dedent(code)],
        capture_output=True,
        text=True,
        timeout=300,
        cwd=__file__.rsplit("/", 1)[0],
    )


def test_core_classes_are_the_ones_found_at_import():
    out = run_script(
        """
        import sys
        import numpy as np
        import _core
        from gfxcore import arrays
        c = _core.SdfCollider()
        want = c.distance(0.0, 0.0, 0.0)
        for other in (list, dict, int, str, bytearray, None):
            sys.modules["_core"] = other
            print(arrays.distances(c, np.zeros((1, 3))).tolist() == [want], end=" ")
            try:
                arrays.distances(other, np.zeros((1, 3)))
            except TypeError as e:
                print(e)
        """
    )
    assert out.returncode == 0, out.stderr
    for line in out.stdout.splitlines():
        assert line.startswith("True argument 'collider': '"), line
        assert line.endswith("' object cannot be converted to 'SdfCollider'"), line


def test_workers_beyond_the_machine_run_on_its_threads_silently():
    out = run_script(
        """
        import numpy as np
        from gfxcore import arrays
        from test_arrays import random_matrix
        m = random_matrix(np.random.default_rng(3))
        points = np.random.default_rng(4).normal(size=(300_000, 3))
        one = arrays.transform_points(m, points, workers=1)
        for workers in (2, 255, 256):
            same = arrays.transform_points(m, points, workers=workers).tobytes() == one.tobytes()
            print(same, end=" ")
        for workers in (257, 2**31 - 1, 10**6):
            try:
                arrays.transform_points(m, points, workers=workers)
            except ValueError as e:
                print(e)
        """
    )
    assert out.stderr == ""
    assert out.stdout.split("\n") == [
        f"True True True argument 'workers': expected None or an int from 1 to 256, got {n}"
        if i == 0
        else f"argument 'workers': expected None or an int from 1 to 256, got {n}"
        for i, n in enumerate((257, 2**31 - 1, 10**6))
    ] + [""]


def test_core_keeps_its_own_messages_beside_the_shared_rules():
    # The rules are one source for both modules, but only _core's TypeErrors
    # carry the argument's name; the array module names it everywhere.
    from _core import PhysicsWorld, TileCache, convex_hull

    cache, world = TileCache(1), PhysicsWorld()
    cases = [
        (
            lambda: cache.get(2**31, 0),
            OverflowError,
            "out of range integral type conversion attempted",
        ),
        (lambda: cache.get(2**70, 0), OverflowError, "Python int too large to convert to C long"),
        (
            lambda: world.set_position(-1, 0, 0, 0),
            OverflowError,
            "out of range integral type conversion attempted",
        ),
        (
            lambda: convex_hull([(1.0, 2.0, 3.0)]),
            ValueError,
            "expected tuple of length 2, but got tuple of length 3",
        ),
        (
            lambda: cache.get(None, 0),
            TypeError,
            "argument 'tile_x': 'NoneType' object cannot be interpreted as an integer",
        ),
        (
            lambda: Vec3(1, 2, 3).add(Mat4x4.identity()),
            TypeError,
            "argument 'other': 'Mat4x4' object cannot be converted to 'Vec3'",
        ),
        (
            lambda: arrays.tile_bytes(cache, 2**70, 0),
            OverflowError,
            "argument 'x': Python int too large to convert to C long",
        ),
        (
            lambda: arrays.set_positions(world, np.array([-1]), np.zeros((1, 3))),
            OverflowError,
            "argument 'handles': out of range integral type conversion attempted",
        ),
    ]
    for call, error, message in cases:
        with pytest.raises(error) as e:
            call()
        assert type(e.value) is error and str(e.value) == message


def test_an_array_in_other_memory_is_refused_by_its_device():
    class OnDevice:  # as a GPU array offers itself
        dtype = "float32"

        def __dlpack__(self, **kwargs):
            raise BufferError("not on the CPU")

        def __dlpack_device__(self):
            return (2, 0)

    with pytest.raises(TypeError) as e:
        arrays.distances(SdfCollider(), OnDevice())
    assert str(e.value) == (
        "argument 'points': expected an array of numbers in CPU memory, "
        "got an array on DLPack device type 2"
    )
