#pragma once
#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QTemporaryDir>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

struct mosquitto;
struct mosquitto_message;

namespace vantor::test {

// A mosquitto broker of the test's own: a temporary directory, a free port
// on loopback, nothing kept between runs. It can be killed and started again
// on the same port, empty.
class MqttBroker {
 public:
  struct Options {
    // With a user, only that user with that password gets in.
    QString User;
    QString Password;
    // mqtts only, with a certificate for 127.0.0.1 that CaFile() vouches for.
    bool Tls = false;
  };
  MqttBroker() : MqttBroker(Options()) {}
  explicit MqttBroker(const Options& options);
  ~MqttBroker();
  MqttBroker(const MqttBroker&) = delete;
  MqttBroker& operator=(const MqttBroker&) = delete;

  // Starts it and waits until it takes connections; the reason it did not.
  std::string Start();
  // SIGKILL, as a crash or a pulled cable would look to the clients.
  void Kill();
  int Port() const { return port_; }
  QString Dir() const { return dir_.path(); }
  QString CaFile() const { return dir_.filePath(QStringLiteral("ca.pem")); }

 private:
  QTemporaryDir dir_;
  int port_ = 0;
  std::string tlsProblem_;
  std::unique_ptr<QProcess> process_;
};

// Makes a self-signed certificate for 127.0.0.1 (its own authority) and its
// key; the reason it could not.
std::string MakeCertificate(const QString& certificate, const QString& key);

// A port on loopback nobody listens on (when the call returns).
int FreePort();
// True once something accepts TCP connections on loopback at `port`.
bool Accepts(int port);

// A second client straight on libmosquitto, to watch what the broker
// delivers (and to send it something) without the client under test.
class MqttWatcher {
 public:
  struct Message {
    std::string Topic;
    std::string Payload;
    bool Retained = false;
    int Qos = 0;
  };

  MqttWatcher(int port, const std::string& id);
  ~MqttWatcher();
  MqttWatcher(const MqttWatcher&) = delete;
  MqttWatcher& operator=(const MqttWatcher&) = delete;

  // Each waits (bounded) for the broker's answer.
  bool Connect();
  bool Subscribe(const std::string& topic);
  bool Publish(const std::string& topic, const std::string& payload, bool retained = false);

  std::vector<Message> Messages() const;
  std::vector<std::string> Payloads(const std::string& topic) const;
  bool Got(const std::string& topic, const std::string& payload) const;

 private:
  static void OnConnect(mosquitto*, void* obj, int rc);
  static void OnSubscribe(mosquitto*, void* obj, int mid, int, const int*);
  static void OnPublish(mosquitto*, void* obj, int mid);
  static void OnMessage(mosquitto*, void* obj, const mosquitto_message* message);

  int port_;
  mosquitto* mosq_ = nullptr;
  mutable std::mutex mutex_;
  bool connected_ = false;
  std::vector<int> acked_;  // subscriptions and publishes the broker answered
  std::vector<Message> messages_;
};

// Makes sure a QCoreApplication exists for the queued signals.
void EnsureApplication();

}  // namespace vantor::test
