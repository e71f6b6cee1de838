#include "ServerStandIn.h"

#include <QFile>
#include <QUrl>
#include <QUrlQuery>

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>

namespace vantor::test {
namespace {

constexpr int Port = 5432;

sockaddr_un AddressOf(const QString& path) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  const QByteArray name = QFile::encodeName(path);
  std::strncpy(address.sun_path, name.constData(), sizeof address.sun_path - 1);
  return address;
}

int ConnectTo(const QString& path) {
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  const sockaddr_un address = AddressOf(path);
  if (fd >= 0 && ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

// Passes what `from` has to `to`; false when either side is done.
bool Pass(int from, int to) {
  char buffer[16384];
  const ssize_t got = ::read(from, buffer, sizeof buffer);
  if (got <= 0) {
    return false;
  }
  ssize_t sent = 0;
  while (sent < got) {
    const ssize_t n = ::write(to, buffer + sent, static_cast<size_t>(got - sent));
    if (n <= 0) {
      return false;
    }
    sent += n;
  }
  return true;
}

}  // namespace

QString PostgresSocketOf(const QString& url) {
  const QUrlQuery query{QUrl(url)};
  const QString port = query.queryItemValue(QStringLiteral("port"));
  return query.queryItemValue(QStringLiteral("host")) + QStringLiteral("/.s.PGSQL.") +
         (port.isEmpty() ? QString::number(Port) : port);
}

ServerStandIn::ServerStandIn(QString realSocket)
    : socket_(dir_.filePath(QStringLiteral(".s.PGSQL.%1").arg(Port))),
      realSocket_(std::move(realSocket)) {
  if (::pipe2(wake_, O_CLOEXEC | O_NONBLOCK) != 0) {
    wake_[0] = wake_[1] = -1;
  }
  Listen();
  thread_ = std::thread([this] { Serve(); });
}

ServerStandIn::~ServerStandIn() {
  stop_.store(true);
  if (wake_[1] >= 0) {
    (void)::write(wake_[1], "x", 1);
  }
  thread_.join();
  DropAll();
  StopListening();
  for (const int fd : wake_) {
    if (fd >= 0) {
      ::close(fd);
    }
  }
}

QString ServerStandIn::Url(const QString& database, const QString& parameters) const {
  return QStringLiteral("postgresql://postgres@/%1?host=%2&port=%3")
             .arg(database, dir_.path())
             .arg(Port) +
         (parameters.isEmpty() ? QString() : QLatin1Char('&') + parameters);
}

void ServerStandIn::SetMode(Mode mode) {
  // The serving thread applies it and says so.
  std::unique_lock lock(mutex_);
  mode_ = mode;
  const int change = ++requested_;
  (void)::write(wake_[1], "m", 1);
  applied_.wait_for(lock, std::chrono::seconds(5), [&] { return done_ >= change; });
}

void ServerStandIn::Listen() {
  if (listener_ >= 0) {
    return;
  }
  QFile::remove(socket_);
  listener_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  const sockaddr_un address = AddressOf(socket_);
  if (::bind(listener_, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
      ::listen(listener_, 64) != 0) {
    ::close(listener_);
    listener_ = -1;
  }
}

void ServerStandIn::StopListening() {
  // The socket file stays: a client finds it and is refused.
  if (listener_ >= 0) {
    ::close(listener_);
    listener_ = -1;
  }
}

void ServerStandIn::DropAll() {
  for (const Pair& pair : pairs_) {
    ::close(pair.Client);
    if (pair.Server >= 0) {
      ::close(pair.Server);
    }
  }
  pairs_.clear();
  held_.store(0);
}

void ServerStandIn::Serve() {
  Mode applied = Mode::Hang;
  while (!stop_.load()) {
    std::vector<pollfd> fds;
    fds.push_back({wake_[0], POLLIN, 0});
    if (listener_ >= 0) {
      fds.push_back({listener_, POLLIN, 0});
    }
    const size_t firstPair = fds.size();
    for (const Pair& pair : pairs_) {
      // A held connection is never read, its bytes stay unanswered; only
      // its client giving up is noticed.
      fds.push_back({pair.Client, static_cast<short>(pair.Server >= 0 ? POLLIN : POLLRDHUP), 0});
      fds.push_back({pair.Server, POLLIN, 0});
    }
    if (::poll(fds.data(), fds.size(), 200) < 0) {
      continue;
    }
    if ((fds[0].revents & POLLIN) != 0) {
      char drained[64];
      while (::read(wake_[0], drained, sizeof drained) > 0) {
      }
      Mode wanted = Mode::Hang;
      int change = 0;
      {
        const std::lock_guard lock(mutex_);
        wanted = mode_;
        change = requested_;
      }
      if (wanted != applied) {
        DropAll();
        if (wanted == Mode::Refuse) {
          StopListening();
        } else {
          Listen();
        }
        applied = wanted;
      }
      const std::lock_guard lock(mutex_);
      done_ = change;
      applied_.notify_all();
      continue;
    }
    if (listener_ >= 0 && (fds[1].revents & POLLIN) != 0) {
      const int client = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
      if (client >= 0) {
        accepted_.fetch_add(1);
        Pair pair{client, -1};
        if (applied == Mode::Forward) {
          pair.Server = ConnectTo(realSocket_);
          if (pair.Server < 0) {
            ::close(client);
            continue;
          }
        } else {
          held_.fetch_add(1);
        }
        pairs_.push_back(pair);
      }
      continue;
    }
    std::vector<Pair> kept;
    for (size_t i = 0; i < pairs_.size(); ++i) {
      const Pair& pair = pairs_[i];
      const pollfd& client = fds[firstPair + 2 * i];
      const pollfd& server = fds[firstPair + 2 * i + 1];
      bool open = true;
      if (pair.Server < 0 && (client.revents & (POLLRDHUP | POLLHUP | POLLERR)) != 0) {
        open = false;
        held_.fetch_sub(1);
      }
      if (pair.Server >= 0) {
        if ((client.revents & (POLLIN | POLLHUP | POLLERR)) != 0) {
          open = Pass(pair.Client, pair.Server);
        }
        if (open && (server.revents & (POLLIN | POLLHUP | POLLERR)) != 0) {
          open = Pass(pair.Server, pair.Client);
        }
      }
      if (open) {
        kept.push_back(pair);
      } else {
        ::close(pair.Client);
        if (pair.Server >= 0) {
          ::close(pair.Server);
        }
      }
    }
    pairs_ = kept;
  }
}

}  // namespace vantor::test
