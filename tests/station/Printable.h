#pragma once
#include <cctype>
#include <cstring>
#include <string>

namespace vantor {

// Names a table's case in test listings by its text, in characters any
// listing keeps.
inline std::string Printable(const std::string& text) {
  std::string out;
  for (const char c : text.substr(0, 48)) {
    out += std::isalnum(static_cast<unsigned char>(c)) || std::strchr(".:@%-", c) ? c : '_';
  }
  return out;
}

}  // namespace vantor
