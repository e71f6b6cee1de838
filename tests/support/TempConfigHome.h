#pragma once
#include <QByteArray>
#include <QString>
#include <QTemporaryDir>

namespace vantor::test {

// Points XDG_CONFIG_HOME at a fresh, empty temporary directory for the
// lifetime of the object and puts the previous value back afterwards, so a
// test's port map (and anything else kept under the configuration home) is
// its own and the machine's real serial ports are never seen.
class TempConfigHome {
 public:
  TempConfigHome();
  ~TempConfigHome();
  TempConfigHome(const TempConfigHome&) = delete;
  TempConfigHome& operator=(const TempConfigHome&) = delete;

  QString Path() const { return dir_.path(); }
  // The port map directory inside it (not created).
  QString PortsPath() const { return dir_.path() + QStringLiteral("/vantor/ports"); }

 private:
  QTemporaryDir dir_;
  bool hadValue_ = false;
  QByteArray previous_;
};

}  // namespace vantor::test

namespace vantor {
using test::TempConfigHome;
}  // namespace vantor
