"""TileCache operation sequences against an OrderedDict LRU."""

import atheris
import common  # first: it puts the tests' models on the path
from models.tiles import RefLRU

import _core

KEYS = [0, 1, -1, 2, 2**31 - 1, -(2**31)]


def test_one(data):
    fdp = atheris.FuzzedDataProvider(data)
    capacity = fdp.ConsumeIntInRange(0, 6)
    cache, ref = _core.TileCache(capacity), RefLRU(capacity)
    assert cache.capacity() == max(capacity, 1)
    while fdp.remaining_bytes():
        x, y = fdp.PickValueInList(KEYS), fdp.PickValueInList(KEYS)
        op = fdp.ConsumeIntInRange(0, 6)
        if op <= 1:
            payload = fdp.ConsumeBytes(fdp.ConsumeIntInRange(0, 8))
            form = fdp.ConsumeIntInRange(0, 2)
            arg = payload if form == 0 else list(payload) if form == 1 else tuple(payload)
            assert cache.put(x, y, arg) == ref.put(x, y, payload)
        elif op == 2:
            assert cache.get(x, y) == ref.get(x, y)
        elif op == 3:
            assert cache.contains(x, y) == ((x, y) in ref.d)
        elif op == 4:
            assert cache.evict(x, y) == ref.evict(x, y)
        elif op == 5:
            assert cache.len() == len(ref.d)
            assert sorted(cache.keys()) == sorted(ref.d)
        else:
            cache.clear()
            ref.d.clear()


if __name__ == "__main__":
    common.main(test_one)
