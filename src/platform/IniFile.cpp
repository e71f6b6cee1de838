#include "IniFile.h"

#include "SafeFile.h"

#include <cstdint>
#include <vector>

namespace vantor {
namespace {

bool IsBlank(char c) {
  return c == ' ' || c == '\t';
}

// One line of the file: [start, end) is its text without the line end,
// `next` is where the following line starts.
struct Line {
  enum Kind { Blank, Section, Comment, KeyValue, Other };
  Kind kind = Other;
  qsizetype start = 0;
  qsizetype end = 0;
  qsizetype next = 0;
  QByteArray name;  // section or key name, trimmed
  qsizetype valueStart = 0;
  qsizetype valueEnd = 0;
  bool hasLineEnd = false;
};

std::vector<Line> SplitLines(const QByteArray& content) {
  std::vector<Line> lines;
  qsizetype pos = 0;
  const qsizetype size = content.size();
  // A UTF-8 byte order mark belongs to no line's text.
  if (content.startsWith("\xEF\xBB\xBF")) {
    pos = 3;
  }
  while (pos < size) {
    Line line;
    line.start = pos;
    qsizetype newline = content.indexOf('\n', pos);
    if (newline < 0) {
      line.end = size;
      line.next = size;
    } else {
      line.end = newline;
      line.next = newline + 1;
      line.hasLineEnd = true;
    }
    if (line.end > line.start && content[line.end - 1] == '\r') {
      --line.end;
    }
    qsizetype first = line.start;
    while (first < line.end && IsBlank(content[first])) {
      ++first;
    }
    qsizetype last = line.end;
    while (last > first && IsBlank(content[last - 1])) {
      --last;
    }
    if (first == last) {
      line.kind = Line::Blank;
    } else if (content[first] == '[') {
      line.kind = Line::Section;
      qsizetype close = content.indexOf(']', first);
      if (close < 0 || close > last) {
        close = last;
      }
      line.name = content.mid(first + 1, close - first - 1).trimmed();
    } else if (content[first] == ';' || content[first] == '#') {
      line.kind = Line::Comment;
    } else {
      const qsizetype equals = content.indexOf('=', first);
      if (equals >= 0 && equals < last) {
        line.kind = Line::KeyValue;
        line.name = content.mid(first, equals - first).trimmed();
        qsizetype value = equals + 1;
        while (value < last && IsBlank(content[value])) {
          ++value;
        }
        line.valueStart = value;
        line.valueEnd = last;
      }
    }
    lines.push_back(std::move(line));
    pos = lines.back().next;
  }
  return lines;
}

bool SameName(const QByteArray& a, const QByteArray& b) {
  return a.compare(b, Qt::CaseInsensitive) == 0;
}

QByteArray LineEndOf(const QByteArray& content) {
  const qsizetype newline = content.indexOf('\n');
  if (newline > 0 && content[newline - 1] != '\r') {
    return "\n";
  }
  return "\r\n";
}

// Index of the first section header named `section`, or -1.
qsizetype FindSection(const std::vector<Line>& lines, const QByteArray& section) {
  for (size_t i = 0; i < lines.size(); ++i) {
    if (lines[i].kind == Line::Section && SameName(lines[i].name, section)) {
      return static_cast<qsizetype>(i);
    }
  }
  return -1;
}

}  // namespace

std::optional<QByteArray> FindIniValue(const QByteArray& content, const QByteArray& section,
                                       const QByteArray& key) {
  const std::vector<Line> lines = SplitLines(content);
  const qsizetype header = FindSection(lines, section);
  if (header < 0) {
    return std::nullopt;
  }
  for (size_t i = static_cast<size_t>(header) + 1; i < lines.size(); ++i) {
    const Line& line = lines[i];
    if (line.kind == Line::Section) {
      break;
    }
    if (line.kind == Line::KeyValue && SameName(line.name, key)) {
      QByteArray value = content.mid(line.valueStart, line.valueEnd - line.valueStart);
      if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
          value.back() == value.front()) {
        value = value.mid(1, value.size() - 2);
      }
      return value;
    }
  }
  return std::nullopt;
}

