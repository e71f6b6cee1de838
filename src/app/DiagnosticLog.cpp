#include "DiagnosticLog.h"

#include <QDateTime>
#include <QMutex>
#include <QMutexLocker>
#include <QSet>
#include <deque>

#include "Secrets.h"

namespace vantor {

Q_LOGGING_CATEGORY(lcApp, "vantor.app", QtWarningMsg)

namespace {

QMutex mutex;
std::deque<QByteArray> lines;
QtMessageHandler previousHandler = nullptr;
QLoggingCategory::CategoryFilter previousFilter = nullptr;
// Categories whose info messages the rules left off: kept, not printed.
QSet<QByteArray> quietInfo;

bool Ours(const char* category) {
  return qstrncmp(category, "vantor.", 7) == 0;
}

void Filter(QLoggingCategory* category) {
  if (previousFilter != nullptr) {
    previousFilter(category);
  }
  if (Ours(category->categoryName()) && !category->isInfoEnabled()) {
    {
      const QMutexLocker lock(&mutex);
      quietInfo.insert(category->categoryName());
    }
    category->setEnabled(QtInfoMsg, true);
  }
}

const char* Level(QtMsgType type) {
  switch (type) {
    case QtDebugMsg:
      return "debug";
    case QtInfoMsg:
      return "info";
    case QtWarningMsg:
      return "warning";
    case QtCriticalMsg:
      return "critical";
    case QtFatalMsg:
      return "fatal";
  }
  return "?";
}

void Handler(QtMsgType type, const QMessageLogContext& context, const QString& text) {
  // The log goes into the diagnostic report and onto the terminal: a URL
  // or a server's words in it show no password.
  const QString message = MaskSecrets(text);
  const char* category = context.category != nullptr ? context.category : "default";
  bool print = true;
  {
    const QMutexLocker lock(&mutex);
    lines.push_back(QDateTime::currentDateTime().toString(Qt::ISODateWithMs).toUtf8() + ' ' +
                    category + ' ' + Level(type) + ": " + message.toUtf8());
    while (lines.size() > static_cast<size_t>(DiagnosticLog::MaxLines)) {
      lines.pop_front();
    }
    print = !(type == QtInfoMsg && quietInfo.contains(category));
  }
  if (print && previousHandler != nullptr) {
    previousHandler(type, context, message);
  }
}

}  // namespace

void DiagnosticLog::Install() {
  static bool installed = false;
  if (installed) {
    return;
  }
  installed = true;
  previousHandler = qInstallMessageHandler(&Handler);
  previousFilter = QLoggingCategory::installFilter(&Filter);
}

QByteArray DiagnosticLog::Recent() {
  const QMutexLocker lock(&mutex);
  QByteArray text;
  for (const QByteArray& line : lines) {
    text += line + '\n';
  }
  return text;
}

}  // namespace vantor
