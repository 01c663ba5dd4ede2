"""PhysicsWorld.step (integration, overlap pairs, the Python list) against
scipy's cKDTree.query_pairs with the Chebyshev metric, which at radius 1.0
finds exactly the pairs of overlapping unit boxes."""

import numpy as np
from scipy.spatial import cKDTree

import _core
from common import Case

SIZES = (2000, 10000, 16000)


def positions(n, layout, seed=3):
    """About two neighbours per body: a cube of volume 4n, or a plane of area 2n."""
    rng = np.random.default_rng(seed)
    if layout == "cube":
        side = (4 * n) ** (1 / 3)
        pts = rng.uniform(0, side, (n, 3))
    else:
        side = (2 * n) ** 0.5
        pts = np.column_stack([rng.uniform(0, side, n), np.zeros(n), rng.uniform(0, side, n)])
    return pts.astype(np.float32).astype(np.float64)  # the same values on both sides


def world(pts):
    # No gravity: every body is still integrated, but the positions (and so
    # the work) stay the same from one timed step to the next.
    w = _core.PhysicsWorld()
    w.set_gravity(0.0, 0.0, 0.0)
    for p in pts.tolist():
        b = _core.RigidBody(1.0)
        b.set_position(*p)
        w.add_body(b)
    return w


def same_count(ours, tree_pairs):
    return len(ours) == len(tree_pairs) > 0


def cases():
    out = []
    worlds = {}
    for layout in ("cube", "plane"):
        for n in SIZES:
            pts = positions(n, layout)
            w = worlds[layout, n] = world(pts)
            out.append(
                Case(
                    name=f"PhysicsWorld.step {layout} {n // 1000}k",
                    ours="w.step(0.016)",
                    anchor='cKDTree(pts).query_pairs(1.0, p=np.inf, output_type="ndarray")',
                    anchor_name="scipy cKDTree",
                    env={"w": w, "pts": pts, "cKDTree": cKDTree, "np": np},
                    work=f"{n} bodies, {len(w.step(0.016))} pairs",
                    check=same_count,
                    goal=0.25 if n == 10000 else None,
                )
            )
        small, large = worlds[layout, SIZES[0]], worlds[layout, SIZES[-1]]
        out.append(
            Case(
                name=f"PhysicsWorld.step {layout} growth 16k/2k",
                ours="large.step(0.016)",
                anchor="small.step(0.016)",
                anchor_name="step at 2k",
                env={"large": large, "small": small},
                work="8x the bodies",
                goal=10.0,
            )
        )
        # The same 2k step repeated runs from L1 cache with its branches
        # learnt. Against one step of each of eight different 2k worlds (as
        # many bodies as the 16k world) the ratio times 8 is the growth
        # without that help.
        others = [world(positions(SIZES[0], layout, seed)) for seed in range(10, 18)]
        out.append(
            Case(
                name=f"PhysicsWorld.step {layout} growth 16k/2k (8 worlds)",
                ours="large.step(0.016)",
                anchor="[w.step(0.016) for w in others]",
                anchor_name="8 different 2k worlds",
                env={"large": large, "others": others},
                work="16k vs 8 x 2k bodies",
                goal=None,
            )
        )
    return out + ray_cases()


def ray_cases():
    """2,000 random rays against 200,000 bodies uniform in a 200-unit cube:
    arrays.raycasts (an index built per call) against the per-ray raycast,
    which tests every body. The per-ray side is timed on 100 of the rays
    and counted 20 times; both sides find the same nearest hits."""
    import timeit

    from gfxcore import arrays

    rng = np.random.default_rng(71)
    w = world(rng.uniform(0, 200, (200_000, 3)).astype(np.float32).astype(np.float64))
    origins = rng.uniform(0, 200, (2000, 3))
    directions = rng.normal(size=(2000, 3))
    sample = np.column_stack([origins, directions])[::20].tolist()

    def per_ray():
        return [w.raycast(*r) for r in sample]

    def quantity():
        hit, handle, t = arrays.raycasts(w, origins, directions)
        want = per_ray()
        assert hit[::20].tolist() == [bool(x) for x in want]
        assert handle[::20].tolist() == [x[0][0] if x else 0 for x in want]
        ours = min(
            timeit.repeat(lambda: arrays.raycasts(w, origins, directions), number=1, repeat=5)
        )
        theirs = min(timeit.repeat(per_ray, number=1, repeat=2)) * 20
        return ours, theirs

    return [
        Case(
            name="arrays.raycasts 2k rays, 200k bodies",
            ours="",
            anchor="",
            anchor_name="per-ray raycast (timed on 100 rays, x20)",
            work="2,000 rays, 200,000 bodies in a 200-unit cube",
            goal=0.05,
            quantity=quantity,
        )
    ]
