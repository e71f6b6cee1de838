#include "StationHttp.h"

#include <QHostAddress>
#include <QHttpServer>
#include <QHttpServerRequest>
#include <QHttpServerResponse>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <QUrlQuery>

#include "Metrics.h"

namespace vantor {

// Hands Qt HttpServer only connections within the bounds, and watches each
// for the length of its request in bytes and in time.
class BoundedTcpServer : public QTcpServer {
 public:
  using QTcpServer::QTcpServer;
  ~BoundedTcpServer() override {
    for (QTcpSocket* socket : findChildren<QTcpSocket*>()) {
      socket->disconnect(this);
    }
  }

  uint64_t Refused = 0;
  uint64_t Cut = 0;
  int Open = 0;

 protected:
  void incomingConnection(qintptr descriptor) override {
    auto* socket = new QTcpSocket(this);
    if (!socket->setSocketDescriptor(descriptor)) {
      delete socket;
      return;
    }
    if (Open >= StationHttp::MaxConnections) {
      ++Refused;
      socket->abort();
      socket->deleteLater();
      return;
    }
    ++Open;
    connect(socket, &QObject::destroyed, this, [this] { --Open; });
    auto* deadline = new QTimer(socket);
    deadline->setSingleShot(true);
    const QPointer<QTcpSocket> guarded(socket);
    const auto cut = [this, guarded] {
      if (guarded && guarded->state() != QAbstractSocket::UnconnectedState) {
        ++Cut;
        guarded->abort();
      }
    };
    connect(deadline, &QTimer::timeout, socket, cut);
    deadline->start(StationHttp::RequestTimeoutMs);
    // Connected before the server's own reader: it sees each piece before
    // the parser takes it in.
    auto received = std::make_shared<int64_t>(0);
    connect(socket, &QTcpSocket::readyRead, socket, [socket, received, cut] {
      *received += socket->bytesAvailable();
      if (*received > StationHttp::MaxRequestBytes) {
        cut();
      }
    });
    // An answer went out: the next request starts afresh.
    connect(socket, &QTcpSocket::bytesWritten, socket, [socket, received, deadline] {
      if (socket->bytesToWrite() == 0) {
        *received = 0;
        deadline->start(StationHttp::RequestTimeoutMs);
      }
    });
    connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
    addPendingConnection(socket);
  }
};

namespace {

bool Readable(const QHttpServerRequest& request) {
  return request.method() == QHttpServerRequest::Method::Get ||
         request.method() == QHttpServerRequest::Method::Head;
}

QHttpServerResponse NotAllowed() {
  QHttpServerResponse response("text/plain; charset=utf-8", "method not allowed\n",
                               QHttpServerResponse::StatusCode::MethodNotAllowed);
  response.setHeader("Allow", "GET, HEAD");
  return response;
}

QHttpServerResponse Answer(const QByteArray& type, const QByteArray& body) {
  QHttpServerResponse response(type, body);
  response.setHeader("Cache-Control", "no-store");
  response.setHeader("X-Content-Type-Options", "nosniff");
  return response;
}

}  // namespace

StationHttp::StationHttp(Pages pages, QObject* parent)
    : QObject(parent), pages_(std::move(pages)), server_(std::make_unique<QHttpServer>()) {
  server_->route("/metrics", [this](const QHttpServerRequest& request) {
    if (!Readable(request)) {
      return NotAllowed();
    }
    return Answer(MetricsContentType, pages_.Metrics());
  });
  server_->route("/api/instruments", [this](const QHttpServerRequest& request) {
    if (!Readable(request)) {
      return NotAllowed();
    }
    return Answer("application/json", pages_.Instruments());
  });
  server_->route("/", [this](const QHttpServerRequest& request) {
    if (!Readable(request)) {
      return NotAllowed();
    }
    QHttpServerResponse response =
        Answer("text/html; charset=utf-8",
               pages_.Status(request.query().queryItemValue(QStringLiteral("lang")),
                             request.value("Accept-Language")));
    // Everything is in the page itself: nothing from elsewhere may load.
    response.setHeader("Content-Security-Policy",
                       "default-src 'none'; style-src 'unsafe-inline'; img-src data:");
    return response;
  });
  server_->afterRequest([](QHttpServerResponse&& response) {
    response.setHeader("Server", "vantor-station");
    return std::move(response);
  });
}

StationHttp::~StationHttp() = default;

std::optional<QString> StationHttp::Listen(const QString& host, int port) {
  QHostAddress address;
  if (host == QLatin1String("localhost")) {
    address = QHostAddress(QHostAddress::LocalHost);
  } else if (!address.setAddress(host)) {
    return QStringLiteral("cannot listen on %1: not an IP address").arg(host);
  }
  auto* tcp = new BoundedTcpServer();
  tcp->setMaxPendingConnections(MaxConnections);
  if (!tcp->listen(address, static_cast<quint16>(port))) {
    const QString why = tcp->errorString();
    delete tcp;
    return QStringLiteral("cannot listen on %1:%2: %3").arg(host).arg(port).arg(why);
  }
  server_->bind(tcp);  // it takes the server as its child
  tcp_ = tcp;
  return std::nullopt;
}

quint16 StationHttp::Port() const {
  return tcp_ != nullptr ? tcp_->serverPort() : 0;
}

uint64_t StationHttp::Refused() const {
  return tcp_ != nullptr ? tcp_->Refused : 0;
}

uint64_t StationHttp::Cut() const {
  return tcp_ != nullptr ? tcp_->Cut : 0;
}

}  // namespace vantor
