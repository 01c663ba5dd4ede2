"""The module frame: registration, class conventions, argument matching,
conversion errors and borrows, checked through Vec2 and AABB."""

import ast
import gc
import importlib.util
import pathlib
import subprocess
import sys
import weakref

import pytest
from conftest import FailingSequence

import _core
from _core import AABB, Vec2

EXPECTED_ORDER = [
    "convex_hull",
    "bounding_box",
    "pixel_edge_points",
    "solve_ik",
    "compute_bone_lengths",
    "Vec2",
    "AABB",
    "compile_node_graph",
    "lz4_compress",
    "lz4_decompress",
    "compute_layout",
    "generate_wgsl_struct",
    "TileCache",
    "Vec3",
    "Vec4",
    "Mat4x4",
    "Quaternion",
    "SdfPrimitive",
    "SdfScene",
    "BodyType",
    "RigidBody",
    "PhysicsWorld",
    "SdfCollider",
]


def test_all_lists_the_members_in_registration_order():
    assert _core.__all__ == EXPECTED_ORDER
    assert _core.__name__ == "_core" and _core.__doc__ == ""


def test_stub_declares_the_members_in_order():
    stub = ast.parse((pathlib.Path(__file__).parent.parent / "src" / "_core.pyi").read_text())
    declared = [
        node.name
        for node in stub.body
        if isinstance(node, (ast.ClassDef, ast.FunctionDef)) and not node.name.startswith("_")
    ]
    (listed,) = [
        ast.literal_eval(node.value)
        for node in stub.body
        if isinstance(node, ast.Assign) and [t.id for t in node.targets] == ["__all__"]
    ]
    assert declared == EXPECTED_ORDER
    assert listed == EXPECTED_ORDER


def test_reimport_returns_the_same_module_object():
    first = sys.modules.pop("_core")
    try:
        import _core as again

        assert again is first
    finally:
        sys.modules["_core"] = first


def test_second_interpreter_is_refused():
    # The interpreters API is private before 3.14 and changed in 3.13.
    if importlib.util.find_spec("concurrent.interpreters"):
        run = (
            "from concurrent import interpreters as s\ntry:\n    s.create().exec('import _core')\n"
            "except Exception as e:\n    error = str(e)\n"
        )
    elif importlib.util.find_spec("_interpreters"):
        run = "import _interpreters as s\nerror = s.exec(s.create(), 'import _core').formatted\n"
    else:
        pytest.importorskip("_xxsubinterpreters")
        run = (
            "import _xxsubinterpreters as s\ntry:\n    s.run_string(s.create(), 'import _core')\n"
            "except Exception as e:\n    error = str(e)\n"
        )
    code = (
        "import _core\nerror = ''\n"
        + run
        + "print('refused', 'ImportError' in error or 'sub-interpreters' in error)\n"
        "print('first still works', _core.Vec2(1, 2).x)\n"
    )
    out = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, timeout=60)
    assert "refused True" in out.stdout, out.stdout + out.stderr
    assert "first still works 1.0" in out.stdout


@pytest.mark.parametrize("cls", [Vec2, AABB])
def test_class_conventions(cls):
    assert cls.__module__ == "builtins"
    assert repr(cls) == f"<class 'builtins.{cls.__name__}'>"
    assert cls.__doc__ == ""
    with pytest.raises(TypeError, match="not an acceptable base type"):
        type("Sub", (cls,), {})
    obj = cls(*([1.0] * (2 if cls is Vec2 else 4)))
    with pytest.raises(AttributeError):
        obj.foo = 1
    with pytest.raises(TypeError):
        weakref.ref(obj)
    other = cls(*([1.0] * (2 if cls is Vec2 else 4)))
    assert obj != other and obj == obj
    assert hash(obj) != hash(other) or obj is not other


def test_text_signatures():
    import inspect

    assert str(inspect.signature(Vec2)) == "(x, y)"
    assert str(inspect.signature(AABB)) == "(min_x, min_y, max_x, max_y)"
    assert Vec2.lerp.__text_signature__ == "($self, other, t)"
    assert Vec2.lerp.__doc__ is None
    assert AABB.expand.__text_signature__ == "($self, amount)"


