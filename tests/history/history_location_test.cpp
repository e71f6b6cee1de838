#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include "CoreApplication.h"
#include "HistoryExport.h"
#include "HistoryLocation.h"
#include "TempConfigHome.h"

using namespace vantor;

namespace {

struct LocationCase {
  const char* Text;
  const char* Host;
  const char* User;
  const char* Password;
  const char* Database;
  const char* Path;
  int Port;
  HistoryEngine Engine;
};

TEST(HistoryLocation, UrlsAndPathsNameTheEngineAndWhereItLives) {
  using E = HistoryEngine;
  const LocationCase cases[] = {
      {"postgresql://vantor@db.lab:5433/history", "db.lab", "vantor", "", "history", "", 5433,
       E::Postgres},
      {"postgresql://vantor@/history?host=/run/postgresql", "/run/postgresql", "vantor", "",
       "history", "", -1, E::Postgres},
      {"postgres://tech:p%40ss@db/h?port=6000", "db", "tech", "p@ss", "h", "", 6000, E::Postgres},
      {"/var/lib/vantor/h.sqlite", "", "", "", "", "/var/lib/vantor/h.sqlite", -1, E::Sqlite},
      {"sqlite:///tmp/h%20x.sqlite", "", "", "", "", "/tmp/h x.sqlite", -1, E::Sqlite},
  };
  for (const LocationCase& c : cases) {
    const HistoryLocation location = ParseHistoryLocation(QString::fromUtf8(c.Text));
    SCOPED_TRACE(c.Text);
    ASSERT_TRUE(location.Valid()) << location.Error.toStdString();
    EXPECT_EQ(location.Engine, c.Engine);
    EXPECT_EQ(location.Host, c.Host);
    EXPECT_EQ(location.Port, c.Port);
    EXPECT_EQ(location.User, c.User);
    EXPECT_EQ(location.Password, c.Password);
    EXPECT_EQ(location.Database, c.Database);
    EXPECT_EQ(location.Path, c.Path);
  }
  // The text shown to the user never carries the password, and a socket
  // directory reads back as given.
  EXPECT_EQ(ParseHistoryLocation("postgres://tech:secret@db/h").Text(), "postgresql://tech@db/h");
  EXPECT_EQ(ParseHistoryLocation("postgresql://vantor@/history?host=/run/postgresql").Text(),
            "postgresql://vantor@/history?host=/run/postgresql");

  for (const char* bad : {"postgresql://db.lab/", "postgresql://db/a?sslmode=x", "mysql://db/h", "",
                          "postgresql://db:port/h"}) {
    EXPECT_FALSE(ParseHistoryLocation(bad).Valid()) << bad;
  }
}

TEST(HistoryLocation, AUrlGivenOrConfiguredWinsOverTheDefaultFile) {
  test::EnsureCoreApplication();
  TempConfigHome config;
  QTemporaryDir data;
  const QByteArray oldData = qgetenv("XDG_DATA_HOME");
  qputenv("XDG_DATA_HOME", QFile::encodeName(data.path()));

  const HistoryLocation fallback = ConfiguredHistoryLocation();
  EXPECT_EQ(fallback.Engine, HistoryEngine::Sqlite);
  EXPECT_EQ(fallback.Path, data.path() + "/vantor/history.sqlite");
  EXPECT_EQ(HistoryFolder(fallback), data.path() + "/vantor");

  ASSERT_TRUE(QDir().mkpath(config.Path() + "/vantor"));
  QFile conf(config.Path() + "/vantor/vantor.conf");
  ASSERT_TRUE(conf.open(QIODevice::WriteOnly));
  conf.write("[History]\nUrl=postgresql://lab@server/vantor\n");
  conf.close();
  const HistoryLocation shared = ConfiguredHistoryLocation();
  EXPECT_EQ(shared.Engine, HistoryEngine::Postgres);
  EXPECT_EQ(shared.Host, "server");
  EXPECT_TRUE(HistoryFolder(shared).isEmpty());

  const HistoryLocation given = ConfiguredHistoryLocation(data.path() + "/other.sqlite");
  EXPECT_EQ(given.Path, data.path() + "/other.sqlite");

  qputenv("XDG_DATA_HOME", oldData);
}

TEST(HistoryTime, ArchiveDatesAreReadInTheInstrumentsZoneAndRollOver) {
  const QTimeZone moscow(3 * 3600);
  // 07/11/25 09:05:03 in Moscow is 06:05:03 UTC.
  const ArchiveBytes record = {0, 0, 0, 0, 0, 0x19, 0xE9, 0x85, 0xC3};
  EXPECT_EQ(ArchiveTimeOf(record, moscow), 1762495503000);
  // Month 13 of 2025 is January 2026, and its day 0 is 31 December 2025.
  const ArchiveBytes rolled = {0, 0, 0, 0, 0, 0x19, 0x09, 0xC5, 0x43};
  EXPECT_EQ(ArchiveTimeOf(rolled, moscow), 1767161103000);
  const ArchiveBytes undated = {0x01, 0, 0, 0, 4, 0, 0, 0, 0};
  EXPECT_FALSE(ArchiveTimeOf(undated, moscow).has_value());
}

TEST(HistoryTime, IsoTimesFollowTheZoneAcrossItsTransitions) {
  const QTimeZone berlin("Europe/Berlin");
  ASSERT_TRUE(berlin.isValid());
  IsoTimeWriter writer(berlin);
  QByteArray out;
  const int64_t spring = 1774746000000;  // 2026-03-29T01:00:00Z, clocks go forward
  for (const int64_t ms : {spring - 1, spring, spring - 3600000, int64_t{0}}) {
    writer.Append(out, ms);
    out.append(' ');
  }
  EXPECT_EQ(out.toStdString(),
            "2026-03-29T01:59:59.999+01:00 2026-03-29T03:00:00+02:00 "
            "2026-03-29T01:00:00+01:00 1970-01-01T01:00:00+01:00 ");

  IsoTimeWriter utc{QTimeZone(0)};
  out.clear();
  utc.Append(out, -1);
  EXPECT_EQ(out.toStdString(), "1969-12-31T23:59:59.999Z");
}

}  // namespace
