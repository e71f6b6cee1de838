#pragma once
#include <QByteArray>
#include <QString>
#include <array>
#include <cstdint>
#include <vector>

#include "HistoryTypes.h"
#include "ValueStorage.h"

namespace vantor {

// The station's topics, under the base topic (default "vantor"):
//   <base>/<instrument>/state          the latest reading, JSON, not retained
//   <base>/<instrument>/availability   "online" / "offline", retained
//   <base>/station/<station>/availability
//                                      the station itself, retained; the
//                                      broker's last will says "offline"
// and Home Assistant's discovery configs (retained) under the discovery
// prefix (default "homeassistant"):
//   <prefix>/sensor/vantor_<instrument>/<entity>/config
//   <prefix>/binary_sensor/vantor_<instrument>/alarm_<k>/config

inline constexpr const char* OnlinePayload = "online";
inline constexpr const char* OfflinePayload = "offline";

// A name as one level of a topic and as part of an id: letters, digits and
// '-' as they are, every other byte of its UTF-8 as _ and two hex digits
// ("SN.1" -> "SN_2e1", "7:01a5" -> "7_3a01a5"). Two names never share one,
// and none holds + # / or a blank.
QString TopicSafeId(const QString& name);

// What the discovery configs say of one instrument.
struct HaInstrument {
  QString Id;  // TopicSafeId of its name
  QString Name;
  QString Serial;  // may be empty
  QString Model;
  QString Firmware;
};
HaInstrument DescribeInstrument(const InstrumentIdentity& identity);

struct HaTopics {
  QString Base = QStringLiteral("vantor");
  QString DiscoveryPrefix = QStringLiteral("homeassistant");
  QString StationId;  // TopicSafeId of the station's client id
  QString StationVersion;

  QString State(const HaInstrument& instrument) const;
  QString Availability(const HaInstrument& instrument) const;
  QString StationAvailability() const;
};

struct MqttMessage {
  QString Topic;
  QByteArray Payload;
  bool Retained = false;
};

// The retained discovery configs of one instrument: dose rate, dose,
// uncertainty and accumulation time sensors, one safety binary sensor per
// alarm threshold, all of one device, all available only while both the
// station and the instrument are.
std::vector<MqttMessage> DiscoveryMessages(const HaTopics& topics, const HaInstrument& instrument);
// The same topics with empty retained payloads: Home Assistant forgets them.
std::vector<MqttMessage> DiscoveryRemovals(const HaTopics& topics, const HaInstrument& instrument);

// The state JSON of one reading: time (ISO 8601 UTC, to the millisecond), dose_rate_usv_h,
// uncertainty_percent (both null in the flux modes), dose_usv,
// accumulation_s, alarm_1..alarm_3, archive_records, archive_full, port.
QByteArray StatePayload(const MeasurementRecord& reading, int64_t atMs,
                        const std::array<bool, 3>& alarms, const QString& port);

}  // namespace vantor
