#include "MqttClient.h"

#include <mosquitto.h>

#include <QMetaObject>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <future>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

namespace vantor {

namespace {

constexpr int kQos = 1;
// Closing as a whole never takes longer than this; the parts share it.
constexpr auto kCloseBound = std::chrono::milliseconds(1900);
constexpr auto kFlushBound = std::chrono::milliseconds(800);

void InitLibraryOnce() {
  static std::once_flag once;
  std::call_once(once, [] { mosquitto_lib_init(); });
}

// Errors after which the library's loop gives up instead of reconnecting.
bool EndsTheLoop(int rc) {
  switch (rc) {
    case MOSQ_ERR_NOMEM:
    case MOSQ_ERR_PROTOCOL:
    case MOSQ_ERR_INVAL:
    case MOSQ_ERR_NOT_FOUND:
    case MOSQ_ERR_TLS:
    case MOSQ_ERR_PAYLOAD_SIZE:
    case MOSQ_ERR_NOT_SUPPORTED:
    case MOSQ_ERR_AUTH:
    case MOSQ_ERR_ACL_DENIED:
    case MOSQ_ERR_UNKNOWN:
    case MOSQ_ERR_EAI:
    case MOSQ_ERR_PROXY:
      return true;
    default:
      return false;
  }
}

// Ends the library's loop and waits for its thread. Disconnecting once is
// not enough: an attempt the loop had just begun sets the state it looks at
// back, and the loop goes on; so it is said again until the thread is gone.
void StopLoop(mosquitto* mosq) {
  std::atomic_bool joined{false};
  std::thread joiner([&] {
    mosquitto_loop_stop(mosq, false);
    joined = true;
  });
  while (!joined) {
    mosquitto_disconnect(mosq);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  joiner.join();
}

QString ErrorText(int rc) {
  return QString::fromUtf8(mosquitto_strerror(rc));
}

}  // namespace

// What the library's thread and the owner share. The callbacks get this, not
// the QObject, so a callback late after the owner's end finds nobody to tell.
struct MqttClient::Core {
  MqttSettings settings;
  QString where;  // host:port, for the texts
  mosquitto* mosq = nullptr;

  std::mutex mutex;  // owner, subscriptions, told
  std::condition_variable changed;
  MqttClient* owner = nullptr;
  std::vector<std::string> subscriptions;
  bool told = false;  // the current run of failures has been told

  std::atomic_bool connected{false};
  std::atomic_bool closing{false};
  std::atomic_bool everConnected{false};
  std::atomic_bool refused{false};    // on_connect said why; on_disconnect adds nothing
  std::atomic_bool loopEnded{false};  // the library's loop said it gives up
  std::atomic_bool reviving{false};   // a new loop is being started
  // One at a time: starting a new loop, or closing.
  std::mutex loopMutex;
  std::atomic<uint64_t> published{0};
  std::atomic<uint64_t> dropped{0};
  std::atomic<uint64_t> reconnects{0};
  std::atomic<uint64_t> failures{0};
  std::atomic_int outstanding{0};

  ~Core() {
    if (mosq != nullptr) {
      mosquitto_destroy(mosq);
    }
  }

  // Runs `f` with the owner on the owner's thread, if there still is one.
  template <class F>
  void Tell(F f) {
    const std::lock_guard lock(mutex);
    if (owner != nullptr) {
      MqttClient* o = owner;
      QMetaObject::invokeMethod(
          o, [o, f = std::move(f)] { f(*o); }, Qt::QueuedConnection);
    }
  }

  void Fail(const QString& reason) {
    failures.fetch_add(1);
    bool tell = false;
    {
      const std::lock_guard lock(mutex);
      tell = !told;
      told = true;
    }
    if (tell) {
      Tell([reason](MqttClient& c) { emit c.Disconnected(reason); });
    }
  }

  // Wakes a waiting close; the lock makes sure it is waiting or has not
  // looked yet.
  void Changed() {
    { const std::lock_guard lock(mutex); }
    changed.notify_all();
  }

  static Core& Of(void* obj) { return *static_cast<Core*>(obj); }

