#include <gtest/gtest.h>

#include <QFile>
#include <QRegularExpression>
#include <QStringList>
#include <map>

#include "StationConfig.h"

namespace vantor {
namespace {

// The example station.conf: every key once, as "#key = value", the rest
// prose comments.
QString ExampleText() {
  QFile file(QStringLiteral(STATION_EXAMPLE));
  EXPECT_TRUE(file.open(QIODevice::ReadOnly)) << STATION_EXAMPLE;
  return QString::fromUtf8(file.readAll());
}

const QRegularExpression& KeyLine() {
  static const QRegularExpression line(QStringLiteral("^#([a-z-]+) = (.+)$"));
  return line;
}

TEST(StationExample, ShowsEveryKeyOnceAndSetsNothingAsShipped) {
  const QString text = ExampleText();
  std::map<QString, int> shown;
  for (const QString& line : text.split('\n')) {
    const QRegularExpressionMatch match = KeyLine().match(line);
    if (match.hasMatch()) {
      ++shown[match.captured(1)];
    }
  }
  for (const QString& key : StationConfigKeys()) {
    EXPECT_EQ(shown[key], 1) << key.toStdString();
  }
  EXPECT_EQ(shown.size(), static_cast<size_t>(StationConfigKeys().size()))
      << "a key the station does not know";

  QString error;
  const std::optional<std::vector<ConfigSetting>> settings =
      ParseStationConfigText(text, QStringLiteral("station.conf"), &error);
  ASSERT_TRUE(settings) << error.toStdString();
  EXPECT_TRUE(settings->empty());
}

TEST(StationExample, EveryValueShownIsOneTheStationTakes) {
  // device and port exclude each other: the example shows both, so each
  // is tried with the rest.
  for (const QString& left : {QStringLiteral("device"), QStringLiteral("port")}) {
    QStringList lines;
    for (const QString& line : ExampleText().split('\n')) {
      const QRegularExpressionMatch match = KeyLine().match(line);
      lines << (match.hasMatch() && match.captured(1) != left ? line.mid(1) : line);
    }
    QString error;
    const std::optional<std::vector<ConfigSetting>> settings =
        ParseStationConfigText(lines.join('\n'), QStringLiteral("station.conf"), &error);
    ASSERT_TRUE(settings) << error.toStdString();
    EXPECT_EQ(settings->size(), static_cast<size_t>(StationConfigKeys().size() - 1));
    StationConfig config;
    EXPECT_TRUE(ApplyStationSettings(*settings, {}, config, &error))
        << "without " << left.toStdString() << ": " << error.toStdString();
  }
}

}  // namespace
}  // namespace vantor