@pytest.mark.parametrize(
    "call, message",
    [
        (lambda: Vec2(1), "Vec2.__new__() missing 1 required positional argument: 'y'"),
        (lambda: Vec2(), "Vec2.__new__() missing 2 required positional arguments: 'x' and 'y'"),
        (
            lambda: AABB(),
            "AABB.__new__() missing 4 required positional arguments: "
            "'min_x', 'min_y', 'max_x', and 'max_y'",
        ),
        (
            lambda: AABB(1, max_y=2),
            "AABB.__new__() missing 2 required positional arguments: 'min_y' and 'max_x'",
        ),
        (
            lambda: AABB(1),
            "AABB.__new__() missing 3 required positional arguments: 'min_y', 'max_x', and 'max_y'",
        ),
        (lambda: Vec2(1, 2, 3), "Vec2.__new__() takes 2 positional arguments but 3 were given"),
        (
            lambda: Vec2(1, 2).dot(Vec2(1, 2), 5),
            "Vec2.dot() takes 1 positional arguments but 2 were given",
        ),
        (lambda: Vec2(1, 2, z=3), "Vec2.__new__() got an unexpected keyword argument 'z'"),
        (lambda: Vec2(1, x=2), "Vec2.__new__() got multiple values for argument 'x'"),
        (lambda: Vec2(y=1, **{"y2": 2}), "Vec2.__new__() got an unexpected keyword argument 'y2'"),
        (
            lambda: Vec2(1, 2).lerp(Vec2(1, 2), t=1, other=Vec2(0, 0)),
            "Vec2.lerp() got multiple values for argument 'other'",
        ),
        (
            lambda: Vec2.__new__(Vec2, 1),
            "Vec2.__new__() missing 1 required positional argument: 'y'",
        ),
    ],
)
def test_argument_matching_messages(call, message):
    with pytest.raises(TypeError) as info:
        call()
    assert str(info.value) == message


def test_keywords_are_accepted_everywhere():
    v = Vec2(y=2, x=1)
    assert (v.x, v.y) == (1.0, 2.0)
    w = v.lerp(other=Vec2(3, 6), t=0.5)
    assert (w.x, w.y) == (2.0, 4.0)
    # Keyword names that are equal but not the same object still match.
    name = "".join(["o", "ther"])
    assert v.dot(**{name: Vec2(1, 1)}) == 3.0
    assert Vec2.__new__(Vec2, 3, y=4).y == 4.0


def test_no_argument_methods_refuse_arguments():
    with pytest.raises(TypeError, match="takes no arguments"):
        Vec2(1, 2).length(1)


class Boom:
    def __float__(self):
        raise ValueError("boom")


class NotANumberError(TypeError):
    pass


class RaisesTypeError:
    def __float__(self):
        err = NotANumberError("custom")
        err.__cause__ = KeyError("root")
        raise err


def test_conversion_errors_and_prefixes():
    with pytest.raises(TypeError) as info:
        Vec2("1", 2)
    assert str(info.value) == "argument 'x': must be real number, not str"
    with pytest.raises(TypeError) as info:
        Vec2(1, 2).lerp(5, 0.5)
    assert str(info.value) == "argument 'other': 'int' object cannot be converted to 'Vec2'"
    with pytest.raises(TypeError) as info:
        AABB(0, 0, 1, 1).contains(AABB(0, 0, 1, 1))
    assert str(info.value) == "argument 'v': 'AABB' object cannot be converted to 'Vec2'"
    # Non-TypeErrors pass unchanged.
    with pytest.raises(ValueError, match="^boom$"):
        Vec2(Boom(), 1)
    with pytest.raises(OverflowError):
        Vec2(10**400, 1)
    # A TypeError is wrapped, keeping its cause.
    with pytest.raises(TypeError) as info:
        Vec2(1, RaisesTypeError())
    assert type(info.value) is TypeError
    assert str(info.value) == "argument 'y': custom"
    assert isinstance(info.value.__cause__, KeyError)


