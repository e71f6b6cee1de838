#include "FrozenServer.h"

#include <signal.h>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QUuid>

namespace vantor::test {
namespace {

QString RunScript(const QString& action, const QString& dir, bool* ok) {
  QProcess script;
  script.setProcessChannelMode(QProcess::MergedChannels);
  script.start(QStringLiteral("bash"), {QStringLiteral(PG_SERVER_SCRIPT), action, dir});
  *ok = script.waitForFinished(120000) && script.exitStatus() == QProcess::NormalExit &&
        script.exitCode() == 0;
  return QString::fromLocal8Bit(script.readAll());
}

// The parent of a process, from /proc; -1 when it is gone.
pid_t ParentOf(pid_t pid) {
  QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
  if (!stat.open(QIODevice::ReadOnly)) {
    return -1;
  }
  const QByteArray line = stat.readAll();
  // pid (name) state ppid …; the name may hold spaces and parentheses.
  const qsizetype close = line.lastIndexOf(')');
  const QList<QByteArray> fields = line.mid(close + 2).split(' ');
  return fields.size() > 1 ? static_cast<pid_t>(fields[1].toInt()) : -1;
}

}  // namespace

FrozenServer::FrozenServer()
    // A short path: the socket's name must fit a Unix socket address.
    : dir_(QStringLiteral("/tmp/vantor-pgf-") +
           QUuid::createUuid().toString(QUuid::Id128).left(10)) {
  why_ = RunScript(QStringLiteral("start"), dir_, &ok_);
}

FrozenServer::~FrozenServer() {
  Thaw();
  bool ok = false;
  RunScript(QStringLiteral("stop"), dir_, &ok);
}

QString FrozenServer::Url(const QString& database) const {
  return QStringLiteral("postgresql://postgres@/%1?host=%2").arg(database, dir_);
}

std::vector<pid_t> FrozenServer::Processes() const {
  QFile pidFile(dir_ + QStringLiteral("/data/postmaster.pid"));
  if (!pidFile.open(QIODevice::ReadOnly)) {
    return {};
  }
  const pid_t postmaster = static_cast<pid_t>(pidFile.readLine().trimmed().toInt());
  if (postmaster <= 0) {
    return {};
  }
  std::vector<pid_t> processes{postmaster};
  for (const QString& entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
    bool number = false;
    const pid_t pid = static_cast<pid_t>(entry.toInt(&number));
    if (number && pid != postmaster && ParentOf(pid) == postmaster) {
      processes.push_back(pid);
    }
  }
  return processes;
}

bool FrozenServer::Signal(int signal) {
  const std::vector<pid_t> processes = Processes();
  // A backend may have ended on its own meanwhile; the postmaster may not.
  bool postmaster = false;
  for (size_t i = 0; i < processes.size(); ++i) {
    const bool sent = ::kill(processes[i], signal) == 0;
    postmaster = postmaster || (i == 0 && sent);
  }
  return postmaster;
}

bool FrozenServer::Freeze() {
  frozen_ = Signal(SIGSTOP);
  return frozen_;
}

bool FrozenServer::Thaw() {
  if (!frozen_) {
    return true;
  }
  frozen_ = false;
  return Signal(SIGCONT);
}

}  // namespace vantor::test
