#pragma once
#include <sys/types.h>

#include <QString>
#include <vector>

namespace vantor::test {

// A PostgreSQL server of one test's own (tests/history/pg_server.sh in a
// folder of its own, database "vantor"), which the test freezes with
// SIGSTOP, as a server froze in the field with its connections open, and
// thaws with SIGCONT. Nothing else shares it, so a frozen server holds up
// no other test. Stopped and removed at the end, thawed first.
class FrozenServer {
 public:
  FrozenServer();
  ~FrozenServer();
  FrozenServer(const FrozenServer&) = delete;
  FrozenServer& operator=(const FrozenServer&) = delete;

  // False when it could not be started (no PostgreSQL on this machine);
  // Why() says what happened.
  bool Ok() const { return ok_; }
  const QString& Why() const { return why_; }
  QString Url(const QString& database = QStringLiteral("vantor")) const;

  // Every process of the server: the postmaster and its backends.
  bool Freeze();
  bool Thaw();

 private:
  std::vector<pid_t> Processes() const;
  bool Signal(int signal);

  QString dir_;
  QString why_;
  bool ok_ = false;
  bool frozen_ = false;
};

}  // namespace vantor::test
