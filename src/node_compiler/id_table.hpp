// Interns texts (node ids, port names) to dense indices. The texts are copied
// into one compact buffer, so that later passes read them from a few hot
// cache lines instead of all over the document. Open addressing over a keyed
// hash whose key is drawn once per process, so that a document cannot be
// built to make every id collide.
#pragma once

#include <cassert>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace core {

class IdTable {
public:
    // The index of `text`, adding it when new.
    uint32_t intern(std::string_view text);

    std::string_view text(uint32_t index) const {
        assert(index < size());
        return {chars_.data() + starts_[index], starts_[index + 1] - starts_[index]};
    }
    std::size_t size() const { return starts_.size() - 1; }

private:
    void grow();

    std::string chars_;
    std::vector<std::size_t> starts_{0};  // text k is chars_[starts_[k], starts_[k + 1])
    std::vector<uint64_t> slots_;         // hash tag << 32 | (index + 1); 0 is empty
};

}  // namespace core
