"""The outline rule of pixel_edge_points, in numpy."""

import numpy as np

from .floats import f32


def ref_edges(data, count, stride, offset, threshold, width):
    """Active pixels with an inactive or missing 4-neighbour, row-major."""
    if stride == 0 or width == 0 or count == 0:
        return []
    height = -(-count // width)
    idx = offset + np.arange(height * width, dtype=object) * stride
    values = np.array([f32(data[i]) if i < len(data) else 0.0 for i in idx], dtype=np.float32)
    active = values > np.float32(f32(threshold))
    active[count:] = False  # missing positions of a partial last row
    a = active.reshape(height, width)
    pad = np.pad(a, 1, constant_values=False)
    inner = pad[:-2, 1:-1] & pad[2:, 1:-1] & pad[1:-1, :-2] & pad[1:-1, 2:]
    ys, xs = np.nonzero(a & ~inner)
    return [(float(x), float(y)) for y, x in zip(ys, xs)]
