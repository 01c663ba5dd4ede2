// A key-value result that callers look up by key (it becomes a dict). Kept as
// a plain vector of pairs: the cores that produce one build it once, in order.
#pragma once

#include <utility>
#include <vector>

namespace core {

template <class K, class V>
struct Mapping {
    // A key given twice keeps its first position and takes the later value.
    std::vector<std::pair<K, V>> items;
};

}  // namespace core
