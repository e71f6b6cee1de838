#include "ErrorBox.h"

#include <QDir>
#include <QMessageBox>
#include <exception>

#include "WindowStyle.h"

namespace vantor {
namespace {

ErrorBoxHook& Hook() {
  static ErrorBoxHook hook;
  return hook;
}

}  // namespace

void ShowErrorBox(const QString& message) {
  if (Hook()) {
    Hook()(message);
    return;
  }
  QMessageBox box(QMessageBox::Critical, QStringLiteral("Vantor"), message, QMessageBox::Ok);
  box.setTextFormat(Qt::PlainText);
  box.exec();
}

QString FileWriteErrorText(const QString& path) {
  return QStringLiteral("Unable to write to %1")
      .arg(QDir::toNativeSeparators(QDir::current().absoluteFilePath(path)));
}

ErrorBoxHook SetErrorBoxHook(ErrorBoxHook hook) {
  ErrorBoxHook previous = std::move(Hook());
  Hook() = std::move(hook);
  return previous;
}

QString ExceptionText(const std::exception* error) {
  if (error == nullptr) {
    return QString();
  }
  QString text = QString::fromUtf8(error->what());
  if (!text.isEmpty() && !text.endsWith('.') && !text.endsWith('!') && !text.endsWith('?')) {
    text += '.';
  }
  return text;
}

VantorApplication::VantorApplication(int& argc, char** argv) : QApplication(argc, argv) {
  setApplicationName(QStringLiteral("Vantor"));
  LoadDesignFonts();
}

bool VantorApplication::notify(QObject* receiver, QEvent* event) {
  try {
    return QApplication::notify(receiver, event);
  } catch (const std::exception& error) {
    ShowErrorBox(ExceptionText(&error));
  } catch (...) {
    ShowErrorBox(ExceptionText(nullptr));
  }
  return false;
}

}  // namespace vantor
