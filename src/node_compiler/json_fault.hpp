// Messages for JSON syntax faults, worked out from the text alone: what was
// expected where the parser stopped, and where that is. Nothing here knows
// what the document describes.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include <boost/system/error_code.hpp>

namespace core {

// What was expected at byte `at` of `text`, where the parser stopped with
// `ec`; the text before `at` was accepted by the parser.
std::string describe_syntax_fault(std::string_view text, std::size_t at,
                                  boost::system::error_code ec);

// " at line {} column {}", counting characters, not bytes, from 1. A fault
// at the end of the text points at its last character.
std::string at_position(std::string_view text, std::size_t at);

}  // namespace core
