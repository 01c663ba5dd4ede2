#include "common/interrupt.hpp"

namespace core {

bool (*interrupt_requested)() noexcept = nullptr;

}  // namespace core
