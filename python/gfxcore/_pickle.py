"""Pickling and deep copies of `_core` objects and `gfxcore.arrays` functions.

Importing `gfxcore` registers a reducer with `copyreg` for every `_core`
class; `_core` itself has no pickling of its own. A copy behaves as the
original on every later call, bit for bit:

- `Vec2`, `Vec3`, `Vec4`, `AABB` and `Quaternion` travel as their float32
  fields (a float32 goes through a Python float unchanged).
- `BodyType` travels as its value and comes back as the member itself.
- `Mat4x4`, `RigidBody`, `SdfPrimitive`, `SdfScene`, `SdfCollider`,
  `PhysicsWorld` and `TileCache` travel as the versioned payload of
  `gfxcore._arrays._state_of`, which `_restore_state` checks and writes
  into a new object in place: the matrix's cells, the body's mass and
  handle, the primitives' records, the collider's decoded scene (about 36
  bytes a record), the world's bodies, handle index and next handle, the
  cache's tiles in recency order.

The classes themselves do not pickle (their module is `builtins`, where
pickle cannot find them by name). The functions of `gfxcore.arrays` pickle
by name. Unpickling runs code, as with any pickle: never unpickle data
from a source you do not trust.
"""

from __future__ import annotations

import copyreg
from typing import Any

import _core

from . import _arrays

_state_of = _arrays._state_of
_restore_state = _arrays._restore_state


def _vec2(x: float, y: float) -> _core.Vec2:
    return _core.Vec2(x, y)


def _vec3(x: float, y: float, z: float) -> _core.Vec3:
    return _core.Vec3(x, y, z)


def _vec4(x: float, y: float, z: float, w: float) -> _core.Vec4:
    return _core.Vec4(x, y, z, w)


def _aabb(min_x: float, min_y: float, max_x: float, max_y: float) -> _core.AABB:
    return _core.AABB(min_x, min_y, max_x, max_y)


def _quaternion(x: float, y: float, z: float, w: float) -> _core.Quaternion:
    q = _core.Quaternion.identity()
    q.x, q.y, q.z, q.w = x, y, z, w
    return q


_BODY_TYPES = {
    int(m): m for m in (_core.BodyType.Dynamic, _core.BodyType.Kinematic, _core.BodyType.Static)
}


def _body_type(value: int) -> _core.BodyType:
    return _BODY_TYPES[value]


# The classes with a payload, and how an empty object to restore into is made.
_BLANKS: dict[type, Any] = {
    _core.Mat4x4: _core.Mat4x4.identity,
    _core.RigidBody: lambda: _core.RigidBody(0.0),
    _core.SdfPrimitive: lambda: _core.SdfPrimitive.sphere(0.0, 0.0, 0.0, 0.0),
    _core.SdfScene: _core.SdfScene,
    _core.SdfCollider: _core.SdfCollider,
    _core.PhysicsWorld: _core.PhysicsWorld,
}
_BY_NAME = {cls.__name__: cls for cls in _BLANKS}


def _restored(name: str, state: bytes) -> Any:
    obj = _BLANKS[_BY_NAME[name]]()
    _restore_state(obj, state)
    return obj


def _tile_cache(capacity: int, state: bytes) -> _core.TileCache:
    cache = _core.TileCache(capacity)
    _restore_state(cache, state)
    return cache


def _reduce_payload(obj: Any) -> tuple[Any, tuple[Any, ...]]:
    return _restored, (type(obj).__name__, _state_of(obj))


def _arrays_function(name: str) -> Any:
    return getattr(_arrays, name)


_ARRAYS_FUNCTIONS = {
    id(f): name for name, f in vars(_arrays).items() if type(f) is type(_arrays.distances)
}


def _reduce_arrays_function(f: Any) -> Any:
    name = _ARRAYS_FUNCTIONS.get(id(f))
    if name is None or getattr(_arrays, name, None) is not f:
        # Another module's function of the same kind: no reducer of ours.
        raise TypeError(f"cannot pickle {type(f).__name__!r} object")
    return _arrays_function, (name,)


_REDUCERS: dict[type, Any] = {
    _core.Vec2: lambda v: (_vec2, (v.x, v.y)),
    _core.Vec3: lambda v: (_vec3, (v.x, v.y, v.z)),
    _core.Vec4: lambda v: (_vec4, (v.x, v.y, v.z, v.w)),
    _core.AABB: lambda b: (_aabb, (b.min_x, b.min_y, b.max_x, b.max_y)),
    _core.Quaternion: lambda q: (_quaternion, (q.x, q.y, q.z, q.w)),
    _core.BodyType: lambda t: (_body_type, (int(t),)),
    _core.TileCache: lambda c: (_tile_cache, (c.capacity(), _state_of(c))),
    **dict.fromkeys(_BLANKS, _reduce_payload),
    type(_arrays.distances): _reduce_arrays_function,
}


def reduce(obj: Any) -> tuple[Any, tuple[Any, ...]]:
    """What pickle and `copy` make of `obj`: a callable and its arguments."""
    return _REDUCERS[type(obj)](obj)


def state_key(obj: Any) -> tuple[Any, ...]:
    """A deterministic description of a `_core` object, equal for equal
    states: its class name and the arguments its copy is made from."""
    _, args = reduce(obj)
    return (type(obj).__name__, *args)


def core_classes() -> tuple[type, ...]:
    """Every `_core` class (each has a reducer)."""
    return tuple(cls for cls in _REDUCERS if cls is not type(_arrays.distances))


def register() -> None:
    for cls, reducer in _REDUCERS.items():
        copyreg.pickle(cls, reducer)
