#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSet>
#include <cstring>

#include "HomeAssistant.h"
#include "Printable.h"

namespace vantor {
namespace {

InstrumentIdentity Identity(const char* serial) {
  InstrumentIdentity identity;
  identity.DeviceType = 7;
  std::memcpy(identity.DeviceData.data(), serial, std::strlen(serial));
  identity.Firmware = QStringLiteral("v2.14 ");
  return identity;
}

HaTopics Topics() {
  HaTopics topics;
  topics.StationId = TopicSafeId(QStringLiteral("vantor-station-lab"));
  topics.StationVersion = QStringLiteral("0.1");
  return topics;
}

QJsonObject Parse(const QByteArray& payload) {
  QJsonParseError error;
  const QJsonDocument document = QJsonDocument::fromJson(payload, &error);
  EXPECT_EQ(error.error, QJsonParseError::NoError) << payload.toStdString();
  return document.object();
}

struct IdCase {
  const char* Name;
  const char* Id;
};

void PrintTo(const IdCase& c, std::ostream* os) {
  *os << Printable(c.Name);
}

class TopicSafeIds : public ::testing::TestWithParam<IdCase> {};

TEST_P(TopicSafeIds, KeepWhatIsSafeAndEncodeTheRest) {
  EXPECT_EQ(TopicSafeId(QString::fromUtf8(GetParam().Name)).toStdString(), GetParam().Id);
}

INSTANTIATE_TEST_SUITE_P(Table, TopicSafeIds,
                         ::testing::Values(IdCase{"SN004711", "SN004711"},
                                           IdCase{"SN-4711", "SN-4711"}, IdCase{"SN.1", "SN_2e1"},
                                           IdCase{"SN_1", "SN_5f1"}, IdCase{"7:01a5", "7_3a01a5"},
                                           IdCase{"a/b+c#d e", "a_2fb_2bc_23d_20e"},
                                           IdCase{"µ", "_c2_b5"}));

TEST(HomeAssistantTopics, AreUnderTheBaseTopic) {
  const HaTopics topics = Topics();
  const HaInstrument instrument = DescribeInstrument(Identity("SN004711"));
  EXPECT_EQ(topics.State(instrument), "vantor/SN004711/state");
  EXPECT_EQ(topics.Availability(instrument), "vantor/SN004711/availability");
  EXPECT_EQ(topics.StationAvailability(), "vantor/station/vantor-station-lab/availability");
}

TEST(HomeAssistantDiscovery, MakesOneDeviceWithTheEntitiesHomeAssistantNeeds) {
  const HaTopics topics = Topics();
  const HaInstrument instrument = DescribeInstrument(Identity("SN004711"));
  const std::vector<MqttMessage> messages = DiscoveryMessages(topics, instrument);
  ASSERT_EQ(messages.size(), 7u);

  std::map<QString, QJsonObject> byTopic;
  QSet<QString> uniqueIds;
  for (const MqttMessage& message : messages) {
    EXPECT_TRUE(message.Retained);
    EXPECT_TRUE(message.Topic.startsWith(QLatin1String("homeassistant/")));
    EXPECT_TRUE(message.Topic.endsWith(QLatin1String("/config")));
    const QJsonObject config = Parse(message.Payload);
    byTopic[message.Topic] = config;
    uniqueIds.insert(config["unique_id"].toString());

    EXPECT_EQ(config["state_topic"].toString(), "vantor/SN004711/state");
    EXPECT_TRUE(config["value_template"].toString().contains(QLatin1String("value_json.")));
    EXPECT_EQ(config["availability_mode"].toString(), "all");
    const QJsonArray availability = config["availability"].toArray();
    ASSERT_EQ(availability.size(), 2);
    EXPECT_EQ(availability[0].toObject()["topic"].toString(),
              "vantor/station/vantor-station-lab/availability");
    EXPECT_EQ(availability[1].toObject()["topic"].toString(), "vantor/SN004711/availability");
    EXPECT_EQ(availability[1].toObject()["payload_available"].toString(), "online");

    const QJsonObject device = config["device"].toObject();
    EXPECT_EQ(device["identifiers"].toArray(), QJsonArray{"vantor_SN004711"});
    EXPECT_EQ(device["sw_version"].toString(), "v2.14");
    EXPECT_EQ(device["serial_number"].toString(), "SN004711");
    EXPECT_FALSE(device["model"].toString().isEmpty());
  }
  EXPECT_EQ(uniqueIds.size(), 7);

  const QJsonObject rate = byTopic["homeassistant/sensor/vantor_SN004711/dose_rate/config"];
  EXPECT_EQ(rate["unit_of_measurement"].toString(), QStringLiteral("µSv/h"));
  EXPECT_EQ(rate["state_class"].toString(), "measurement");
  EXPECT_FALSE(rate.contains("device_class"));  // Home Assistant has none for a dose rate
  EXPECT_EQ(rate["value_template"].toString(), "{{ value_json.dose_rate_usv_h }}");

  const QJsonObject dose = byTopic["homeassistant/sensor/vantor_SN004711/dose/config"];
  EXPECT_EQ(dose["unit_of_measurement"].toString(), QStringLiteral("µSv"));
  EXPECT_EQ(dose["state_class"].toString(), "total_increasing");

  const QJsonObject uncertainty =
      byTopic["homeassistant/sensor/vantor_SN004711/uncertainty/config"];
  EXPECT_EQ(uncertainty["unit_of_measurement"].toString(), "%");
  EXPECT_EQ(uncertainty["entity_category"].toString(), "diagnostic");

  for (int k = 1; k <= 3; ++k) {
    const QJsonObject alarm =
        byTopic[QStringLiteral("homeassistant/binary_sensor/vantor_SN004711/alarm_%1/config")
                    .arg(k)];
    EXPECT_EQ(alarm["device_class"].toString(), "safety") << k;
    EXPECT_TRUE(alarm["value_template"].toString().contains(QStringLiteral("alarm_%1").arg(k)));
  }
}

TEST(HomeAssistantDiscovery, IdsStayTheSameForTheSameInstrumentAndDifferForAnother) {
  const HaTopics topics = Topics();
  const auto ids = [&topics](const char* serial) {
    QStringList found;
    for (const MqttMessage& m : DiscoveryMessages(topics, DescribeInstrument(Identity(serial)))) {
      found << Parse(m.Payload)["unique_id"].toString();
    }
    return found;
  };
  EXPECT_EQ(ids("SN004711"), ids("SN004711"));
  const QStringList a = ids("SN004711");
  const QStringList b = ids("SN004712");
  for (const QString& id : a) {
    EXPECT_FALSE(b.contains(id));
  }
}

TEST(HomeAssistantState, CarriesTheReadingInItsUnits) {
  MeasurementRecord reading;
  reading.DoseRate = 0.12f;
  reading.DoseRateError = 15.3f;
  reading.Dose = 2.5f;
  reading.AccumulationTime = 3600;
  reading.ArchiveRecordCount = 12;
  reading.StatusFlags = 1;
  const QByteArray payload =
      StatePayload(reading, 1'765'440'438'250, {false, true, false}, QStringLiteral("COM3"));
  // The float's decimal, not its binary expansion.
  EXPECT_TRUE(payload.contains("\"dose_rate_usv_h\":0.12,")) << payload.toStdString();
  const QJsonObject state = Parse(payload);
  EXPECT_EQ(state["time"].toString(), "2025-12-11T08:07:18.250Z");
  EXPECT_DOUBLE_EQ(state["uncertainty_percent"].toDouble(), 15.3);
  EXPECT_DOUBLE_EQ(state["dose_usv"].toDouble(), 2.5);
  EXPECT_EQ(state["accumulation_s"].toInt(), 3600);
  EXPECT_EQ(state["archive_records"].toInt(), 12);
  EXPECT_TRUE(state["archive_full"].toBool());
  EXPECT_FALSE(state["alarm_1"].toBool());
  EXPECT_TRUE(state["alarm_2"].toBool());
  EXPECT_EQ(state["port"].toString(), "COM3");

  reading.MeasurementMode = 2;  // a flux: no dose rate to show
  const QJsonObject flux = Parse(StatePayload(reading, 0, {true, true, true}, "COM3"));
  EXPECT_TRUE(flux["dose_rate_usv_h"].isNull());
  EXPECT_TRUE(flux["uncertainty_percent"].isNull());
  EXPECT_FALSE(flux["alarm_1"].toBool());
  EXPECT_DOUBLE_EQ(flux["dose_usv"].toDouble(), 2.5);
}

}  // namespace
}  // namespace vantor
