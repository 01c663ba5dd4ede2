// The live gallery: each example's WGSL, as compile_node_graph made it, drawn
// over the sample image by the reader's browser through WebGPU, on the canvas
// beside the picture gfxcore.gpu drew at build time. Without WebGPU the
// canvases stay hidden and the pictures stand alone. Opened with ?check (as
// scripts/check-docs does, from a local server), the page posts to /__post
// what it drew and how far each canvas is from its picture.

const checking = new URLSearchParams(location.search).has("check");
const status = document.getElementById("gallery-status");

function report(message) {
  if (checking) fetch("/__post", { method: "POST", body: JSON.stringify(message) });
}

// The picture's pixels, as the page shows them.
async function picture(img) {
  await img.decode();
  const context = new OffscreenCanvas(img.naturalWidth, img.naturalHeight).getContext("2d");
  context.drawImage(img, 0, 0);
  return context.getImageData(0, 0, img.naturalWidth, img.naturalHeight).data;
}

// How far the canvas is from the picture: the largest difference of a colour
// channel in levels, and the share of pixels with a channel beyond `levels`.
function compare(drawn, shown, levels) {
  let worst = 0;
  let outside = 0;
  for (let i = 0; i < shown.length; i += 4) {
    let far = false;
    for (let c = 0; c < 3; c++) {
      const d = Math.abs(drawn[i + c] - shown[i + c]);
      worst = Math.max(worst, d);
      far ||= d > levels;
    }
    outside += far;
  }
  return { worst, outside: outside / (shown.length / 4) };
}

// Drawn into a texture and copied to the canvas through its 2D context: a
// canvas of WebGPU's own cannot be made by every software adapter.
async function draw(device, info, example, stage) {
  const box = document.querySelector(`[data-example="${example.name}"]`);
  const canvas = box.querySelector("canvas");
  const size = info.size;
  device.pushErrorScope("validation");
  const pipeline = await device.createRenderPipelineAsync({
    layout: device.createPipelineLayout({ bindGroupLayouts: [stage.layout] }),
    vertex: { module: stage.vertex, entryPoint: "vs_main" },
    primitive: { topology: "triangle-strip" },
    fragment: {
      module: device.createShaderModule({ code: example.wgsl }),
      entryPoint: "fs_main",
      targets: [{ format: "rgba8unorm" }],
    },
  });
  const target = device.createTexture({
    size: [size, size],
    format: "rgba8unorm",
    usage: GPUTextureUsage.RENDER_ATTACHMENT | GPUTextureUsage.COPY_SRC,
  });
  const encoder = device.createCommandEncoder();
  const pass = encoder.beginRenderPass({
    colorAttachments: [{ view: target.createView(), loadOp: "clear", storeOp: "store", clearValue: [0, 0, 0, 0] }],
  });
  pass.setPipeline(pipeline);
  pass.setBindGroup(0, stage.group);
  pass.draw(4);
  pass.end();
  const staging = device.createBuffer({ size: 4 * size * size, usage: GPUBufferUsage.MAP_READ | GPUBufferUsage.COPY_DST });
  encoder.copyTextureToBuffer({ texture: target }, { buffer: staging, bytesPerRow: 4 * size }, [size, size]);
  device.queue.submit([encoder.finish()]);
  const error = await device.popErrorScope();
  if (error) throw new Error(error.message);
  await staging.mapAsync(GPUMapMode.READ);
  const drawn = new Uint8ClampedArray(staging.getMappedRange().slice(0));
  staging.destroy();
  target.destroy();
  for (let i = 3; i < drawn.length; i += 4) drawn[i] = 255; // shown opaque, as the picture
  canvas.getContext("2d").putImageData(new ImageData(drawn, size, size), 0, 0);
  canvas.hidden = false;
  if (!checking) return { name: example.name, rendered: true };
  const shown = await picture(box.querySelector("img"));
  return { name: example.name, rendered: true, ...compare(drawn, shown, info.tolerance.levels) };
}

async function main() {
  const info = await (await fetch("gallery/examples.json")).json();
  const adapter = navigator.gpu && (await navigator.gpu.requestAdapter());
  if (!adapter) {
    status.textContent = "This browser has no WebGPU: the pictures below were drawn when the site was built.";
    return report({ error: "no WebGPU adapter" });
  }
  const device = await adapter.requestDevice();
  const sample = new Float32Array(await (await fetch("gallery/sample.f32")).arrayBuffer());
  const texture = device.createTexture({
    size: [info.sample, info.sample],
    format: "rgba32float",
    usage: GPUTextureUsage.TEXTURE_BINDING | GPUTextureUsage.COPY_DST,
  });
  device.queue.writeTexture({ texture }, sample, { bytesPerRow: 16 * info.sample }, [info.sample, info.sample]);
  // Bound as gfxcore.gpu binds it: 32-bit floats through a non-filtering sampler.
  const layout = device.createBindGroupLayout({
    entries: [
      { binding: 0, visibility: GPUShaderStage.FRAGMENT, texture: { sampleType: "unfilterable-float" } },
      { binding: 1, visibility: GPUShaderStage.FRAGMENT, sampler: { type: "non-filtering" } },
    ],
  });
  const group = device.createBindGroup({
    layout,
    entries: [
      { binding: 0, resource: texture.createView() },
      { binding: 1, resource: device.createSampler({ magFilter: "nearest", minFilter: "nearest" }) },
    ],
  });
  const stage = { layout, group, vertex: device.createShaderModule({ code: info.vertex }) };
  const results = [];
  for (const example of info.examples) {
    try {
      results.push(await draw(device, info, example, stage));
    } catch (e) {
      results.push({ name: example.name, rendered: false, error: String(e) });
    }
  }
  const drawn = results.filter((r) => r.rendered).length;
  status.textContent = `Your browser drew ${drawn} of ${results.length} examples with WebGPU, on the left of each pair.`;
  report({ examples: results, tolerance: info.tolerance });
}

main().catch((e) => report({ error: `gallery failed: ${e}` }));