def test_numbers_are_accepted_and_narrowed():
    class Index:
        def __index__(self):
            return 7

    assert Vec2(True, Index()).y == 7.0
    assert Vec2(1e300, 0).x == float("inf")
    assert Vec2(0.1, 0).x == 0.10000000149011612
    assert Vec2(2**70, 0).x == float(2**70)


def test_field_assignment_and_deletion():
    v = Vec2(1, 2)
    v.x = 0.1
    assert v.x == 0.10000000149011612
    with pytest.raises(TypeError) as info:
        v.x = "a"
    assert str(info.value) == "argument 'x': must be real number, not str"
    with pytest.raises(AttributeError, match="^can't delete attribute$"):
        del v.x
    box = AABB(0, 0, 1, 1)
    with pytest.raises(TypeError, match="^argument 'min_x': "):
        box.min_x = None
    assert v.x == 0.10000000149011612 and box.min_x == 0.0


def test_operators_return_not_implemented():
    v = Vec2(1, 2)
    for bad in (
        lambda: v + 1,
        lambda: 1 + v,
        lambda: 2 * v,
        lambda: v - "a",
        lambda: v * None,
        lambda: v * Vec2(1, 1),
        lambda: v * 10**400,
        lambda: AABB(0, 0, 1, 1) + v,
    ):
        with pytest.raises(TypeError, match="unsupported operand"):
            bad()
    assert Vec2.__add__(v, 1) is NotImplemented
    assert (v * 2).y == 4.0


def test_reentrant_conversion_meets_the_borrow():
    v = Vec2(1, 2)

    class Writes:
        def __float__(self):
            v.x = 5.0
            return 1.0

    class Reads:
        def __float__(self):
            return v.x

    # The receiver is shared-borrowed while arguments convert: writing it fails...
    with pytest.raises(RuntimeError, match="^Already borrowed$"):
        v.lerp(Vec2(0, 0), Writes())
    assert v.x == 1.0
    # ...reading it does not.
    assert v.lerp(Vec2(3, 2), Reads()).x == 3.0
    # An operator answers NotImplemented instead of raising.
    with pytest.raises(TypeError, match="unsupported operand"):
        v * Writes()
    # A setter converts before it borrows, so re-entering it is fine.
    v.x = Writes()
    assert v.x == 1.0


def test_calls_keep_reference_counts_balanced():
    v, t, bad = Vec2(1, 2), 0.5, "x"
    gc.collect()
    counts = [sys.getrefcount(o) for o in (v, t, bad, Vec2)]
    for _ in range(1000):
        with pytest.raises(TypeError):
            v.lerp(v, bad)
        v.lerp(other=v, t=t)
        with pytest.raises(TypeError):
            v + bad
    gc.collect()
    assert [sys.getrefcount(o) for o in (v, t, bad, Vec2)] == counts


class LyingSequence:
    """A sequence whose reported length has nothing to do with its items."""

    def __init__(self, items, length):
        self.items, self.length = items, length

    def __len__(self):
        if isinstance(self.length, type):  # a new exception each time: a shared one
            raise self.length("no length")  # would keep every traceback it is raised with
        return self.length

    def __getitem__(self, i):
        return self.items[i]


@pytest.mark.parametrize("length", [sys.maxsize, 0, 10**6, ValueError])
def test_sequence_length_is_only_a_hint(length):
    # A length of sys.maxsize must not drive the allocation; the items decide.
    from _core import SdfCollider, SdfPrimitive

    record = SdfPrimitive.sphere(0, 0, 0, 1).to_bytes()
    c = SdfCollider()
    c.load_bytes(LyingSequence(record, length))
    assert c.prim_count() == 1 and c.distance(0, 0, 0) == -1.0


def test_sequence_whose_iteration_raises_changes_nothing():
    from _core import SdfCollider, SdfPrimitive

    c = SdfCollider()
    c.load_bytes(SdfPrimitive.sphere(0, 0, 0, 1).to_bytes())
    with pytest.raises(KeyError):
        c.load_bytes(FailingSequence())
    assert c.prim_count() == 1


