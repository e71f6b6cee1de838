// The settings file reader and writer on any file content: reading never
// fails on bytes, and a value written reads back as set with every other
// byte of the file kept.
#include <QByteArray>
#include <QList>
#include <algorithm>
#include <cstddef>
#include <cstdint>

#include "IniFile.h"

using namespace vantor;

namespace {

// Names are kept to what a header or a key line can hold.
QByteArray Name(QByteArray text, const char* fallback) {
  QByteArray name;
  for (char c : text) {
    if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' ||
        c == '.' || c == '-') {
      name += c;
    }
  }
  return name.isEmpty() ? QByteArray(fallback) : name.left(16);
}

// A value is one line without blanks at its ends or enclosing quotes.
QByteArray Value(const QByteArray& text) {
  QByteArray value;
  for (char c : text) {
    if (c != '\r' && c != '\n' && c != '"' && c != '\'' && c != '\0') {
      value += c;
    }
  }
  return value.left(32).trimmed();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const QByteArray input(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
  const QList<QByteArray> parts = input.split('\0');
  if (parts.size() < 4) {
    FindIniValue(input, "Common", "Language");
    return 0;
  }
  const QByteArray section = Name(parts[0], "Common");
  const QByteArray key = Name(parts[1], "Language");
  const QByteArray value = Value(parts[2]);
  const QByteArray content = input.mid(parts[0].size() + parts[1].size() + parts[2].size() + 3);

  if (const auto old = FindIniValue(content, section, key)) {
    ParseIniInteger(*old);
  }
  ParseIniInteger(value);

  const QByteArray written = SetIniValue(content, section, key, value);
  if (FindIniValue(written, section, key) != value) {
    __builtin_trap();  // what was set does not read back
  }
  if (SetIniValue(written, section, key, value) != written) {
    __builtin_trap();  // setting it again changes the file
  }
  // One stretch changed: a value replaced within its line, or lines added.
  qsizetype prefix = 0;
  const qsizetype shorter = std::min(content.size(), written.size());
  while (prefix < shorter && content[prefix] == written[prefix]) {
    ++prefix;
  }
  qsizetype suffix = 0;
  while (suffix < shorter - prefix &&
         content[content.size() - 1 - suffix] == written[written.size() - 1 - suffix]) {
    ++suffix;
  }
  const QByteArray removed = content.mid(prefix, content.size() - prefix - suffix);
  if (removed.contains('\n')) {
    __builtin_trap();  // bytes of other lines were lost
  }
  const qsizetype addedLines = written.count('\n') - content.count('\n');
  if (addedLines < 0 || addedLines > 3) {
    __builtin_trap();
  }
  return 0;
}
