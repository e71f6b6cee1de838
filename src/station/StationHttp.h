#pragma once
#include <QByteArray>
#include <QObject>
#include <QString>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

class QHttpServer;

namespace vantor {

class BoundedTcpServer;

// The station's read-only web server: /metrics, / and /api/instruments,
// through Qt HttpServer. Every other path is 404 and every method but GET
// and HEAD 405. Clients are bounded, so a hostile or broken one cannot hold
// the station: a request (its headers included) may take at most
// MaxRequestBytes and must be whole within RequestTimeoutMs of its first
// byte or of the last answer on its connection (an idle keep-alive counts
// too); beyond MaxConnections a new connection is closed at once.
class StationHttp : public QObject {
  Q_OBJECT

 public:
  static constexpr int MaxConnections = 64;
  static constexpr int64_t MaxRequestBytes = 16 * 1024;
  static constexpr int RequestTimeoutMs = 10000;

  struct Pages {
    std::function<QByteArray()> Metrics;
    // The status page in the language the query (?lang=) and the
    // Accept-Language header ask for.
    std::function<QByteArray(const QString& lang, const QByteArray& acceptLanguage)> Status;
    std::function<QByteArray()> Instruments;
  };

  explicit StationHttp(Pages pages, QObject* parent = nullptr);
  ~StationHttp() override;

  // The mistake when the address cannot be listened on. Port 0: any free one.
  std::optional<QString> Listen(const QString& host, int port);
  quint16 Port() const;

  // Connections closed unserved: refused over the limit, and cut for a
  // request too long in bytes or in time.
  uint64_t Refused() const;
  uint64_t Cut() const;

 private:
  Pages pages_;
  std::unique_ptr<QHttpServer> server_;
  BoundedTcpServer* tcp_ = nullptr;  // the server's child
};

}  // namespace vantor