@pytest.mark.parametrize(
    "value, error, message",
    [
        ("abc", TypeError, "argument 'data': Can't extract `str` to `Vec`"),
        (5, TypeError, "argument 'data': 'int' object cannot be converted to 'Sequence'"),
        ({1: 2}, TypeError, "argument 'data': 'dict' object cannot be converted to 'Sequence'"),
        (
            [1, 2.5],
            TypeError,
            "argument 'data': 'float' object cannot be interpreted as an integer",
        ),
        ([0, 256], OverflowError, "out of range integral type conversion attempted"),
        ([-1], OverflowError, "out of range integral type conversion attempted"),
        ([2**40], OverflowError, "out of range integral type conversion attempted"),
        ([2**80], OverflowError, "Python int too large to convert to C long"),
    ],
)
def test_byte_list_conversion_errors(value, error, message):
    from _core import SdfCollider

    with pytest.raises(error) as info:
        SdfCollider().load_bytes(value)
    assert str(info.value) == message


@pytest.mark.parametrize("kind", ["list", "tuple", "iterator", "bytes"])
def test_byte_list_forms_and_iterator_release(kind):
    from _core import SdfCollider

    record = list(range(48))
    it = iter(record + [300])

    class Iterable:
        def __len__(self):
            return 49

        def __getitem__(self, i):
            return (record + [300])[i]

        def __iter__(self):
            return it

    good = {"list": record, "tuple": tuple(record), "iterator": Iterable(), "bytes": bytes(record)}
    c = SdfCollider()
    before = sys.getrefcount(it)
    if kind == "iterator":
        with pytest.raises(OverflowError):
            c.load_bytes(good[kind])
        assert sys.getrefcount(it) == before  # the walker gave its reference back
        it = iter(record)
        good[kind] = Iterable()
    c.load_bytes(good[kind])
    assert c.prim_count() == 1
    # Fast items then one that needs the general path, then fast again.
    c.load_bytes([True] + record[1:])
    assert c.prim_count() == 1


CONVERSION_PROBE = """
#include <cstdint>
#include <map>
#include <memory>
#include <utility>
#include "module/convert.hpp"
using namespace core::py;
#ifdef REFUSED
bool a(PyObject* o) { std::map<int, int> v; return from_python<std::map<int, int>>::convert(o, v); }
bool b(PyObject* o) { int16_t v; return from_python<int16_t>::convert(o, v); }
bool c(PyObject* o) { const char* v; return from_python<const char*>::convert(o, v); }
PyObject* d() { return to_python<std::pair<int, int>>::convert({1, 2}); }
PyObject* e() { return to_python<std::unique_ptr<int>>::convert(nullptr); }
#else
struct Bound { float x; };
bool a(PyObject* o) { std::vector<std::tuple<std::string, float>> v; return from_python<decltype(v)>::convert(o, v); }
bool b(PyObject* o) { Bound v; return from_python<Bound>::convert(o, v); }
PyObject* c() { return to_python<std::array<std::vector<float>, 2>>::convert({}); }
#endif
"""


@pytest.mark.slow  # runs the C++ compiler
@pytest.mark.parametrize("refused", [False, True])
def test_unsupported_conversion_kinds_do_not_compile(tmp_path, refused):
    """A C++ type without a conversion must be a build error, not a runtime crash."""
    import shutil
    import sysconfig
    from pathlib import Path

    compiler = shutil.which("g++") or shutil.which("clang++")
    if compiler is None:
        pytest.skip("no C++ compiler")
    src = tmp_path / "probe.cpp"
    src.write_text(CONVERSION_PROBE)
    root = Path(__file__).resolve().parent.parent / "src"
    cmd = [
        compiler,
        "-std=c++20",
        "-fsyntax-only",
        f"-I{root}",
        f"-I{sysconfig.get_paths()['include']}",
        str(src),
    ] + (["-DREFUSED"] if refused else [])
    out = subprocess.run(cmd, capture_output=True, text=True, timeout=300)
    if not refused:
        assert out.returncode == 0, out.stderr
    else:
        assert out.returncode != 0
        assert out.stderr.count("no conversion from Python for this C++ type") == 3, out.stderr
        assert out.stderr.count("no conversion to Python for this C++ type") == 2, out.stderr


