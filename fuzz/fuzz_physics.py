"""PhysicsWorld operation sequences against the plain all-pairs model of the
tests: handles, swap-remove order, integration, broad-phase pairs and ray
casts, on positions that include infinities and NaN."""

import atheris
import common  # first: it puts the tests' models on the path
import numpy as np
from models.floats import same_f32
from models.physics import Model, ref_slab

import _core

F = np.float32
DTS = [0.0, 0.016, 1e-3, 1.0, -0.5, float("nan")]


def test_one(data):
    fdp = atheris.FuzzedDataProvider(data)
    world, model = _core.PhysicsWorld(), Model()
    next_handle = 1
    while fdp.remaining_bytes():
        op = fdp.ConsumeIntInRange(0, 7)
        if op <= 2 and len(model.handles) < 24:
            mass = fdp.PickValueInList([0.0, 1.0, 2.0, -0.0])
            body = _core.RigidBody(mass)
            body.set_position(*common.floats(fdp, 3))
            handle = world.add_body(body)
            model.add(handle, body.get_position(), (0, 0, 0), mass)
            next_handle = max(next_handle, handle + 1)
        elif op == 3:
            handle = fdp.ConsumeIntInRange(0, next_handle)
            world.remove_body(handle)
            model.remove(handle)
        elif op == 4:
            handle = fdp.ConsumeIntInRange(0, next_handle)
            p = common.floats(fdp, 3)
            world.set_position(handle, *p)
            if handle in model.handles:
                model.pos[model.handles.index(handle)] = np.array(p, dtype=F)
        elif op == 5:
            g = common.floats(fdp, 3)
            world.set_gravity(*g)
            model.g = np.array(g, dtype=F)
        elif op == 6:
            dt = fdp.PickValueInList(DTS)
            assert world.step(dt) == model.step(dt)
        else:
            ray = common.floats(fdp, 6)
            o, d = np.array(ray[:3], dtype=F), np.array(ray[3:], dtype=F)
            hits = [(h, ref_slab(p, o, d)) for h, p in zip(model.handles, model.pos)]
            want = sorted(((h, t) for h, t in hits if t is not None), key=lambda ht: ht[1])
            assert world.raycast(*ray) == want
        assert world.body_count() == len(model.handles)
    for h, p in zip(model.handles, model.pos):
        assert all(map(same_f32, world.get_position(h), map(float, p))), h


if __name__ == "__main__":
    common.main(test_one)
