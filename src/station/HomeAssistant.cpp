#include "HomeAssistant.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTimeZone>

#include "ArchiveIdentity.h"
#include "Metrics.h"
#include "Scaling.h"

namespace vantor {

namespace {

const QString Sensor = QStringLiteral("sensor");
const QString BinarySensor = QStringLiteral("binary_sensor");

struct Entity {
  QString Component;
  QString Key;  // the entity's part of ids and topics
  QString Name;
  QJsonObject Fields;
};

std::vector<Entity> Entities() {
  std::vector<Entity> entities = {
      {Sensor,
       QStringLiteral("dose_rate"),
       QStringLiteral("Dose rate"),
       {{"unit_of_measurement", QStringLiteral("µSv/h")},
        {"state_class", "measurement"},
        {"icon", "mdi:radioactive"},
        {"value_template", "{{ value_json.dose_rate_usv_h }}"}}},
      {Sensor,
       QStringLiteral("dose"),
       QStringLiteral("Dose"),
       {{"unit_of_measurement", QStringLiteral("µSv")},
        {"state_class", "total_increasing"},
        {"icon", "mdi:radioactive"},
        {"value_template", "{{ value_json.dose_usv }}"}}},
      {Sensor,
       QStringLiteral("uncertainty"),
       QStringLiteral("Dose rate uncertainty"),
       {{"unit_of_measurement", "%"},
        {"state_class", "measurement"},
        {"entity_category", "diagnostic"},
        {"value_template", "{{ value_json.uncertainty_percent }}"}}},
      {Sensor,
       QStringLiteral("accumulation"),
       QStringLiteral("Accumulation time"),
       {{"unit_of_measurement", "s"},
        {"device_class", "duration"},
        {"state_class", "measurement"},
        {"entity_category", "diagnostic"},
        {"value_template", "{{ value_json.accumulation_s }}"}}},
  };
  for (int k = 1; k <= 3; ++k) {
    entities.push_back({BinarySensor,
                        QStringLiteral("alarm_%1").arg(k),
                        QStringLiteral("Dose rate alarm %1").arg(k),
                        {{"device_class", "safety"},
                         {"payload_on", "ON"},
                         {"payload_off", "OFF"},
                         {"value_template",
                          QStringLiteral("{{ 'ON' if value_json.alarm_%1 else 'OFF' }}").arg(k)}}});
  }
  return entities;
}

QString ConfigTopic(const HaTopics& topics, const HaInstrument& instrument, const Entity& entity) {
  return QStringLiteral("%1/%2/vantor_%3/%4/config")
      .arg(topics.DiscoveryPrefix, entity.Component, instrument.Id, entity.Key);
}

QJsonObject AvailabilityEntry(const QString& topic) {
  return {{"topic", topic},
          {"payload_available", OnlinePayload},
          {"payload_not_available", OfflinePayload}};
}

// A float reading as JSON: its shortest decimal, not the float's binary tail.
QJsonValue Decimal(float value) {
  return QJsonValue(ScaledDecimal(value, 0));
}

}  // namespace

QString TopicSafeId(const QString& name) {
  QString id;
  for (const char c : name.toUtf8()) {
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-') {
      id += QLatin1Char(c);
    } else {
      id += QStringLiteral("_%1").arg(static_cast<uint8_t>(c), 2, 16, QLatin1Char('0'));
    }
  }
  return id;
}

HaInstrument DescribeInstrument(const InstrumentIdentity& identity) {
  HaInstrument instrument;
  instrument.Name = InstrumentName(identity);
  instrument.Id = TopicSafeId(instrument.Name);
  instrument.Serial = SerialText(identity.DeviceData);
  instrument.Model = QStringLiteral("Dosimeter type %1").arg(identity.DeviceType);
  instrument.Firmware = identity.Firmware.trimmed();
  return instrument;
}

QString HaTopics::State(const HaInstrument& instrument) const {
  return Base + '/' + instrument.Id + QStringLiteral("/state");
}

QString HaTopics::Availability(const HaInstrument& instrument) const {
  return Base + '/' + instrument.Id + QStringLiteral("/availability");
}

QString HaTopics::StationAvailability() const {
  return Base + QStringLiteral("/station/") + StationId + QStringLiteral("/availability");
}

std::vector<MqttMessage> DiscoveryMessages(const HaTopics& topics, const HaInstrument& instrument) {
  QJsonObject device{{"identifiers", QJsonArray{QStringLiteral("vantor_") + instrument.Id}},
                     {"name", QStringLiteral("Dosimeter ") + instrument.Name},
                     {"model", instrument.Model}};
  if (!instrument.Firmware.isEmpty()) {
    device.insert("sw_version", instrument.Firmware);
  }
  if (!instrument.Serial.isEmpty()) {
    device.insert("serial_number", instrument.Serial);
  }
  const QJsonObject origin{{"name", "vantor-station"}, {"sw_version", topics.StationVersion}};
  const QJsonArray availability{AvailabilityEntry(topics.StationAvailability()),
                                AvailabilityEntry(topics.Availability(instrument))};

  std::vector<MqttMessage> messages;
  for (const Entity& entity : Entities()) {
    QJsonObject config = entity.Fields;
    config.insert("name", entity.Name);
    config.insert("unique_id", QStringLiteral("vantor_%1_%2").arg(instrument.Id, entity.Key));
    config.insert("state_topic", topics.State(instrument));
    config.insert("availability", availability);
    config.insert("availability_mode", "all");
    config.insert("device", device);
    config.insert("origin", origin);
    messages.push_back({ConfigTopic(topics, instrument, entity),
                        QJsonDocument(config).toJson(QJsonDocument::Compact), true});
  }
  return messages;
}

std::vector<MqttMessage> DiscoveryRemovals(const HaTopics& topics, const HaInstrument& instrument) {
  std::vector<MqttMessage> messages;
  for (const Entity& entity : Entities()) {
    messages.push_back({ConfigTopic(topics, instrument, entity), QByteArray(), true});
  }
  return messages;
}

QByteArray StatePayload(const MeasurementRecord& reading, int64_t atMs,
                        const std::array<bool, 3>& alarms, const QString& port) {
  const bool flux = IsFluxMode(reading.MeasurementMode & 0xFF);
  QJsonObject state{
      {"time", QDateTime::fromMSecsSinceEpoch(atMs, Qt::UTC).toString(Qt::ISODateWithMs)},
      {"dose_rate_usv_h", flux ? QJsonValue(QJsonValue::Null) : Decimal(reading.DoseRate)},
      {"uncertainty_percent", flux ? QJsonValue(QJsonValue::Null) : Decimal(reading.DoseRateError)},
      {"dose_usv", Decimal(reading.Dose)},
      {"accumulation_s", static_cast<qint64>(reading.AccumulationTime)},
      {"archive_records", static_cast<qint64>(reading.ArchiveRecordCount)},
      {"archive_full", (reading.StatusFlags & 1) != 0},
      {"port", port},
  };
  for (int k = 0; k < 3; ++k) {
    state.insert(QStringLiteral("alarm_%1").arg(k + 1), !flux && alarms[k]);
  }
  return QJsonDocument(state).toJson(QJsonDocument::Compact);
}

}  // namespace vantor
