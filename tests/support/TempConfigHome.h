#pragma once
#include <QByteArray>
#include <QString>
#include <QTemporaryDir>

namespace vantor::test {

// Points XDG_CONFIG_HOME and XDG_DATA_HOME at a fresh, empty temporary
// directory (data in its "data" folder) for the lifetime of the object and
// puts the previous values back afterwards, so a test's port map, settings
// and history are its own and the machine's real serial ports are never
// seen.
class TempConfigHome {
 public:
  TempConfigHome();
  ~TempConfigHome();
  TempConfigHome(const TempConfigHome&) = delete;
  TempConfigHome& operator=(const TempConfigHome&) = delete;

  QString Path() const { return dir_.path(); }
  // The port map directory inside it (not created).
  QString PortsPath() const { return dir_.path() + QStringLiteral("/vantor/ports"); }
  // The data home, and the default history file in it (neither created).
  QString DataPath() const { return dir_.path() + QStringLiteral("/data"); }
  QString HistoryPath() const { return DataPath() + QStringLiteral("/vantor/history.sqlite"); }

 private:
  struct Saved {
    const char* Name;
    bool HadValue;
    QByteArray Previous;
  };
  static Saved Set(const char* name, const QString& value);
  static void Restore(const Saved& saved);

  QTemporaryDir dir_;
  Saved config_;
  Saved data_;
};

}  // namespace vantor::test

namespace vantor {
using test::TempConfigHome;
}  // namespace vantor
