#include "StatusPage.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QList>
#include <QRegularExpression>
#include <algorithm>
#include <cmath>
#include <iterator>

#include "MessageTable.h"
#include "NumberText.h"
#include "Scaling.h"

namespace vantor {

namespace {

// The page's own texts; the instrument's words come from the program's
// message table so the page says what the program says.
enum PageText {
  TextTitle,
  TextVersion,
  TextUptime,
  TextConnected,
  TextNotConnected,
  TextConnectedTo,
  TextNotConnectedTo,
  TextNotConfigured,
  TextHistory,
  TextPending,
  TextNotKept,
  TextLink,
  TextAlarms,
  TextThreshold,
  TextNotSet,
  TextClear,
  TextRaised,
  TextNoAlarmsInMode,
  TextNever,
  TextSecondsAgo,
  TextMinutesAgo,
  TextHoursAgo,
  TextDaysAgo,
  TextNoReadings,
  TextNoInstruments,
  TextRefreshes,
  TextDays,
  TextHours,
  TextMinutes,
  TextSeconds,
  TextSearching,
  TextReadingArchive,
  TextPolling,
  TextNotAnswering,
  TextPortGone,
  TextMaximum,
  TextCount,
};

struct TextPair {
  const char* Russian;
  const char* English;
};

// clang-format off
const TextPair PageTexts[] = {
    {"Станция vantor", "vantor station"},
    {"Версия", "Version"},
    {"Работает", "Running for"},
    {"подключена", "connected"},
    {"нет связи", "not connected"},
    {"подключена к %1", "connected to %1"},
    {"нет связи с %1", "not connected to %1"},
    {"не настроена", "not configured"},
    {"История", "History"},
    {"в очереди: %1", "%1 pending"},
    {"не ведётся", "not kept"},
    {"Связь", "Link"},
    {"Пороги", "Alarms"},
    {"Порог %1", "Threshold %1"},
    {"не задан", "not set"},
    {"норма", "clear"},
    {"превышен", "raised"},
    {"в этом режиме порогов нет", "no alarms in this mode"},
    {"никогда", "never"},
    {"%1 с назад", "%1 s ago"},
    {"%1 мин назад", "%1 min ago"},
    {"%1 ч назад", "%1 h ago"},
    {"%1 дн. назад", "%1 d ago"},
    {"Нет измерений за последний час", "No readings in the last hour"},
    {"Приборы пока не найдены", "No instrument found yet"},
    {"Страница обновляется каждые 5 с", "The page refreshes every 5 s"},
    {"д", "d"},
    {"ч", "h"},
    {"мин", "min"},
    {"с", "s"},
    {"поиск прибора", "searching"},
    {"чтение архива", "reading archive"},
    {"опрос", "polling"},
    {"не отвечает", "not answering"},
    {"порт пропал", "port gone"},
    {"макс.", "max"},
};
// clang-format on
static_assert(std::size(PageTexts) == TextCount);

// The message table's index: 0 Russian, 1 English.
uint8_t TableLanguage(PageLanguage language) {
  return language == PageLanguage::Russian ? 0 : 1;
}

struct Texts {
  PageLanguage Language;

