#pragma once
#include <QByteArray>
#include <QLoggingCategory>

namespace vantor {

// The window's own messages: connections, notices, the diagnostic report.
Q_DECLARE_LOGGING_CATEGORY(lcApp)

// The log of the run, for the diagnostic report: the last messages of every
// category in memory, the program's own (vantor.*) from their info level on
// even while Qt's logging rules keep them off the terminal. What reaches
// standard error is unchanged: warnings, and what the rules turn on.
class DiagnosticLog {
 public:
  static constexpr int MaxLines = 2000;

  // Starts keeping the log for the rest of the process; once.
  static void Install();
  // The lines kept, oldest first, one a line.
  static QByteArray Recent();
};

}  // namespace vantor
