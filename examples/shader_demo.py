"""A tour of shader generation: a node graph compiled to a WGSL fragment
shader, and a struct layout shared with a compute shader."""

import json

from _core import compile_node_graph, compute_layout, generate_wgsl_struct


def main():
    # Sample the texture through warped coordinates, then brighten it.
    graph = {
        "nodes": [
            {"id": "uv", "type": "UV"},
            {"id": "warp", "type": "GravityWarp", "params": {"strength": 0.4, "radius": 0.25}},
            {"id": "tex", "type": "SampleTexture"},
            {"id": "boost", "type": "Multiply"},
            {"id": "final", "type": "FinalColor"},
        ],
        "edges": [
            {"from_node": "uv", "from_port": "uv", "to_node": "warp", "to_port": "uv"},
            {"from_node": "warp", "from_port": "out_uv", "to_node": "tex", "to_port": "uv"},
            {"from_node": "tex", "from_port": "color", "to_node": "boost", "to_port": "a"},
            {"from_node": "boost", "from_port": "out", "to_node": "final", "to_port": "color"},
        ],
    }
    wgsl = compile_node_graph(json.dumps(graph))
    body = wgsl.split("    var out_color = vec4<f32>(0.0, 0.0, 0.0, 1.0);\n")[1]
    print(f"{len(wgsl)} bytes of WGSL; the body of fs_main:")
    print(body, end="")

    # Faults name their place in the document (three deliberately broken ones).
    for bad in [
        '{"nodes": []}',
        '{"nodes": [], "edges": [],}',
        json.dumps(
            {
                "nodes": [{"id": "a", "type": "UV"}],
                "edges": [{"from_node": "a", "from_port": "uv", "to_node": "a", "to_port": "uv"}],
            }
        ),
    ]:
        try:
            compile_node_graph(bad)
        except ValueError as e:
            print("deliberate bad input, refused as expected -> ValueError:", e)

    # One element of an array<Particle>: vec3f aligns to 16 bytes, so the
    # f32 after it fills its last four.
    channels = [("position", "vec3f"), ("mass", "f32"), ("velocity", "vec2f"), ("id", "u32")]
    print(compute_layout(channels))
    print(generate_wgsl_struct("Particle", channels))


if __name__ == "__main__":
    main()