NO_MEMORY = """
import _testcapi, _core
v = _core.Vec2(1, 2)
_testcapi.set_nomemory(0, {stop})
try:
    v + v
    outcome = "no error"
except BaseException as e:
    _testcapi.remove_mem_hooks()
    outcome = f"{{type(e).__name__}}|{{e}}|{{type(e.__cause__).__name__}}"
_testcapi.remove_mem_hooks()
print(outcome)
print(_core.Vec2(1, 2) + v)
"""


@pytest.mark.parametrize("stop", [1, 2, 3])
def test_result_allocation_failure_raises_a_set_error(stop):
    """The result's allocation fails; so may the creation of PanicException itself
    and of what reports it. Each leaves a real exception, and the process goes on."""
    pytest.importorskip("_testcapi")
    out = subprocess.run(
        [sys.executable, "-c", NO_MEMORY.format(stop=stop)],
        capture_output=True,
        text=True,
        timeout=60,
    )
    assert out.returncode == 0, out.stderr
    outcome, after = out.stdout.splitlines()
    name, text, cause = outcome.split("|")
    fault = "unwrap of a failed result: cannot allocate a new builtins.Vec2 instance"
    assert (
        name == "PanicException"
        and text.startswith(fault)
        or name == "SystemError"
        and text.startswith("internal fault: " + fault)
        and cause == "MemoryError"
        or name == "MemoryError"
    ), outcome
    assert after == "Vec2(2, 4)"
    assert "internal fault: " + fault in out.stderr


def test_stub_examples_run_as_documented():
    """The examples of the API reference (the stubs' docstrings) are doctests."""
    import ast
    import doctest
    import pathlib

    stubs = pathlib.Path(__file__).resolve().parent.parent / "src" / "_core.pyi"
    names = {name: getattr(_core, name) for name in _core.__all__}
    runner = doctest.DocTestRunner()
    for node in ast.walk(ast.parse(stubs.read_text())):
        doc = isinstance(node, (ast.FunctionDef, ast.ClassDef)) and ast.get_docstring(node)
        if doc and ">>>" in doc:
            runner.run(doctest.DocTestParser().get_doctest(doc, dict(names), node.name, None, 0))
    assert runner.summarize(verbose=False).failed == 0


# ---- every member's refusals, from its parameters in the stub -----------------------------

STUB = ast.parse((pathlib.Path(__file__).parent.parent / "src" / "_core.pyi").read_text())

# A value each parameter kind converts, and one it refuses with the error
# and message (after the "argument '{}': " prefix of a TypeError) that the
# conversion rules give.
VALID = {"float": 1.0, "int": 1, "bytes": b"", "str": "[[], []]", "tuple[float, float]": (1.0, 2.0)}
REFUSED = {
    "float": [("x", TypeError, "must be real number, not str")],
    "int": [("x", TypeError, "'str' object cannot be interpreted as an integer")],
    "bytes": [(bytearray(), TypeError, "'bytearray' object cannot be converted to 'PyBytes'")],
    "str": [(5, TypeError, "'int' object cannot be converted to 'PyString'")],
    "Sequence": [("ab", TypeError, "Can't extract `str` to `Vec`"),
                 (5, TypeError, "'int' object cannot be converted to 'Sequence'")],
    "tuple[float, float]": [
        ([1.0, 2.0], TypeError, "'list' object cannot be converted to 'PyTuple'"),
        ((1.0, 2.0, 3.0), ValueError, "expected tuple of length 2, but got tuple of length 3"),
    ],
}  # fmt: skip
# An instance of each class, as a receiver or an argument.
MAKE = {
    "Vec2": lambda: Vec2(1, 2),
    "AABB": lambda: AABB(0, 0, 1, 1),
    "Vec3": lambda: _core.Vec3(1, 2, 3),
    "Vec4": lambda: _core.Vec4(1, 2, 3, 4),
    "Mat4x4": lambda: _core.Mat4x4.identity(),
    "Quaternion": lambda: _core.Quaternion.identity(),
    "SdfPrimitive": lambda: _core.SdfPrimitive.sphere(0, 0, 0, 1),
    "SdfScene": lambda: _core.SdfScene(),
    "SdfCollider": lambda: _core.SdfCollider(),
    "TileCache": lambda: _core.TileCache(2),
    "RigidBody": lambda: _core.RigidBody(1.0),
    "PhysicsWorld": lambda: _core.PhysicsWorld(),
}


