#pragma once
#include <QByteArray>
#include <QString>
#include <optional>

namespace vantor {

// Windows-style INI text: "[Section]" lines, "key=value" lines, comments
// starting with ';' or '#'. Section and key names match without regard to
// ASCII case, blanks around names and values are ignored, and the first
// matching section and key win. Text is handled as bytes, so nothing the
// program does not change is ever re-encoded.

// The value of `key` in `section`, without surrounding blanks or a pair of
// enclosing quotes; nothing when the section or key is missing.
std::optional<QByteArray> FindIniValue(const QByteArray& content, const QByteArray& section,
                                       const QByteArray& key);

// `content` with `key` of `section` set to `value`, every other byte kept.
// An existing value is replaced in place; a missing key goes after the last
// non-blank line of its section; a missing section is appended. New lines use
// the file's own line end (CRLF or LF, as its first line end), CRLF in a file
// that has none.
QByteArray SetIniValue(const QByteArray& content, const QByteArray& section, const QByteArray& key,
                       const QByteArray& value);

// A decimal integer with an optional sign, or hexadecimal after $ or 0x,
// within 32 bits; nothing for any other text.
std::optional<int> ParseIniInteger(const QByteArray& text);

// Settings files larger than this are not read (nor overwritten).
inline constexpr qint64 IniFileLimit = 1 << 20;

// Reads an integer; `defaultValue` when the file is not a regular file of at
// most IniFileLimit bytes, cannot be read, lacks the section or key, or the
// value is not an integer. Never blocks on a FIFO or a device.
int ReadIniInteger(const QString& path, const QByteArray& section, const QByteArray& key,
                   int defaultValue);

// Writes one key, creating the file when missing. Returns false when the
// file cannot be written (the old file then stays as it was), and also when
// something is at the path that ReadIniInteger would not read, since
// rewriting it blind would lose its other lines. A file that already holds
// the value is left untouched.
bool WriteIniString(const QString& path, const QByteArray& section, const QByteArray& key,
                    const QByteArray& value);

}  // namespace vantor
