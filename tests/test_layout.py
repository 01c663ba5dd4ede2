"""compute_layout and generate_wgsl_struct: the alignment rules against a
plain-Python model, and a GPU that stores a struct where the layout says."""

import random
import struct

import gpu
import pytest

import _core

SIZE_ALIGN = {
    "f32": (4, 4),
    "u32": (4, 4),
    "i32": (4, 4),
    "vec2f": (8, 8),
    "vec3f": (12, 16),
    "vec4f": (16, 16),
}


def reference_layout(channels):
    layout, offset, max_align = {}, 0, 1
    for name, kind in channels:
        size, align = SIZE_ALIGN[kind]
        field = -(-offset // align) * align
        layout[name] = field
        offset, max_align = field + size, max(max_align, align)
    layout["stride"] = -(-offset // max_align) * max_align
    return layout


def reference_struct(name, channels):
    lines, offset = [f"struct {name} {{"], 0
    for field_name, kind in channels:
        size, align = SIZE_ALIGN[kind]
        field = -(-offset // align) * align
        comment = f"  // offset {field}, align 16, size 16 (padded)" if kind == "vec3f" else ""
        lines.append(f"    {field_name}: {kind},{comment}")
        offset = field + size
    return "\n".join(lines + ["};"])


@pytest.mark.parametrize(
    "channels, expected",
    [
        ([], {"stride": 0}),
        (
            [("color", "vec3f"), ("alpha", "f32"), ("uv", "vec2f")],
            {"color": 0, "alpha": 12, "uv": 16, "stride": 32},
        ),
        ([("a", "f32"), ("b", "vec3f")], {"a": 0, "b": 16, "stride": 32}),
        ([("a", "vec3f"), ("b", "f32")], {"a": 0, "b": 12, "stride": 16}),
        ([("a", "f32"), ("b", "u32"), ("c", "i32")], {"a": 0, "b": 4, "c": 8, "stride": 12}),
        ([("a", "vec2f"), ("b", "f32")], {"a": 0, "b": 8, "stride": 16}),
        ([("x", "f32"), ("x", "f32")], {"x": 4, "stride": 8}),
        ([("stride", "vec4f")], {"stride": 16}),
    ],
)
def test_layout_examples(channels, expected):
    assert _core.compute_layout(channels) == expected


def test_struct_text_example():
    assert _core.generate_wgsl_struct(
        "Pixel", [("color", "vec3f"), ("alpha", "f32"), ("uv", "vec2f")]
    ) == (
        "struct Pixel {\n"
        "    color: vec3f,  // offset 0, align 16, size 16 (padded)\n"
        "    alpha: f32,\n"
        "    uv: vec2f,\n"
        "};"
    )
    assert _core.generate_wgsl_struct("S", []) == "struct S {\n};"


@pytest.mark.parametrize("seed", range(30))
def test_random_channel_lists_match_the_model(seed):
    rng = random.Random(seed)
    channels = [
        (rng.choice(["a", "b", "c", "stride", "é", ""]), rng.choice(list(SIZE_ALIGN)))
        for _ in range(rng.randrange(12))
    ]
    assert _core.compute_layout(channels) == reference_layout(channels)
    assert _core.generate_wgsl_struct("T", tuple(channels)) == reference_struct("T", channels)


@pytest.mark.parametrize("bad", ["vec3<f32>", "F32", "", "f64"])
def test_unknown_type_names_the_first_offender(bad):
    channels = [("a", "f32"), ("b", bad), ("c", "nope")]
    for call in (
        lambda: _core.compute_layout(channels),
        lambda: _core.generate_wgsl_struct("S", channels),
    ):
        with pytest.raises(ValueError) as info:
            call()
        assert str(info.value) == f"Unknown WGSL type: {bad}"


@pytest.mark.parametrize(
    "channels, exc, message",
    [
        (
            [["a", "f32"]],
            TypeError,
            "argument 'channels': 'list' object cannot be converted to 'PyTuple'",
        ),
        ([("a", "f32", 1)], ValueError, "expected tuple of length 2, but got tuple of length 3"),
        (
            [("a", 1)],
            TypeError,
            "argument 'channels': 'int' object cannot be converted to 'PyString'",
        ),
        ([("\ud800", "f32")], UnicodeEncodeError, None),
    ],
)
def test_channel_conversion_errors(channels, exc, message):
    with pytest.raises(exc) as info:
        _core.compute_layout(channels)
    if message:
        assert str(info.value) == message


def test_struct_name_must_be_text():
    with pytest.raises(
        TypeError,
        match="^argument 'struct_name': 'bytes' object cannot be converted to 'PyString'$",
    ):
        _core.generate_wgsl_struct(b"S", [])


# ---- the GPU agrees ------------------------------------------------------------------

COMPONENTS = {"f32": 1, "u32": 1, "i32": 1, "vec2f": 2, "vec3f": 3, "vec4f": 4}
SCALAR = {"f32": "f32", "u32": "u32", "i32": "i32", "vec2f": "f32", "vec3f": "f32", "vec4f": "f32"}


def gpu_channel_lists(count=6):
    rng = random.Random(99)
    lists = [
        [(f"f{i}", kind) for i, kind in enumerate(SIZE_ALIGN)],
        [("c", "vec3f"), ("a", "f32"), ("uv", "vec2f")],
    ]
    for _ in range(count):
        lists.append([(f"f{i}", rng.choice(list(SIZE_ALIGN))) for i in range(rng.randrange(1, 9))])
    return lists


def check_gpu_offsets(channels, run):
    """A compute shader writes every component of every field of the
    generated struct; each lands at the offset compute_layout gives."""
    elements = 5
    layout = _core.compute_layout(channels)
    stride = layout["stride"]
    # Every component of every field of every element gets its own value.
    writes = []
    for k, (name, kind) in enumerate(channels):
        parts = [f"{SCALAR[kind]}(e * 64u + {4 * k + c}u)" for c in range(COMPONENTS[kind])]
        value = parts[0] if len(parts) == 1 else f"{kind}({', '.join(parts)})"
        writes.append(f"    data[e].{name} = {value};")
    code = (
        _core.generate_wgsl_struct("Rec", channels) + "\n\n"
        "@group(0) @binding(0) var<storage, read_write> data: array<Rec>;\n\n"
        "@compute @workgroup_size(1)\n"
        "fn main(@builtin(global_invocation_id) id: vec3<u32>) {\n"
        "    let e = id.x;\n" + "\n".join(writes) + "\n}\n"
    )
    data = run(code, [], stride * elements, elements)
    for e in range(elements):
        for k, (name, kind) in enumerate(channels):
            fmt = {"f32": "<f", "u32": "<I", "i32": "<i"}[SCALAR[kind]]
            for c in range(COMPONENTS[kind]):
                (got,) = struct.unpack_from(fmt, data, e * stride + layout[name] + 4 * c)
                assert got == e * 64 + 4 * k + c, (e, name, c)


@pytest.mark.parametrize("channels", gpu_channel_lists())
def test_gpu_stores_fields_at_the_computed_offsets(channels):
    check_gpu_offsets(channels, gpu.run_compute)


def test_generated_struct_compiles_with_every_type():
    channels = [(f"f{i}", kind) for i, kind in enumerate(SIZE_ALIGN)] + [("tail", "vec3f")]
    gpu.device().create_shader_module(code=_core.generate_wgsl_struct("All", channels) + "\n")
