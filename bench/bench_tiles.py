"""TileCache against cachetools.LRUCache and an OrderedDict LRU; the LZ4
functions against the lz4 package's size-prefixed block format."""

import random
from collections import OrderedDict

import cachetools
import lz4.block

import _core
from common import Case

OPS = 1000
TILE = 16  # bytes per tile


def mix(capacity, seed):
    """OPS operations, 30% put and 70% get, over twice as many keys as fit,
    so that about half the gets hit and most new puts evict."""
    rng = random.Random(seed)
    ops = []
    for _ in range(OPS):
        k = rng.randrange(2 * capacity)
        ops.append((rng.random() < 0.3, k % 64 - 32, k // 64, rng.randbytes(TILE)))
    return ops


def prefill(capacity):
    return [(True, k % 64 - 32, k // 64, bytes(TILE)) for k in range(0, 2 * capacity, 2)]


def run_ours(cache, ops):
    put, get = cache.put, cache.get
    hits = 0
    for is_put, x, y, data in ops:
        if is_put:
            put(x, y, data)
        elif get(x, y) is not None:
            hits += 1
    return hits


def run_cachetools(cache, ops):
    get = cache.get
    hits = 0
    for is_put, x, y, data in ops:
        if is_put:
            cache[x, y] = data
        elif get((x, y)) is not None:
            hits += 1
    return hits


def run_odict(od, capacity, ops):
    hits = 0
    for is_put, x, y, data in ops:
        key = (x, y)
        if is_put:
            od[key] = data
            od.move_to_end(key)
            if len(od) > capacity:
                od.popitem(last=False)
        else:
            v = od.get(key)
            if v is not None:
                od.move_to_end(key)
                hits += 1
    return hits


def cache_cases(capacity):
    cases = []
    for anchor_name, anchor in [
        ("cachetools", "run_cachetools(anchor, ops)"),
        ("OrderedDict", "run_odict(anchor, capacity, ops)"),
    ]:
        ours = _core.TileCache(capacity)
        other = cachetools.LRUCache(capacity) if anchor_name == "cachetools" else OrderedDict()
        env = {
            "ours": ours,
            "anchor": other,
            "ops": mix(capacity, capacity),
            "capacity": capacity,
            "run_ours": run_ours,
            "run_cachetools": run_cachetools,
            "run_odict": run_odict,
        }
        start = prefill(capacity)
        run_ours(ours, start)
        eval(anchor, {**env, "ops": start})  # noqa: S307
        goal = 1 / 3 if anchor_name == "cachetools" else None
        cases.append(
            Case(
                f"TileCache put/get mix, {capacity:,} tiles",
                "run_ours(ours, ops)",
                anchor,
                anchor_name,
                env,
                work=f"{OPS} ops, {TILE}-byte tiles",
                check=lambda a, b: a == b,
                goal=goal,
            )
        )
    return cases


def text_like(n, seed=3):
    rng = random.Random(seed)
    words = [
        bytes(rng.choice(b"etaoinshrdlucmfw") for _ in range(rng.randrange(2, 9)))
        for _ in range(2000)
    ]
    out = bytearray()
    while len(out) < n:
        out += rng.choice(words) + rng.choice([b" ", b" ", b" ", b", ", b".\n"])
    return bytes(out[:n])


def lz4_cases():
    cases = []
    for kind, data in [
        ("text-like", text_like(1 << 20)),
        ("random", random.Random(5).randbytes(1 << 20)),
    ]:
        packed = lz4.block.compress(data, store_size=True)
        env = {
            "lz4_compress": _core.lz4_compress,
            "lz4_decompress": _core.lz4_decompress,
            "lz4": lz4,
            "x": data,
            "y": packed,
        }

        def round_trips(a, b, data=data):
            return (
                bytes(_core.lz4_decompress(bytes(a))) == data
                and lz4.block.decompress(bytes(b)) == data
            )

        cases.append(
            Case(
                f"lz4_compress 1 MiB {kind}",
                "lz4_compress(x)",
                "list(lz4.block.compress(x, store_size=True))",
                "lz4",
                env,
                work="1 MiB",
                check=round_trips,
            )
        )
        cases.append(
            Case(
                f"lz4_decompress 1 MiB {kind}",
                "lz4_decompress(y)",
                "list(lz4.block.decompress(y))",
                "lz4",
                env,
                work="1 MiB",
                check=lambda a, b: a == b,
            )
        )
    return cases


def cases():
    out = []
    for capacity in (10, 1_000, 100_000):
        out += cache_cases(capacity)
    return out + lz4_cases()
