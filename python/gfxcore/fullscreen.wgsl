// A vertex stage for the fragment shaders of compile_node_graph: draw 4
// vertices as a triangle strip and it covers the whole target, handing each
// fragment its uv, from (0, 0) at the top left to (1, 1) at the bottom right,
// so that a texture sampled at uv appears upright.

struct VertexOutput {
    @builtin(position) pos: vec4<f32>,
    @location(0) uv: vec2<f32>,
}

@vertex
fn vs_main(@builtin(vertex_index) i: u32) -> VertexOutput {
    let p = vec2<f32>(f32(i & 1u), f32(i >> 1u));
    var out: VertexOutput;
    out.pos = vec4<f32>(p * 2.0 - 1.0, 0.0, 1.0);
    out.uv = vec2<f32>(p.x, 1.0 - p.y);
    return out;
}
