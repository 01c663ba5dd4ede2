"""A small SDF scene: build it, serialise it, load it into a collider and query it."""

from gfxcore import arrays

from _core import SdfCollider, SdfPrimitive, SdfScene


def demo_scene() -> SdfScene:
    scene = SdfScene()
    scene.add(SdfPrimitive.sphere(-1.5, 0.0, 0.0, 1.0))
    scene.add(SdfPrimitive.box_(1.5, 0.0, 0.0, 0.75, 0.75, 0.75))
    scene.add(SdfPrimitive.torus(0.0, 0.0, 0.0, 1.25, 0.25))
    scene.add(SdfPrimitive.capsule(0.0, -2.0, 0.0, 0.0, 2.0, 0.0, 0.2))
    scene.add(SdfPrimitive.plane(0.0, 1.0, 0.0, -2.5))
    return scene


def main() -> None:
    scene = demo_scene()
    print(scene, "->", len(scene.to_gpu_bytes()), "bytes for the GPU")
    print("first record:", SdfPrimitive.sphere(-1.5, 0.0, 0.0, 1.0).to_bytes()[:16], "...")

    collider = SdfCollider()
    collider.load_bytes(scene.to_gpu_bytes())
    print("primitives loaded:", collider.prim_count())
    for point in [(-1.2, 0.3, 0.0), (0.0, 3.0, 0.0), (1.5, 0.5, 0.0), (3.0, 0.0, 0.0)]:
        d = collider.distance(*point)
        n = collider.normal(*point)
        push = collider.push_out(*point)
        print(
            f"  at {point}: distance {d:+.3f}, normal ({n[0]:+.3f}, {n[1]:+.3f}, {n[2]:+.3f}),"
            f" push-out ({push[0]:+.3f}, {push[1]:+.3f}, {push[2]:+.3f})"
        )
    print("box (-0.2..0.2)^3 overlaps:", collider.aabb_overlaps(-0.2, -0.2, -0.2, 0.2, 0.2, 0.2))
    print("sphere r=0.4 at (3, 0, 0) overlaps:", collider.sphere_overlaps(3.0, 0.0, 0.0, 0.4))

    # A coarse slice of the field through z = 0, sampled in one call: '#' inside,
    # '+' near the surface.
    print("slice z = 0, x in [-3, 3], y in [-3, 3]:")
    grid = arrays.sample_grid(collider, (-3.0, 3.0, 0.0), (3.0, -3.0, 0.0), (40, 15, 1))
    for row in grid[:, :, 0].T:
        print("  " + "".join("#" if d < 0 else ("+" if d < 0.2 else ".") for d in row))


if __name__ == "__main__":
    main()