  static void OnConnect(mosquitto* mosq, void* obj, int rc) {
    Core& core = Of(obj);
    if (rc != 0) {
      core.refused = true;
      core.Fail(QStringLiteral("%1 refused the connection: %2")
                    .arg(core.where, QString::fromUtf8(mosquitto_connack_string(rc))));
      return;
    }
    std::vector<std::string> topics;
    {
      const std::lock_guard lock(core.mutex);
      topics = core.subscriptions;
      core.told = false;
    }
    for (const std::string& topic : topics) {
      mosquitto_subscribe(mosq, nullptr, topic.c_str(), kQos);
    }
    if (core.everConnected.exchange(true)) {
      core.reconnects.fetch_add(1);
    }
    core.connected = true;
    core.Changed();
    core.Tell([](MqttClient& c) { emit c.Connected(); });
  }

  static void OnDisconnect(mosquitto*, void* obj, int rc) {
    Core& core = Of(obj);
    const bool was = core.connected.exchange(false);
    core.Changed();
    if (core.closing || rc == MOSQ_ERR_SUCCESS) {
      return;
    }
    if (!core.refused.exchange(false)) {
      core.Fail(was ? QStringLiteral("lost the connection to %1: %2").arg(core.where, ErrorText(rc))
                    : QStringLiteral("could not connect to %1: %2").arg(core.where, ErrorText(rc)));
    }
    if (EndsTheLoop(rc)) {
      core.LoopEnded();
    }
  }

  // A failed TLS handshake ends the library's loop with nothing but this
  // line (no disconnect callback): it is the reason, and the loop must be
  // started again.
  static void OnLog(mosquitto*, void* obj, int level, const char* text) {
    Core& core = Of(obj);
    if (level != MOSQ_LOG_ERR || core.connected || core.closing ||
        std::string_view(text).find("OpenSSL") == std::string_view::npos) {
      return;
    }
    core.Fail(QStringLiteral("no TLS connection with %1: %2")
                  .arg(core.where, QString::fromUtf8(text).trimmed()));
    core.LoopEnded();
  }

  void LoopEnded() { loopEnded = true; }

  // Stops what is left of the library's loop and starts a new one, on a
  // thread of its own: stopping waits for an attempt under way, and a
  // connection attempt to a silent host can take minutes.
  static void Revive(const std::shared_ptr<Core>& core) {
    if (core->reviving.exchange(true)) {
      return;
    }
    std::thread([core] {
      const std::lock_guard loop(core->loopMutex);
      if (!core->closing && !core->connected) {
        StopLoop(core->mosq);
        core->loopEnded = false;
        // As in Start: connecting first, the thread after.
        if (const int rc = mosquitto_reconnect_async(core->mosq); rc != MOSQ_ERR_SUCCESS) {
          core->Fail(QStringLiteral("could not connect to %1: %2").arg(core->where, ErrorText(rc)));
          core->LoopEnded();
        }
        if (mosquitto_loop_start(core->mosq) != MOSQ_ERR_SUCCESS) {
          core->Fail(QStringLiteral("cannot start the MQTT thread again for %1").arg(core->where));
          core->LoopEnded();
        }
      }
      core->reviving = false;
    }).detach();
  }

  static void OnPublish(mosquitto*, void* obj, int) {
    Core& core = Of(obj);
    const uint64_t total = core.published.fetch_add(1) + 1;
    // Never below zero, should the library ever confirm one twice.
    int now = core.outstanding.load();
    while (now > 0 && !core.outstanding.compare_exchange_weak(now, now - 1)) {
    }
    core.Changed();
    core.Tell([total](MqttClient& c) { emit c.Acknowledged(total); });
  }

  static void OnMessage(mosquitto*, void* obj, const mosquitto_message* message) {
    Core& core = Of(obj);
    QString topic = QString::fromUtf8(message->topic);
    QByteArray payload(static_cast<const char*>(message->payload), message->payloadlen);
    core.Tell([topic = std::move(topic), payload = std::move(payload)](MqttClient& c) {
      emit c.MessageReceived(topic, payload);
    });
  }

