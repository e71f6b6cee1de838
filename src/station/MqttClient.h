#pragma once
#include <QByteArray>
#include <QObject>
#include <QString>
#include <cstdint>
#include <memory>
#include <optional>

class QTimer;

namespace vantor {

// Where and as whom the station talks to its broker.
struct MqttSettings {
  QString Host = QStringLiteral("localhost");
  int Port = 1883;
  QString User;      // empty: no login
  QString Password;  // never shown in any text the client gives out
  bool Tls = false;  // mqtts
  QString CaFile;    // empty with Tls: the system's certificates
  QString ClientId;  // the caller's, unique per station
  // Set before connecting; the broker sends it (QoS 1) when the station
  // goes away without a clean disconnect.
  QString WillTopic;  // empty: no will
  QByteArray WillPayload;
  bool WillRetained = true;
  int KeepAliveSeconds = 30;
  // Reconnection waits grow from the first to the last, then stay there.
  int ReconnectMinSeconds = 1;
  int ReconnectMaxSeconds = 60;
  // Messages handed to the library whose acknowledgement has not come yet;
  // a publish beyond this is dropped, so a stalled broker costs no memory.
  int MaxOutstanding = 200;
};

// What the client has done so far, for the metrics.
struct MqttCounters {
  uint64_t Published = 0;   // acknowledged by the broker
  uint64_t Dropped = 0;     // not sent: not connected, closing, or too many outstanding
  uint64_t Reconnects = 0;  // successful connections after the first
  uint64_t Failures = 0;    // connections lost or refused
  int Outstanding = 0;      // sent, acknowledgement not in yet
};

// The station's connection to an MQTT broker. The network runs on the
// library's own thread; nothing here waits for the network except closing,
// which is bounded. Everything the client tells arrives on the thread that
// made it, queued.
//
// After each (re)connection the client subscribes again to every topic it
// was asked for, then emits Connected: the owner publishes there again what
// it keeps retained (availability, discovery). Messages published while not
// connected are dropped and counted, never kept for later.
//
// Closing: the broker sends the will only when the connection dies, not on a
// clean disconnect, so the owner ends with PublishAndDisconnect(availability
// topic, "offline"); destroying the client without it disconnects cleanly and
// leaves the last retained availability as it was.
class MqttClient : public QObject {
  Q_OBJECT

 public:
  explicit MqttClient(MqttSettings settings, QObject* parent = nullptr);
  // Disconnects cleanly (unless PublishAndDisconnect did) within 2 s.
  ~MqttClient() override;
  MqttClient(const MqttClient&) = delete;
  MqttClient& operator=(const MqttClient&) = delete;

  // Starts connecting and keeps at it. Nothing on failure to reach the
  // broker (that is told by Disconnected and retried); the mistake when the
  // settings cannot be used (a TLS file that cannot be read, a bad id).
  // The host's name is looked up here.
  std::optional<QString> Start();

  bool IsConnected() const;
  // Hands a QoS 1 message to the network; false when it was dropped.
  bool Publish(const QString& topic, const QByteArray& payload, bool retained);
  // Remembered for every later connection too.
  void Subscribe(const QString& topic);
  // Publishes a last message, waits (bounded) for the broker to take it,
  // then disconnects cleanly. Nothing is published or told afterwards.
  void PublishAndDisconnect(const QString& topic, const QByteArray& payload, bool retained);

  MqttCounters Counters() const;

 signals:
  void Connected();
  // The first failure after a success (or before the first one); later
  // failures are only counted until the next connection.
  void Disconnected(const QString& reason);
  void MessageReceived(const QString& topic, const QByteArray& payload);
  // The broker acknowledged a message; `published` is the total so far.
  void Acknowledged(quint64 published);

 public:
  struct Core;

 private:
  void Close(const QString* topic, const QByteArray* payload, bool retained);
  // Starts the library's loop again when it is known or suspected to have
  // given up.
  void Watch();

  std::shared_ptr<Core> core_;
  bool started_ = false;
  bool closed_ = false;
  QTimer* watchdog_ = nullptr;
  int downTicks_ = 0;
};

}  // namespace vantor
