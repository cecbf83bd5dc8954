#pragma once
// A command line split into words the way a POSIX shell splits it, without any
// expansion: blanks separate words, single quotes keep everything literally, double
// quotes keep everything but a backslash before \ " $ ` and a backslash outside
// quotes keeps the next character. The words are given to the program directly,
// never to a shell.

#include <optional>
#include <string>
#include <vector>

namespace vigilo {

// std::nullopt when a quote is not closed or the line ends in a lone backslash.
std::optional<std::vector<std::string>> SplitCommandLine(const std::string& line);

}  // namespace vigilo
