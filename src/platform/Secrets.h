#pragma once
#include <QString>
#include <QStringList>

namespace vantor {

// What a message, a log line, a trace or a report may show of a text that
// can hold a password (a history URL, a command line): the password of
// every "scheme://user:password@" and the value of every "password="
// (a URL's query, a keyword list) stand as ***. It works on the text as it
// is, so a URL that does not parse is masked too; where the end of a
// password is unclear, more is hidden rather than less.
QString MaskSecrets(const QString& text);

// The same for a command line, word by word: a word is masked as a whole
// (a password may hold blanks there), so both "--history URL" and
// "--history=URL" lose their password, and so does any other URL given.
QStringList MaskSecrets(const QStringList& words);

}  // namespace vantor
