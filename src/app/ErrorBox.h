#pragma once
#include <QApplication>
#include <QString>
#include <functional>

namespace vantor {

// The program's standard error box: a critical message box titled "Vantor".
// Every error the user is told about goes through here: exceptions that
// escape an event handler, text-to-number errors, a settings file that
// cannot be written. The message is shown as plain text, whatever it holds
// (it may quote what the user typed or name a file). Tests replace the box
// with a hook of their own.
void ShowErrorBox(const QString& message);

// The file-write error: "Unable to write to " and the file's full path in
// the system's own notation.
QString FileWriteErrorText(const QString& path);

using ErrorBoxHook = std::function<void(const QString& message)>;
// Replaces the box; an empty hook brings the real box back. Returns the
// previous hook.
ErrorBoxHook SetErrorBoxHook(ErrorBoxHook hook);

// The text of an exception as the box shows it: what() of a std::exception,
// a full stop added when it ends without one; empty for anything else.
QString ExceptionText(const std::exception* error);

// The application object: an exception that escapes an event handler is
// shown in the error box and the program goes on with the next event.
class VantorApplication : public QApplication {
 public:
  VantorApplication(int& argc, char** argv);
  bool notify(QObject* receiver, QEvent* event) override;
};

}  // namespace vantor
