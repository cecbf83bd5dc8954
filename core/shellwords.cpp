#include "core/shellwords.h"

namespace vigilo {

std::optional<std::vector<std::string>> SplitCommandLine(const std::string& line) {
  std::vector<std::string> words;
  std::string word;
  bool in_word = false;  // "" is a word of its own
  for (std::size_t i = 0; i < line.size(); ++i) {
    const char c = line[i];
    if (c == ' ' || c == '\t' || c == '\n' || c == '\r') {
      if (in_word) words.push_back(std::move(word));
      word.clear();
      in_word = false;
      continue;
    }
    in_word = true;
    if (c == '\\') {
      if (++i == line.size()) return std::nullopt;
      if (line[i] != '\n') word += line[i];  // backslash-newline joins lines
    } else if (c == '\'') {
      const std::size_t end = line.find('\'', i + 1);
      if (end == std::string::npos) return std::nullopt;
      word.append(line, i + 1, end - i - 1);
      i = end;
    } else if (c == '"') {
      for (++i;; ++i) {
        if (i == line.size()) return std::nullopt;
        const char d = line[i];
        if (d == '"') break;
        if (d == '\\' && i + 1 < line.size() &&
            (line[i + 1] == '\\' || line[i + 1] == '"' || line[i + 1] == '$' ||
             line[i + 1] == '`')) {
          word += line[++i];
        } else {
          word += d;
        }
      }
    } else {
      word += c;
    }
  }
  if (in_word) words.push_back(std::move(word));
  return words;
}

}  // namespace vigilo