def _kind(annotation: str) -> str:
    return "Sequence" if annotation.startswith("Sequence[") else annotation


def _valid(annotation: str):
    kind = _kind(annotation)
    return [] if kind == "Sequence" else VALID[kind] if kind in VALID else MAKE[kind]()


def _members():
    """(display name, callable maker, parameters as (name, annotation), the
    number without a default) for every function and method that takes any."""
    for node in STUB.body:
        if isinstance(node, ast.FunctionDef):
            yield f"{node.name}()", (lambda n=node.name: getattr(_core, n)), node.args
        elif isinstance(node, ast.ClassDef):
            for m in node.body:
                if (
                    not isinstance(m, ast.FunctionDef)
                    or m.name.startswith("__")
                    and m.name != "__new__"
                ):
                    continue
                if any(ast.unparse(d).endswith(("setter", "property")) for d in m.decorator_list):
                    continue
                static = m.name == "__new__" or any(
                    ast.unparse(d) in ("staticmethod", "classmethod") for d in m.decorator_list
                )
                if m.name == "__new__":
                    make = lambda c=node.name: getattr(_core, c)  # noqa: E731
                elif static:
                    make = lambda c=node.name, n=m.name: getattr(getattr(_core, c), n)  # noqa: E731
                else:
                    make = lambda c=node.name, n=m.name: getattr(MAKE[c](), n)  # noqa: E731
                yield f"{node.name}.{m.name}()", make, m.args


def _cases():
    for display, make, args in _members():
        params = [
            (a.arg, ast.unparse(a.annotation)) for a in args.args if a.arg not in ("self", "cls")
        ]
        if params:
            yield pytest.param(display, make, params, len(params) - len(args.defaults), id=display)


def _names(names):
    quoted = [f"'{n}'" for n in names]
    if len(quoted) < 3:
        return " and ".join(quoted)
    return ", ".join(quoted[:-1]) + ", and " + quoted[-1]


@pytest.mark.parametrize("display, make, params, required", list(_cases()))
def test_every_member_refuses_calls_by_the_matching_and_conversion_rules(
    display, make, params, required
):
    fn, n = make(), len(params)
    valid = [_valid(a) for _, a in params]
    refusals = []
    if required:
        missing = [name for name, _ in params[:required]]
        word = "argument" if required == 1 else "arguments"
        refusals.append(((), {}, TypeError,
                         f"{display} missing {required} required positional {word}: {_names(missing)}"))  # fmt: skip
    takes = f"{n}" if required == n else f"from {required} to {n}"
    refusals.append(((*valid, 1), {}, TypeError,
                     f"{display} takes {takes} positional arguments but {n + 1} were given"))  # fmt: skip
    refusals.append(
        ((), {"no_such": 1}, TypeError, f"{display} got an unexpected keyword argument 'no_such'")
    )
    refusals.append(((valid[0],), {params[0][0]: valid[0]}, TypeError,
                     f"{display} got multiple values for argument '{params[0][0]}'"))  # fmt: skip
    for k, (name, annotation) in enumerate(params):
        kind = _kind(annotation)
        bad = REFUSED.get(kind, [(5, TypeError, f"'int' object cannot be converted to '{kind}'")])
        for value, error, message in bad:
            if error is TypeError:
                message = f"argument '{name}': {message}"
            args = [*valid[:k], value, *valid[k + 1 :]]
            refusals.append((tuple(args), {}, error, message))
    for args, kwargs, error, message in refusals:
        with pytest.raises(error) as caught:
            fn(*args, **kwargs)
        assert str(caught.value) == message, (display, args, kwargs)
