#pragma once
#include <QString>
#include <QTemporaryDir>
#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace vantor::test {

// A stand-in for a database server, on a Unix socket named as PostgreSQL
// names its own (<folder>/.s.PGSQL.<port>), for tests and benchmarks of a
// history whose server misbehaves:
//   Hang     takes every connection and never answers (a server that froze);
//   Refuse   nobody listens: a connection is refused at once;
//   Forward  passes every byte to and from a real server's socket.
// It starts hanging. Connections held while hanging are dropped when the
// mode changes, as a restarted server drops them.
class ServerStandIn {
 public:
  enum class Mode { Hang, Refuse, Forward };

  // `realSocket`: the real server's socket file, for Forward.
  explicit ServerStandIn(QString realSocket = QString());
  ~ServerStandIn();
  ServerStandIn(const ServerStandIn&) = delete;
  ServerStandIn& operator=(const ServerStandIn&) = delete;

  void SetMode(Mode mode);
  // A PostgreSQL URL naming a database on this stand-in; `parameters` are
  // added to its query (connect_timeout=60).
  QString Url(const QString& database = QStringLiteral("vantor"),
              const QString& parameters = QString()) const;
  // Connections taken so far, and those held unanswered right now whose
  // client still waits.
  int Accepted() const { return accepted_.load(); }
  int Held() const { return held_.load(); }

 private:
  struct Pair {
    int Client = -1;
    int Server = -1;  // -1 while held unanswered
  };

  void Listen();
  void StopListening();
  void Serve();
  void DropAll();

  QTemporaryDir dir_;
  QString socket_;
  QString realSocket_;
  mutable std::mutex mutex_;
  std::condition_variable applied_;
  Mode mode_ = Mode::Hang;
  int requested_ = 0;
  int done_ = 0;
  int listener_ = -1;
  std::vector<Pair> pairs_;
  int wake_[2] = {-1, -1};
  std::atomic<bool> stop_{false};
  std::atomic<int> accepted_{0};
  std::atomic<int> held_{0};
  std::thread thread_;
};

// The socket file of the PostgreSQL server a test URL names
// (postgresql://user@/db?host=DIR&port=N), the port 5432 when none is given.
QString PostgresSocketOf(const QString& url);

}  // namespace vantor::test
