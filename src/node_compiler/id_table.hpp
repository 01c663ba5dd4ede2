// Interns id texts to dense indices. Open addressing over a keyed hash whose
// key is drawn once per process, so that a document cannot be built to make
// every id collide.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

namespace core {

class IdTable {
public:
    explicit IdTable(std::vector<std::string_view>& ids) : ids_(ids) {}

    // The index of `id`, adding it (the view is kept as given) when new.
    uint32_t intern(std::string_view id);

private:
    void grow();

    std::vector<std::string_view>& ids_;
    std::vector<uint64_t> hashes_;  // by index, to rehash without rereading texts
    std::vector<uint32_t> slots_;   // index + 1; 0 is empty
};

}  // namespace core
