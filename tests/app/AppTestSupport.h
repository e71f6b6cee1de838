#pragma once
#include <QApplication>
#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include "ErrorBox.h"

namespace vantor::test {

// A fresh temporary directory as the current working directory for the
// lifetime of the object; the previous one comes back afterwards.
class WorkDir {
 public:
  WorkDir() : previous_(QDir::currentPath()) { QDir::setCurrent(dir_.path()); }
  ~WorkDir() { QDir::setCurrent(previous_); }
  WorkDir(const WorkDir&) = delete;
  WorkDir& operator=(const WorkDir&) = delete;

  QString Path() const { return dir_.path(); }
  QString File(const QString& name) const { return dir_.filePath(name); }

 private:
  QTemporaryDir dir_;
  QString previous_;
};

// The program's own application object, once for the whole test process.
inline void EnsureVantorApplication() {
  if (QApplication::instance() == nullptr) {
    static int argc = 1;
    static char name[] = "app_e2e";
    static char* argv[] = {name, nullptr};
    new VantorApplication(argc, argv);
  }
}

inline void WriteBytes(const QString& path, const QByteArray& bytes) {
  QFile file(path);
  if (file.open(QIODevice::WriteOnly)) {
    file.write(bytes);
  }
}

inline QByteArray ReadBytes(const QString& path) {
  QFile file(path);
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Collects what would go to the error box instead of showing it.
class ErrorBoxCatcher {
 public:
  ErrorBoxCatcher()
      : previous_(SetErrorBoxHook([this](const QString& message) { Messages << message; })) {}
  ~ErrorBoxCatcher() { SetErrorBoxHook(previous_); }
  ErrorBoxCatcher(const ErrorBoxCatcher&) = delete;
  ErrorBoxCatcher& operator=(const ErrorBoxCatcher&) = delete;

  QStringList Messages;

 private:
  ErrorBoxHook previous_;
};

}  // namespace vantor::test
