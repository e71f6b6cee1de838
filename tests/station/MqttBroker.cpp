#include "MqttBroker.h"

#include <arpa/inet.h>
#include <mosquitto.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QFile>
#include <algorithm>

#include "Eventually.h"

namespace vantor::test {

namespace {

constexpr int kBrokerWaitMs = 20000;

sockaddr_in Loopback(int port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(uint16_t(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return address;
}

}  // namespace

int FreePort() {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address = Loopback(0);
  socklen_t length = sizeof address;
  int port = 0;
  if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
      getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
    port = ntohs(address.sin_port);
  }
  close(fd);
  return port;
}

bool Accepts(int port) {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  const sockaddr_in address = Loopback(port);
  const bool ok = connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
  close(fd);
  return ok;
}

std::string MakeCertificate(const QString& certificate, const QString& key) {
  QProcess openssl;
  openssl.setProcessChannelMode(QProcess::MergedChannels);
  openssl.start(QStringLiteral("openssl"),
                {QStringLiteral("req"), QStringLiteral("-x509"), QStringLiteral("-newkey"),
                 QStringLiteral("rsa:2048"), QStringLiteral("-nodes"), QStringLiteral("-days"),
                 QStringLiteral("2"), QStringLiteral("-subj"), QStringLiteral("/CN=127.0.0.1"),
                 QStringLiteral("-addext"), QStringLiteral("subjectAltName=IP:127.0.0.1"),
                 QStringLiteral("-keyout"), key, QStringLiteral("-out"), certificate});
  if (!openssl.waitForFinished(kBrokerWaitMs) || openssl.exitCode() != 0) {
    return "openssl could not make a certificate: " + openssl.readAll().toStdString();
  }
  return {};
}

MqttBroker::MqttBroker(const Options& options) : port_(FreePort()) {
  QByteArray config = "listener " + QByteArray::number(port_) +
                      " 127.0.0.1\n"
                      "persistence false\n"
                      // Run as root (the test machine's user), it would switch
                      // to a user that cannot read the temporary directory.
                      "user root\n"
                      "log_dest stderr\n";
  if (options.Tls) {
    const QString key = dir_.filePath(QStringLiteral("key.pem"));
    tlsProblem_ = MakeCertificate(CaFile(), key);
    config += "certfile " + CaFile().toUtf8() + "\nkeyfile " + key.toUtf8() + "\n";
  }
  if (options.User.isEmpty()) {
    config += "allow_anonymous true\n";
  } else {
    const QString file = dir_.filePath(QStringLiteral("passwords"));
    QProcess::execute(
        QStringLiteral("/usr/bin/mosquitto_passwd"),
        {QStringLiteral("-c"), QStringLiteral("-b"), file, options.User, options.Password});
    config += "allow_anonymous false\npassword_file " + file.toUtf8() + "\n";
  }
  QFile out(dir_.filePath(QStringLiteral("mosquitto.conf")));
  if (out.open(QIODevice::WriteOnly)) {
    out.write(config);
  }
}

MqttBroker::~MqttBroker() {
  Kill();
}

std::string MqttBroker::Start() {
  EnsureApplication();
  if (!tlsProblem_.empty()) {
    return tlsProblem_;
  }
  Kill();
  process_ = std::make_unique<QProcess>();
  process_->setWorkingDirectory(dir_.path());
  process_->setProcessChannelMode(QProcess::ForwardedErrorChannel);
  // Should the test crash, the broker goes with it instead of holding the
  // test's output open.
  process_->setChildProcessModifier([] { prctl(PR_SET_PDEATHSIG, SIGKILL); });
  process_->start(QStringLiteral("/usr/sbin/mosquitto"),
                  {QStringLiteral("-c"), dir_.filePath(QStringLiteral("mosquitto.conf"))});
  if (!process_->waitForStarted(kBrokerWaitMs)) {
    return "mosquitto did not start: " + process_->errorString().toStdString();
  }
  const bool up = Eventually(
      [&] { return process_->state() != QProcess::Running || Accepts(port_); }, kBrokerWaitMs);
  if (process_->state() != QProcess::Running) {
    return "mosquitto ended at once on port " + std::to_string(port_);
  }
  return up ? std::string()
            : "mosquitto does not take connections on port " + std::to_string(port_);
}

void MqttBroker::Kill() {
  if (process_ && process_->state() != QProcess::NotRunning) {
    process_->kill();
    process_->waitForFinished(kBrokerWaitMs);
  }
  process_.reset();
}

MqttWatcher::MqttWatcher(int port, const std::string& id) : port_(port) {
  mosquitto_lib_init();
  mosq_ = mosquitto_new(id.c_str(), true, this);
  mosquitto_connect_callback_set(mosq_, &OnConnect);
  mosquitto_subscribe_callback_set(mosq_, &OnSubscribe);
  mosquitto_publish_callback_set(mosq_, &OnPublish);
  mosquitto_message_callback_set(mosq_, &OnMessage);
}

MqttWatcher::~MqttWatcher() {
  mosquitto_disconnect(mosq_);
  mosquitto_loop_stop(mosq_, false);
  mosquitto_destroy(mosq_);
}

bool MqttWatcher::Connect() {
  if (mosquitto_connect(mosq_, "127.0.0.1", port_, 30) != MOSQ_ERR_SUCCESS ||
      mosquitto_loop_start(mosq_) != MOSQ_ERR_SUCCESS) {
    return false;
  }
  return Eventually([&] {
    const std::lock_guard lock(mutex_);
    return connected_;
  });
}

bool MqttWatcher::Subscribe(const std::string& topic) {
  int mid = 0;
  if (mosquitto_subscribe(mosq_, &mid, topic.c_str(), 1) != MOSQ_ERR_SUCCESS) {
    return false;
  }
  return Eventually([&] {
    const std::lock_guard lock(mutex_);
    return std::find(acked_.begin(), acked_.end(), mid) != acked_.end();
  });
}

bool MqttWatcher::Publish(const std::string& topic, const std::string& payload, bool retained) {
  int mid = 0;
  if (mosquitto_publish(mosq_, &mid, topic.c_str(), int(payload.size()), payload.data(), 1,
                        retained) != MOSQ_ERR_SUCCESS) {
    return false;
  }
  return Eventually([&] {
    const std::lock_guard lock(mutex_);
    return std::find(acked_.begin(), acked_.end(), mid) != acked_.end();
  });
}

std::vector<MqttWatcher::Message> MqttWatcher::Messages() const {
  const std::lock_guard lock(mutex_);
  return messages_;
}

std::vector<std::string> MqttWatcher::Payloads(const std::string& topic) const {
  std::vector<std::string> payloads;
  for (const Message& m : Messages()) {
    if (m.Topic == topic) {
      payloads.push_back(m.Payload);
    }
  }
  return payloads;
}

bool MqttWatcher::Got(const std::string& topic, const std::string& payload) const {
  const std::vector<std::string> payloads = Payloads(topic);
  return std::find(payloads.begin(), payloads.end(), payload) != payloads.end();
}

void MqttWatcher::OnConnect(mosquitto*, void* obj, int rc) {
  auto& self = *static_cast<MqttWatcher*>(obj);
  const std::lock_guard lock(self.mutex_);
  self.connected_ = rc == 0;
}

void MqttWatcher::OnSubscribe(mosquitto*, void* obj, int mid, int, const int*) {
  auto& self = *static_cast<MqttWatcher*>(obj);
  const std::lock_guard lock(self.mutex_);
  self.acked_.push_back(mid);
}

void MqttWatcher::OnPublish(mosquitto*, void* obj, int mid) {
  auto& self = *static_cast<MqttWatcher*>(obj);
  const std::lock_guard lock(self.mutex_);
  self.acked_.push_back(mid);
}

void MqttWatcher::OnMessage(mosquitto*, void* obj, const mosquitto_message* message) {
  auto& self = *static_cast<MqttWatcher*>(obj);
  const std::lock_guard lock(self.mutex_);
  self.messages_.push_back(
      {message->topic,
       std::string(static_cast<const char*>(message->payload), size_t(message->payloadlen)),
       message->retain, message->qos});
}

void EnsureApplication() {
  if (QCoreApplication::instance() == nullptr) {
    static int argc = 1;
    static char name[] = "station_e2e";
    static char* argv[] = {name, nullptr};
    new QCoreApplication(argc, argv);
  }
}

}  // namespace vantor::test