  // Hands one message to the library, counting it as outstanding first so
  // its acknowledgement can never come before the count.
  bool Send(const QString& topic, const QByteArray& payload, bool retained) {
    if (outstanding.fetch_add(1) >= settings.MaxOutstanding) {
      outstanding.fetch_sub(1);
      dropped.fetch_add(1);
      return false;
    }
    const QByteArray name = topic.toUtf8();
    const int rc = mosquitto_publish(mosq, nullptr, name.constData(), int(payload.size()),
                                     payload.constData(), kQos, retained);
    if (rc != MOSQ_ERR_SUCCESS) {
      outstanding.fetch_sub(1);
      dropped.fetch_add(1);
      return false;
    }
    return true;
  }
};

MqttClient::MqttClient(MqttSettings settings, QObject* parent)
    : QObject(parent), core_(std::make_shared<Core>()) {
  InitLibraryOnce();
  core_->settings = std::move(settings);
  core_->where = QStringLiteral("%1:%2").arg(core_->settings.Host).arg(core_->settings.Port);
  core_->owner = this;
}

MqttClient::~MqttClient() {
  Close(nullptr, nullptr, false);
}

std::optional<QString> MqttClient::Start() {
  if (started_ || closed_) {
    return QStringLiteral("the connection to %1 was started already").arg(core_->where);
  }
  const MqttSettings& s = core_->settings;
  if (s.ClientId.isEmpty()) {
    return QStringLiteral("no client id for %1").arg(core_->where);
  }
  const QByteArray id = s.ClientId.toUtf8();
  mosquitto* mosq = mosquitto_new(id.constData(), true, core_.get());
  if (mosq == nullptr) {
    return QStringLiteral("cannot make an MQTT client with the id %1").arg(s.ClientId);
  }
  core_->mosq = mosq;
  mosquitto_int_option(mosq, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V311);
  mosquitto_connect_callback_set(mosq, &Core::OnConnect);
  mosquitto_disconnect_callback_set(mosq, &Core::OnDisconnect);
  mosquitto_publish_callback_set(mosq, &Core::OnPublish);
  mosquitto_message_callback_set(mosq, &Core::OnMessage);
  mosquitto_log_callback_set(mosq, &Core::OnLog);
  mosquitto_reconnect_delay_set(mosq, unsigned(std::max(1, s.ReconnectMinSeconds)),
                                unsigned(std::max(s.ReconnectMinSeconds, s.ReconnectMaxSeconds)),
                                true);
  mosquitto_max_inflight_messages_set(mosq, unsigned(std::max(1, s.MaxOutstanding)));

  if (!s.User.isEmpty()) {
    const QByteArray user = s.User.toUtf8();
    const QByteArray password = s.Password.toUtf8();
    if (mosquitto_username_pw_set(mosq, user.constData(),
                                  s.Password.isEmpty() ? nullptr : password.constData()) !=
        MOSQ_ERR_SUCCESS) {
      return QStringLiteral("cannot use the user name %1 for %2").arg(s.User, core_->where);
    }
  }
  if (s.Tls) {
    const QByteArray caFile = s.CaFile.toUtf8();
    const int rc =
        s.CaFile.isEmpty()
            ? mosquitto_tls_set(mosq, nullptr, "/etc/ssl/certs", nullptr, nullptr, nullptr)
            : mosquitto_tls_set(mosq, caFile.constData(), nullptr, nullptr, nullptr, nullptr);
    if (rc != MOSQ_ERR_SUCCESS) {
      return QStringLiteral("cannot use the certificates %1 for %2: %3")
          .arg(s.CaFile.isEmpty() ? QStringLiteral("of the system") : s.CaFile, core_->where,
               ErrorText(rc));
    }
  }
  if (!s.WillTopic.isEmpty()) {
    const QByteArray topic = s.WillTopic.toUtf8();
    const int rc = mosquitto_will_set(mosq, topic.constData(), int(s.WillPayload.size()),
                                      s.WillPayload.constData(), kQos, s.WillRetained);
    if (rc != MOSQ_ERR_SUCCESS) {
      return QStringLiteral("cannot use %1 as the last will's topic: %2")
          .arg(s.WillTopic, ErrorText(rc));
    }
  }

  started_ = true;
  // Connecting before the thread runs: on loopback the TLS handshake may
  // start in this call, and must not meet the thread's.
  const QByteArray host = s.Host.toUtf8();
  const int rc = mosquitto_connect_async(mosq, host.constData(), s.Port, s.KeepAliveSeconds);
  if (rc != MOSQ_ERR_SUCCESS) {
    core_->Fail(QStringLiteral("could not connect to %1: %2").arg(core_->where, ErrorText(rc)));
    // Refused at once, the library's loop never tries again by itself.
    core_->LoopEnded();
  }
  const int loop = mosquitto_loop_start(mosq);
  if (loop != MOSQ_ERR_SUCCESS) {
    return QStringLiteral("cannot start the MQTT thread: %1").arg(ErrorText(loop));
  }
  watchdog_ = new QTimer(this);
  connect(watchdog_, &QTimer::timeout, this, &MqttClient::Watch);
  watchdog_->start(std::chrono::seconds(std::max(1, s.ReconnectMaxSeconds)));
  return std::nullopt;
}

void MqttClient::Watch() {
  if (closed_) {
    return;
  }
  downTicks_ = core_->connected ? 0 : downTicks_ + 1;
  // Given up, or down for three of the longest pauses (the loop may have
  // ended without a word: a refused TLS handshake can end it in more than
  // one way). A loop that was only waiting loses nothing but its pause.
  if (core_->loopEnded || downTicks_ >= 3) {
    downTicks_ = 0;
    Core::Revive(core_);
  }
}

bool MqttClient::IsConnected() const {
  return core_->connected;
}

bool MqttClient::Publish(const QString& topic, const QByteArray& payload, bool retained) {
  if (!started_ || closed_ || !core_->connected) {
    core_->dropped.fetch_add(1);
    return false;
  }
  return core_->Send(topic, payload, retained);
}

void MqttClient::Subscribe(const QString& topic) {
  const std::string name = topic.toStdString();
  {
    const std::lock_guard lock(core_->mutex);
    core_->subscriptions.push_back(name);
  }
  // Before the connection is up, the connection itself subscribes.
  if (started_ && !closed_ && core_->connected) {
    mosquitto_subscribe(core_->mosq, nullptr, name.c_str(), kQos);
  }
}

void MqttClient::PublishAndDisconnect(const QString& topic, const QByteArray& payload,
                                      bool retained) {
  Close(&topic, &payload, retained);
}

MqttCounters MqttClient::Counters() const {
  MqttCounters c;
  c.Published = core_->published;
  c.Dropped = core_->dropped;
  c.Reconnects = core_->reconnects;
  c.Failures = core_->failures;
  c.Outstanding = core_->outstanding;
  return c;
}

void MqttClient::Close(const QString* topic, const QByteArray* payload, bool retained) {
  if (closed_) {
    return;
  }
  closed_ = true;
  if (watchdog_ != nullptr) {
    watchdog_->stop();
  }
  {
    const std::lock_guard lock(core_->mutex);
    core_->owner = nullptr;
  }
  if (!started_) {
    return;
  }
  const bool flush =
      topic != nullptr && core_->connected && core_->Send(*topic, *payload, retained);
  core_->closing = true;

  // Stopping the loop waits for an attempt under way (a connection to a
  // silent host can take minutes): the stop runs on a thread of its own, and
  // when it takes too long it finishes there, holding the shared part alive.
  auto core = core_;
  auto finished = std::make_shared<std::promise<void>>();
  std::future<void> done = finished->get_future();
  std::thread stopper([core, flush, finished] {
    const auto deadline = std::chrono::steady_clock::now() + kCloseBound;
    {
      std::unique_lock lock(core->mutex);
      if (flush) {
        core->changed.wait_until(lock, std::chrono::steady_clock::now() + kFlushBound,
                                 [&] { return core->outstanding == 0 || !core->connected; });
      }
    }
    // After a new loop being started, if one is.
    const std::lock_guard loop(core->loopMutex);
    if (mosquitto_disconnect(core->mosq) == MOSQ_ERR_SUCCESS) {
      std::unique_lock lock(core->mutex);
      core->changed.wait_until(lock, deadline, [&] { return !core->connected; });
    }
    StopLoop(core->mosq);
    finished->set_value();
  });
  if (done.wait_for(kCloseBound + std::chrono::milliseconds(100)) == std::future_status::ready) {
    stopper.join();
  } else {
    stopper.detach();
  }
}

}  // namespace vantor
