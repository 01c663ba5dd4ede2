"""The tile cache's recency rule on an OrderedDict."""

from collections import OrderedDict


class RefLRU:
    """The cache's behaviour, written the obvious way."""

    def __init__(self, capacity):
        self.cap = max(capacity, 1)
        self.d = OrderedDict()  # last = most recently used

    def put(self, x, y, data):
        self.d[(x, y)] = list(data)
        self.d.move_to_end((x, y))
        if len(self.d) > self.cap:
            return self.d.popitem(last=False)[0]
        return None

    def get(self, x, y):
        if (x, y) not in self.d:
            return None
        self.d.move_to_end((x, y))
        return list(self.d[(x, y)])

    def evict(self, x, y):
        return self.d.pop((x, y), None) is not None