QByteArray SetIniValue(const QByteArray& content, const QByteArray& section, const QByteArray& key,
                       const QByteArray& value) {
  const std::vector<Line> lines = SplitLines(content);
  const QByteArray lineEnd = LineEndOf(content);
  const QByteArray pair = key + '=' + value;
  QByteArray result = content;

  const qsizetype header = FindSection(lines, section);
  if (header >= 0) {
    size_t after = static_cast<size_t>(header);  // the line the new key follows
    for (size_t i = after + 1; i < lines.size(); ++i) {
      const Line& line = lines[i];
      if (line.kind == Line::Section) {
        break;
      }
      if (line.kind == Line::KeyValue) {
        if (SameName(line.name, key)) {
          return result.replace(line.valueStart, line.valueEnd - line.valueStart, value);
        }
        after = i;
      }
    }
    const Line& anchor = lines[after];
    if (anchor.hasLineEnd) {
      return result.insert(anchor.next, pair + lineEnd);
    }
    return result.insert(anchor.next, lineEnd + pair);
  }

  if (!result.isEmpty() && !result.endsWith('\n')) {
    result += lineEnd;
  }
  result += '[' + section + ']' + lineEnd + pair + lineEnd;
  return result;
}

std::optional<int> ParseIniInteger(const QByteArray& text) {
  const QByteArray t = text.trimmed();
  qsizetype pos = 0;
  bool negative = false;
  if (pos < t.size() && (t[pos] == '+' || t[pos] == '-')) {
    negative = t[pos] == '-';
    ++pos;
  }
  int base = 10;
  if (pos < t.size() && t[pos] == '$') {
    base = 16;
    ++pos;
  } else if (pos + 1 < t.size() && t[pos] == '0' && (t[pos + 1] == 'x' || t[pos + 1] == 'X')) {
    base = 16;
    pos += 2;
  }
  if (pos >= t.size()) {
    return std::nullopt;
  }
  int64_t magnitude = 0;
  for (; pos < t.size(); ++pos) {
    const char c = t[pos];
    int digit = -1;
    if (c >= '0' && c <= '9') {
      digit = c - '0';
    } else if (base == 16 && c >= 'a' && c <= 'f') {
      digit = c - 'a' + 10;
    } else if (base == 16 && c >= 'A' && c <= 'F') {
      digit = c - 'A' + 10;
    }
    if (digit < 0) {
      return std::nullopt;
    }
    magnitude = magnitude * base + digit;
    if (magnitude > 0xFFFFFFFFLL) {
      return std::nullopt;
    }
  }
  if (base == 16) {
    // Up to eight hex digits are a 32-bit pattern, so $FFFFFFFF is -1.
    const auto pattern = static_cast<int32_t>(static_cast<uint32_t>(magnitude));
    return negative ? -pattern : pattern;
  }
  const int64_t value = negative ? -magnitude : magnitude;
  if (value < INT32_MIN || value > INT32_MAX) {
    return std::nullopt;
  }
  return static_cast<int>(value);
}

int ReadIniInteger(const QString& path, const QByteArray& section, const QByteArray& key,
                   int defaultValue) {
  QByteArray content;
  if (!ReadRegularFile(path, content, IniFileLimit)) {
    return defaultValue;
  }
  const std::optional<QByteArray> value = FindIniValue(content, section, key);
  if (!value) {
    return defaultValue;
  }
  return ParseIniInteger(*value).value_or(defaultValue);
}

bool WriteIniString(const QString& path, const QByteArray& section, const QByteArray& key,
                    const QByteArray& value) {
  QByteArray content;
  // Whatever is at the path and cannot be read as a settings file (a
  // directory, a device, a FIFO, a file too large) is left alone: rewriting
  // it blind would lose it.
  const bool exists = PathTaken(path);
  if (exists && !ReadRegularFile(path, content, IniFileLimit)) {
    return false;
  }
  const QByteArray updated = SetIniValue(content, section, key, value);
  if (exists && updated == content) {
    return true;
  }
  // Written beside the old file and renamed over it, so an interrupted or
  // refused write never leaves half a file; where the directory forbids
  // that, in place, with the old bytes put back on failure.
  return WriteFileWhole(path, updated);
}

}  // namespace vantor