  QString operator()(PageText text) const {
    const TextPair& pair = PageTexts[text];
    return QString::fromUtf8(Language == PageLanguage::Russian ? pair.Russian : pair.English);
  }
  // A row of the program's table, without the blanks some rows end in.
  QString Row(int row) const { return MessageText(row, TableLanguage(Language)).trimmed(); }
  QString Unit(int mode, int prefix) const {
    return QString::fromUtf8(DoseRateUnit(mode, prefix, TableLanguage(Language)));
  }
};

QString Html(const QString& text) {
  QString out;
  out.reserve(text.size());
  for (const QChar c : text) {
    switch (c.unicode()) {
      case '&':
        out += QLatin1String("&amp;");
        break;
      case '<':
        out += QLatin1String("&lt;");
        break;
      case '>':
        out += QLatin1String("&gt;");
        break;
      case '"':
        out += QLatin1String("&quot;");
        break;
      case '\'':
        out += QLatin1String("&#39;");
        break;
      default:
        // Control characters from a device have no business in a page.
        out += c.unicode() < 0x20 && c != QLatin1Char('\n') ? QChar(0xFFFD) : c;
    }
  }
  return out;
}

// A URL's password as ***, whatever the caller forgot; other texts as they
// are. By hand rather than QUrl, which refuses the '@' a careless password
// may hold and would leave it whole.
QString WithoutPassword(const QString& given) {
  // libpq also takes the password as a parameter: ...?password=...
  static const QRegularExpression parameter(QStringLiteral("([?&]password=)[^&]*"),
                                            QRegularExpression::CaseInsensitiveOption);
  QString text = given;
  text.replace(parameter, QStringLiteral("\\1***"));
  const qsizetype scheme = text.indexOf(QLatin1String("://"));
  if (scheme < 0) {
    return text;
  }
  const qsizetype start = scheme + 3;
  qsizetype end = text.indexOf(QLatin1Char('/'), start);
  end = end < 0 ? text.size() : end;
  const qsizetype at = text.lastIndexOf(QLatin1Char('@'), end - 1);
  if (at < start) {
    return text;
  }
  const qsizetype colon = text.indexOf(QLatin1Char(':'), start);
  if (colon < 0 || colon > at) {
    return text;
  }
  return text.left(colon + 1) + QLatin1String("***") + text.mid(at);
}

bool IsFlux(const InstrumentStatus& instrument) {
  return IsFluxMode(instrument.Now.Reading.MeasurementMode & 0xFF);
}

int Mode(const InstrumentStatus& instrument) {
  return ClampMeasurementMode(instrument.Now.Reading.MeasurementMode & 0xFF);
}

QString LocalTimeText(int64_t ms) {
  return QDateTime::fromMSecsSinceEpoch(ms).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}

QString IsoTime(int64_t ms) {
  return QDateTime::fromMSecsSinceEpoch(ms, Qt::UTC).toString(Qt::ISODate);
}

QString AgoText(const Texts& tr, int64_t ms) {
  const int64_t seconds = std::max<int64_t>(0, ms / 1000);
  if (seconds < 120) {
    return tr(TextSecondsAgo).arg(seconds);
  }
  if (seconds < 2 * 3600) {
    return tr(TextMinutesAgo).arg(seconds / 60);
  }
  if (seconds < 2 * 86400) {
    return tr(TextHoursAgo).arg(seconds / 3600);
  }
  return tr(TextDaysAgo).arg(seconds / 86400);
}

QString DurationText(const Texts& tr, int64_t ms) {
  const int64_t seconds = std::max<int64_t>(0, ms / 1000);
  const int64_t days = seconds / 86400;
  const int64_t hours = seconds % 86400 / 3600;
  const int64_t minutes = seconds % 3600 / 60;
  const auto part = [&tr](int64_t n, PageText unit) {
    return QString::number(n) + QLatin1Char(' ') + tr(unit);
  };
  if (days > 0) {
    return part(days, TextDays) + QLatin1Char(' ') + part(hours, TextHours);
  }
  if (hours > 0) {
    return part(hours, TextHours) + QLatin1Char(' ') + part(minutes, TextMinutes);
  }
  if (minutes > 0) {
    return part(minutes, TextMinutes);
  }
  return part(seconds, TextSeconds);
}

const QString NoValue = QStringLiteral("—");

// A reading with its unit as the live tab writes it: scaled by magnitude in
// the dose modes, as it is (with the same decimals) in the flux modes, whose
// unit has no prefix.
QString ValueText(const Texts& tr, float value, int mode) {
  const ScaledValue s = ScaleReading(value);
  if (!s.Finite) {
    return NoValue;
  }
  if (IsFluxMode(mode)) {
    return FormatFixed(value, s.PrefixIndex == 0 ? s.Decimals : 0) + QLatin1Char(' ') +
           tr.Unit(mode, 0);
  }
  return FormatFixed(s.Value, s.Decimals) + QLatin1Char(' ') + tr.Unit(mode, s.PrefixIndex);
}

QString RateText(const Texts& tr, const InstrumentStatus& instrument) {
  QString text = ValueText(tr, instrument.Now.Reading.DoseRate, Mode(instrument));
  const float error = instrument.Now.Reading.DoseRateError;
  if (IsFlux(instrument) || text == NoValue) {
    return text;
  }
  if (std::isfinite(error)) {
    text += QStringLiteral(" ± ") + FormatFixed(error, 0) + QStringLiteral(" %");
  }
  return text;
}

QString DoseText(const Texts& tr, float dose) {
  const ScaledValue s = ScaleReading(dose);
  if (!s.Finite) {
    return NoValue;
  }
  return FormatFixed(s.Value, s.Decimals) + QLatin1Char(' ') + tr.Row(RowDoseUnit + s.PrefixIndex);
}

QString LinkText(const Texts& tr, const QString& link) {
  static const std::pair<const char*, PageText> known[] = {
      {"searching", TextSearching}, {"reading archive", TextReadingArchive},
      {"polling", TextPolling},     {"not answering", TextNotAnswering},
      {"port gone", TextPortGone},
  };
  for (const auto& [key, text] : known) {
    if (link == QLatin1String(key)) {
      return tr(text);
    }
  }
  return link;
}

// A class name for the link's badge: letters only.
QString LinkClass(const QString& link) {
  QString out;
  for (const QChar c : link) {
    if (c.isLetter() && c.unicode() < 0x80) {
      out += c.toLower();
    }
  }
  return out;
}

QString Heading(const InstrumentStatus& instrument) {
  if (!instrument.Serial.isEmpty()) {
    return instrument.Serial;
  }
  if (!instrument.Now.Instrument.isEmpty()) {
    return instrument.Now.Instrument;
  }
  return PortLabel(instrument.Now.Port);
}

QString Row(const QString& name, const QString& valueHtml, const QString& cls = {}) {
  return QStringLiteral("<dt>%1</dt><dd%2>%3</dd>\n")
      .arg(Html(name), cls.isEmpty() ? QString() : QStringLiteral(" class=\"%1\"").arg(cls),
           valueHtml);
}

QString AlarmsHtml(const Texts& tr, const InstrumentStatus& instrument) {
  if (IsFlux(instrument)) {
    return QStringLiteral("<span class=\"muted\">%1</span>").arg(Html(tr(TextNoAlarmsInMode)));
  }
  QString out = QStringLiteral("<ul class=\"alarms\">");
  for (int k = 0; k < 3; ++k) {
    const double level = instrument.Levels[k];
    const bool raised = instrument.Now.Alarms[k];
    QString state;
    QString cls;
    if (raised) {
      state = tr(TextRaised);
      cls = QStringLiteral("raised");
    } else if (level > 0) {
      state = tr(TextClear);
      cls = QStringLiteral("clear");
    } else {
      state = tr(TextNotSet);
      cls = QStringLiteral("unset");
    }
    QString levelText;
    if (level > 0) {
      const ScaledValue s = ScaleReading(static_cast<float>(level));
      levelText = QStringLiteral(" · ") + FormatFixed(s.Value, s.Decimals) + QLatin1Char(' ') +
                  tr.Unit(0, s.PrefixIndex);
    }
    out += QStringLiteral("<li class=\"alarm %1\" data-threshold=\"%2\">%3%4: <b>%5</b></li>")
               .arg(cls)
               .arg(k + 1)
               .arg(Html(tr(TextThreshold).arg(k + 1)), Html(levelText), Html(state));
  }
  return out + QStringLiteral("</ul>");
}

const char* const Style = R"css(
:root{color-scheme:light dark;--bg:#f4f5f7;--card:#fff;--fg:#1c1e21;--muted:#6b7280;
--line:#d8dbe0;--ok:#16794a;--bad:#b42318;--warn:#a15c07;--spark:#2563eb}
@media (prefers-color-scheme:dark){:root{--bg:#16181c;--card:#22252b;--fg:#e8eaed;
--muted:#9aa0a6;--line:#3a3f47;--ok:#4ade80;--bad:#f87171;--warn:#fbbf24;--spark:#60a5fa}}
*{box-sizing:border-box}
body{margin:0;padding:16px;background:var(--bg);color:var(--fg);
font:15px/1.4 system-ui,-apple-system,"Segoe UI",Roboto,"DejaVu Sans",sans-serif}
header{display:flex;flex-wrap:wrap;gap:6px 20px;align-items:baseline;margin-bottom:16px}
header h1{font-size:20px;margin:0 12px 0 0}
header .fact{overflow-wrap:anywhere}
header .fact span{color:var(--muted)}
nav{margin-left:auto;font-size:13px}
nav a{color:var(--muted);margin-left:8px}
.cards{display:grid;gap:16px;grid-template-columns:repeat(auto-fill,minmax(320px,1fr))}
.card{background:var(--card);border:1px solid var(--line);border-radius:10px;padding:14px 16px;
min-width:0}
.card.down{opacity:.8;border-style:dashed}
.card.alarm{border:2px solid var(--bad)}
.card h2{font-size:18px;margin:0;overflow-wrap:anywhere}
.card .sub{color:var(--muted);font-size:13px;margin:2px 0 10px;overflow-wrap:anywhere}
.rate{margin:4px 0 8px;overflow-wrap:anywhere}
.rate .what{color:var(--muted);font-size:13px;margin-right:4px}
.rate .value{font-size:26px;font-weight:600}
dl{display:grid;grid-template-columns:max-content 1fr;gap:4px 12px;margin:0}
dt{color:var(--muted)}
dd{margin:0;min-width:0;overflow-wrap:anywhere}
.badge{display:inline-block;padding:0 8px;border-radius:9px;font-size:13px;
border:1px solid currentColor}
.badge.polling{color:var(--ok)}
.badge.notanswering,.badge.portgone{color:var(--bad)}
.badge.searching,.badge.readingarchive{color:var(--warn)}
.alarms{list-style:none;margin:0;padding:0;font-size:14px}
.ago{white-space:nowrap}
.alarm.raised{color:var(--bad)}
.alarm.clear{color:var(--ok)}
.alarm.unset,.muted{color:var(--muted)}
.spark{margin-top:10px}
.spark svg{display:block;width:100%;height:48px;color:var(--spark);
border-bottom:1px solid var(--line)}
.spark .scale{display:flex;justify-content:space-between;color:var(--muted);font-size:12px}
footer{margin-top:16px;color:var(--muted);font-size:12px}
)css";

QString CardHtml(const Texts& tr, const InstrumentStatus& instrument,
                 const StationStatus& station) {
  const InstrumentSnapshot& now = instrument.Now;
  const bool raised = !IsFlux(instrument) &&
                      std::any_of(now.Alarms.begin(), now.Alarms.end(), [](bool a) { return a; });
  QString cls = QStringLiteral("card");
  if (!now.Up) {
    cls += QStringLiteral(" down");
  }
  if (raised) {
    cls += QStringLiteral(" alarm");
  }

  QStringList sub;
  if (!instrument.Model.isEmpty()) {
    sub << instrument.Model;
  }
  if (!instrument.Firmware.isEmpty()) {
    sub << tr.Row(RowFirmware) + QLatin1Char(' ') + instrument.Firmware;
  }
  if (!instrument.Serial.isEmpty() && !now.Instrument.isEmpty() &&
      now.Instrument != instrument.Serial) {
    sub << now.Instrument;
  }

  QString out = QStringLiteral("<article class=\"%1\">\n<h2 class=\"serial\">%2</h2>\n")
                    .arg(cls, Html(Heading(instrument)));
  out += QStringLiteral("<div class=\"sub\">%1</div>\n")
             .arg(sub.isEmpty() ? QStringLiteral("&nbsp;") : Html(sub.join(QStringLiteral(" · "))));

  const int mode = Mode(instrument);
  out += QStringLiteral(
             "<div class=\"rate\"><span class=\"what\">%1</span> <span "
             "class=\"value\">%2</span></div>\n")
             .arg(Html(tr.Row(RowRateCaption + mode)),
                  Html(now.Up ? RateText(tr, instrument) : NoValue));
  out += QStringLiteral("<dl>\n");
  out += Row(tr.Row(RowComPort), Html(PortLabel(now.Port)), QStringLiteral("port"));
  out +=
      Row(tr(TextLink), QStringLiteral("<span class=\"badge %1\">%2</span>")
                            .arg(LinkClass(instrument.Link), Html(LinkText(tr, instrument.Link))));
  out += Row(tr.Row(RowLiveDoseCaption), Html(now.Up ? DoseText(tr, now.Reading.Dose) : NoValue));
  out += Row(tr(TextAlarms), AlarmsHtml(tr, instrument));
  out += Row(tr.Row(RowLastSeen),
             instrument.LastSeenMs > 0
                 ? Html(LocalTimeText(instrument.LastSeenMs)) +
                       QStringLiteral(" <span class=\"ago\">(%1)</span>")
                           .arg(Html(AgoText(tr, station.NowMs - instrument.LastSeenMs)))
                 : Html(tr(TextNever)),
             QStringLiteral("seen"));
  out += QStringLiteral("</dl>\n<div class=\"spark\">");

  const int64_t from = station.NowMs - 3600 * 1000;
  const QString svg = SparklineSvg(instrument.LastHour, from, station.NowMs);
  if (svg.isEmpty()) {
    out += QStringLiteral("<span class=\"muted\">%1</span>").arg(Html(tr(TextNoReadings)));
  } else {
    double high = 0;
    for (const auto& [ms, value] : instrument.LastHour) {
      if (ms >= from && ms <= station.NowMs && std::isfinite(value)) {
        high = std::max(high, value);
      }
    }
    out += svg;
    out += QStringLiteral("<div class=\"scale\"><span>%1</span><span>%2 %3</span></div>")
               .arg(Html(tr.Row(RowChartLastHour)), Html(tr(TextMaximum)),
                    Html(ValueText(tr, static_cast<float>(high), mode)));
  }
  out += QStringLiteral("</div>\n</article>\n");
  return out;
}

QString StationHtml(const Texts& tr, const StationStatus& station) {
  const auto fact = [](const QString& name, const QString& value) {
    return QStringLiteral("<div class=\"fact\"><span>%1:</span> %2</div>\n")
        .arg(Html(name), Html(value));
  };
  QString mqtt;
  const QString broker = WithoutPassword(station.Broker);
  if (!station.MqttConnected) {
    mqtt = tr(TextNotConfigured);
  } else {
    const bool up = *station.MqttConnected;
    mqtt = broker.isEmpty() ? tr(up ? TextConnected : TextNotConnected)
                            : tr(up ? TextConnectedTo : TextNotConnectedTo).arg(broker);
  }
  QString history;
  if (!station.HistoryPending && station.History.isEmpty()) {
    history = tr(TextNotKept);
  } else {
    history = WithoutPassword(station.History);
    if (station.HistoryPending) {
      history += (history.isEmpty() ? QString() : QStringLiteral(", ")) +
                 tr(TextPending).arg(*station.HistoryPending);
    }
  }
  QString out = QStringLiteral("<header>\n<h1>%1</h1>\n").arg(Html(tr(TextTitle)));
  out += fact(tr.Row(RowComputerColumn), station.HostName);
  out += fact(tr(TextVersion), station.Version);
  out +=
      fact(tr(TextUptime),
           station.StartedMs > 0 ? DurationText(tr, station.NowMs - station.StartedMs) : NoValue);
  out += QStringLiteral("<div class=\"fact mqtt %1\"><span>MQTT:</span> %2</div>\n")
             .arg(!station.MqttConnected   ? QStringLiteral("none")
                  : *station.MqttConnected ? QStringLiteral("up")
                                           : QStringLiteral("down"),
                  Html(mqtt));
  out += fact(tr(TextHistory), history);
  out += QStringLiteral(
      "<nav><a href=\"?lang=en\" hreflang=\"en\">English</a>"
      "<a href=\"?lang=ru\" hreflang=\"ru\">Русский</a><a "
      "href=\"/api/instruments\">JSON</a></nav>\n"
      "</header>\n");
  return out;
}

// A reading that came from a float as the float's shortest decimal (0.12,
// not 0.11999999731779099); other numbers as they are; null for NaN.
QJsonValue JsonNumber(double value) {
  if (!std::isfinite(value)) {
    return QJsonValue(QJsonValue::Null);
  }
  const float single = static_cast<float>(value);
  if (static_cast<double>(single) == value) {
    return ScaledDecimal(single, 0);
  }
  return value;
}

QJsonValue JsonText(const QString& text) {
  return text.isEmpty() ? QJsonValue(QJsonValue::Null) : QJsonValue(text);
}

QJsonValue JsonTime(int64_t ms) {
  return ms > 0 ? QJsonValue(IsoTime(ms)) : QJsonValue(QJsonValue::Null);
}

QJsonObject InstrumentJson(const InstrumentStatus& instrument) {
  const InstrumentSnapshot& now = instrument.Now;
  const bool flux = IsFlux(instrument);
  const QJsonValue null(QJsonValue::Null);
  const MeasurementRecord& reading = now.Reading;
  QJsonArray alarms;
  for (int k = 0; k < 3; ++k) {
    const double level = instrument.Levels[k];
    alarms.append(QJsonObject{{"threshold", k + 1},
                              {"level_usv_h", level > 0 ? JsonNumber(level) : null},
                              {"raised", !flux && now.Alarms[k]}});
  }
  QJsonArray lastHour;
  for (const auto& [ms, value] : instrument.LastHour) {
    lastHour.append(QJsonArray{static_cast<qint64>(ms), JsonNumber(value)});
  }
  return QJsonObject{
      {"instrument", JsonText(now.Instrument)},
      {"serial", JsonText(instrument.Serial)},
      {"model", JsonText(instrument.Model)},
      {"firmware", JsonText(instrument.Firmware)},
      {"port", PortLabel(now.Port)},
      {"up", now.Up},
      {"link", JsonText(instrument.Link)},
      {"last_seen", JsonTime(instrument.LastSeenMs)},
      {"reading_time", now.Up ? JsonTime(now.ReadingMs) : null},
      {"measurement_mode", now.Up ? QJsonValue(Mode(instrument)) : null},
      {"dose_rate_usv_h", now.Up && !flux ? JsonNumber(reading.DoseRate) : null},
      {"uncertainty_percent", now.Up && !flux ? JsonNumber(reading.DoseRateError) : null},
      {"flux_per_min_cm2", now.Up && flux ? JsonNumber(reading.DoseRate) : null},
      {"dose_usv", now.Up ? JsonNumber(reading.Dose) : null},
      {"accumulation_s", now.Up ? QJsonValue(static_cast<qint64>(reading.AccumulationTime)) : null},
      {"alarms", alarms},
      {"last_hour", lastHour},
  };
}

QString Coordinate(double v) {
  return QString::number(v, 'f', 1);
}

}  // namespace

PageLanguage ChoosePageLanguage(const QString& langQuery, const QByteArray& acceptLanguage) {
  const QString query = langQuery.trimmed().toLower();
  if (query == QLatin1String("ru")) {
    return PageLanguage::Russian;
  }
  if (query == QLatin1String("en")) {
    return PageLanguage::English;
  }
  // "ru-RU,ru;q=0.9,en;q=0.8": the highest weight of the two wins, the
  // earlier one on a tie; q=0 is "not this one".
  double best = 0;
  PageLanguage chosen = PageLanguage::English;
  for (const QByteArray& item : acceptLanguage.split(',')) {
    const QList<QByteArray> parts = item.split(';');
    const QByteArray tag = parts.value(0).trimmed().toLower();
    const QByteArray primary = tag.split('-').value(0);
    double weight = 1;
    for (qsizetype k = 1; k < parts.size(); ++k) {
      const QByteArray parameter = parts[k].trimmed().toLower();
      if (parameter.startsWith("q=")) {
        bool ok = false;
        weight = parameter.mid(2).toDouble(&ok);
        if (!ok) {
          weight = 0;
        }
      }
    }
    if (primary != "ru" && primary != "en") {
      continue;
    }
    if (weight > best) {
      best = weight;
      chosen = primary == "ru" ? PageLanguage::Russian : PageLanguage::English;
    }
  }
  return chosen;
}

QString SparklineSvg(const std::vector<std::pair<int64_t, double>>& points, int64_t fromMs,
                     int64_t toMs) {
  std::vector<std::pair<int64_t, double>> shown;
  for (const auto& point : points) {
    if (point.first >= fromMs && point.first <= toMs && std::isfinite(point.second)) {
      shown.push_back(point);
    }
  }
  if (shown.empty() || toMs <= fromMs) {
    return {};
  }
  constexpr double Width = 300;
  constexpr double Height = 48;
  constexpr double Pad = 2;
  double low = 0;
  double high = shown.front().second;
  for (const auto& point : shown) {
    low = std::min(low, point.second);
    high = std::max(high, point.second);
  }
  const double span = high - low;
  const auto x = [&](int64_t ms) {
    return Width * static_cast<double>(ms - fromMs) / static_cast<double>(toMs - fromMs);
  };
  const auto y = [&](double value) {
    if (span <= 0) {
      return Height / 2;
    }
    return Pad + (Height - 2 * Pad) * (high - value) / span;
  };
  // An hour is 3600 readings for 300 columns: each piece keeps, column by
  // column, its first, least, greatest and last reading, so the page stays
  // small and no spike is lost.
  const auto column = [&](int64_t ms) { return static_cast<int>(std::floor(x(ms))); };
  QString path;
  size_t begin = 0;
  while (begin < shown.size()) {
    size_t end = begin + 1;
    while (end < shown.size() && shown[end].first - shown[end - 1].first <= SparklineGapMs) {
      ++end;
    }
    std::vector<size_t> kept;
    for (size_t k = begin; k < end;) {
      size_t next = k;
      size_t least = k;
      size_t greatest = k;
      while (next < end && column(shown[next].first) == column(shown[k].first)) {
        least = shown[next].second < shown[least].second ? next : least;
        greatest = shown[next].second > shown[greatest].second ? next : greatest;
        ++next;
      }
      std::vector<size_t> picks = {k, least, greatest, next - 1};
      std::sort(picks.begin(), picks.end());
      picks.erase(std::unique(picks.begin(), picks.end()), picks.end());
      kept.insert(kept.end(), picks.begin(), picks.end());
      k = next;
    }
    for (size_t n = 0; n < kept.size(); ++n) {
      if (!path.isEmpty()) {
        path += QLatin1Char(' ');
      }
      path += (n == 0 ? QStringLiteral("M") : QStringLiteral("L")) +
              Coordinate(x(shown[kept[n]].first)) + QLatin1Char(',') +
              Coordinate(y(shown[kept[n]].second));
    }
    if (kept.size() == 1) {
      // A lone reading: a dot, which the round cap draws.
      path += QStringLiteral(" h0.1");
    }
    begin = end;
  }
  return QStringLiteral(
             "<svg xmlns=\"http://www.w3.org/2000/svg\" viewBox=\"0 0 %1 %2\" "
             "preserveAspectRatio=\"none\" role=\"img\">"
             "<path d=\"%3\" fill=\"none\" stroke=\"currentColor\" stroke-width=\"1.5\" "
             "stroke-linejoin=\"round\" stroke-linecap=\"round\" "
             "vector-effect=\"non-scaling-stroke\"/></svg>")
      .arg(Width)
      .arg(Height)
      .arg(path);
}

QByteArray RenderStatusPage(const std::vector<InstrumentStatus>& instruments,
                            const StationStatus& station, PageLanguage language) {
  const Texts tr{language};
  QString out =
      QStringLiteral(
          "<!DOCTYPE html>\n<html lang=\"%1\">\n<head>\n<meta charset=\"utf-8\">\n"
          "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n"
          "<meta http-equiv=\"refresh\" content=\"5\">\n<title>%2 — %3</title>\n"
          "<style>%4</style>\n</head>\n<body>\n")
          .arg(language == PageLanguage::Russian ? QStringLiteral("ru") : QStringLiteral("en"),
               Html(tr(TextTitle)), Html(station.HostName), QLatin1String(Style));
  out += StationHtml(tr, station);
  out += QStringLiteral("<main class=\"cards\">\n");
  if (instruments.empty()) {
    out += QStringLiteral("<p class=\"muted\">%1</p>\n").arg(Html(tr(TextNoInstruments)));
  }
  for (const InstrumentStatus& instrument : instruments) {
    out += CardHtml(tr, instrument, station);
  }
  out += QStringLiteral("</main>\n<footer>%1 · %2</footer>\n</body>\n</html>\n")
             .arg(Html(tr(TextRefreshes)), Html(LocalTimeText(station.NowMs)));
  return out.toUtf8();
}

QByteArray RenderInstrumentsJson(const std::vector<InstrumentStatus>& instruments,
                                 const StationStatus& station) {
  const QJsonValue null(QJsonValue::Null);
  QJsonArray list;
  for (const InstrumentStatus& instrument : instruments) {
    list.append(InstrumentJson(instrument));
  }
  const QJsonObject stationJson{
      {"version", JsonText(station.Version)},
      {"host", JsonText(station.HostName)},
      {"time", JsonTime(station.NowMs)},
      {"started", JsonTime(station.StartedMs)},
      {"uptime_s", station.StartedMs > 0
                       ? QJsonValue(static_cast<qint64>(
                             std::max<int64_t>(0, station.NowMs - station.StartedMs) / 1000))
                       : null},
      {"mqtt_connected", station.MqttConnected ? QJsonValue(*station.MqttConnected) : null},
      {"broker", JsonText(WithoutPassword(station.Broker))},
      {"history", JsonText(WithoutPassword(station.History))},
      {"history_pending",
       station.HistoryPending ? QJsonValue(static_cast<qint64>(*station.HistoryPending)) : null},
  };
  return QJsonDocument(QJsonObject{{"station", stationJson}, {"instruments", list}})
      .toJson(QJsonDocument::Indented);
}

}  // namespace vantor
