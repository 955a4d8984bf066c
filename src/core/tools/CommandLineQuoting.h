// How a command line is shown to the user (the command console, a result's
// command text). The child never sees this text: arguments are passed as a list.
//
// An element containing whitespace or a line break (ASCII or Unicode), a single
// quote, a double quote, a backslash or a dollar sign is wrapped in single
// quotes, each single quote inside written as '\''. Anything else, including
// the empty element, is shown unchanged. Pure functions, thread-safe.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace quorlin {

std::string quoteForDisplay(std::string_view element);

// The tool's bare name followed by the arguments, each quoted, joined by one space.
// ("cjxl", {"a b.png", "-d", "1"}) -> "cjxl 'a b.png' -d 1".
std::string displayCommandLine(std::string_view tool, const std::vector<std::string>& arguments);

}  // namespace quorlin
