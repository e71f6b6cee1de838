#pragma once
#include <QByteArray>
#include <QString>
#include <array>
#include <cstdint>
#include <optional>
#include <utility>
#include <vector>

#include "Metrics.h"

namespace vantor {

// What the status page and /api/instruments show of one instrument.
struct InstrumentStatus {
  InstrumentSnapshot Now;           // name, port, Up, Reading, ReadingMs, Alarms
  QString Serial, Model, Firmware;  // empty until identified (DescribeInstrument)
  // The link state, one of: "searching", "reading archive", "polling",
  // "not answering", "port gone".
  QString Link;
  int64_t LastSeenMs = 0;          // last answered poll, ms since 1970 UTC; 0: never
  std::array<double, 3> Levels{};  // the dose-rate thresholds, µSv/h (0: none)
  // Dose-rate readings of the last hour, oldest first (ms, µSv/h); at most
  // one a second.
  std::vector<std::pair<int64_t, double>> LastHour;
};

struct StationStatus {
  QString Version;
  QString HostName;
  int64_t NowMs = 0;
  int64_t StartedMs = 0;
  std::optional<bool> MqttConnected;  // none: no broker configured
  QString Broker;                     // MqttUrl::Redacted(), never a password
  std::optional<int64_t> HistoryPending;
  QString History;  // the history's place (no password)
};

enum class PageLanguage { English, Russian };

// The page's language: "?lang=ru|en" first, else the Accept-Language
// header's preference between the two, else English.
PageLanguage ChoosePageLanguage(const QString& langQuery, const QByteArray& acceptLanguage);

// The status page: one HTML5 document, UTF-8, nothing fetched from
// elsewhere (inline CSS and SVG, no scripts), refreshing itself every 5 s.
QByteArray RenderStatusPage(const std::vector<InstrumentStatus>& instruments,
                            const StationStatus& station, PageLanguage language);
inline constexpr const char* StatusPageContentType = "text/html; charset=utf-8";

// The same as JSON: {"station": {...}, "instruments": [...]}, times in
// ISO 8601 UTC, null where unknown.
QByteArray RenderInstrumentsJson(const std::vector<InstrumentStatus>& instruments,
                                 const StationStatus& station);
inline constexpr const char* InstrumentsJsonContentType = "application/json";

// Readings further apart than this are drawn with a gap between them.
inline constexpr int64_t SparklineGapMs = 5000;

// An inline SVG of the readings between fromMs and toMs: one path whose
// pieces ("M ... L ...") break where readings are missing, scaled from 0
// (or the least reading, when one is negative) to the greatest; constant
// readings draw a flat line halfway up. Empty when no reading falls in the
// period.
QString SparklineSvg(const std::vector<std::pair<int64_t, double>>& points, int64_t fromMs,
                     int64_t toMs);

}  // namespace vantor
