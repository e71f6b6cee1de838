#include <gtest/gtest.h>

#include <QProcess>
#include <QRegularExpression>
#include <QSet>
#include <cmath>
#include <limits>

#include "Metrics.h"

namespace vantor {
namespace {

struct NumberCase {
  double Value;
  const char* Text;
};

void PrintTo(const NumberCase& c, std::ostream* os) {
  *os << c.Text;
}

class PrometheusNumbers : public ::testing::TestWithParam<NumberCase> {};

TEST_P(PrometheusNumbers, AreWrittenAsPrometheusWritesThem) {
  EXPECT_EQ(PrometheusNumber(GetParam().Value).toStdString(), GetParam().Text);
}

INSTANTIATE_TEST_SUITE_P(
    Table, PrometheusNumbers,
    ::testing::Values(NumberCase{0, "0"}, NumberCase{1, "1"}, NumberCase{-2.5, "-2.5"},
                      NumberCase{0.1, "0.1"}, NumberCase{123456, "123456"},
                      NumberCase{1234567, "1.234567e+06"}, NumberCase{1e6, "1e+06"},
                      NumberCase{0.0001, "0.0001"}, NumberCase{0.00012, "0.00012"},
                      NumberCase{1.2e-7, "1.2e-07"}, NumberCase{1.7e9, "1.7e+09"},
                      NumberCase{1e100, "1e+100"},
                      NumberCase{std::numeric_limits<double>::quiet_NaN(), "NaN"},
                      NumberCase{std::numeric_limits<double>::infinity(), "+Inf"},
                      NumberCase{-std::numeric_limits<double>::infinity(), "-Inf"}));

TEST(ScaledDecimal, ScalesTheFloatsDecimalNotItsBinaryTail) {
  EXPECT_EQ(ScaledDecimal(0.12f, -6), 1.2e-7);
  EXPECT_EQ(ScaledDecimal(15.3f, -2), 0.153);
  EXPECT_EQ(ScaledDecimal(0.1f, 0), 0.1);
  EXPECT_EQ(ScaledDecimal(0, -6), 0);
  EXPECT_TRUE(std::isnan(ScaledDecimal(std::numeric_limits<float>::quiet_NaN(), -6)));
}

InstrumentSnapshot Answering(const QString& name, int port, float rate) {
  InstrumentSnapshot s;
  s.Instrument = name;
  s.Port = port;
  s.Up = true;
  s.Reading.DoseRate = rate;
  s.Reading.DoseRateError = 12.5f;
  s.Reading.Dose = 3.25f;
  s.Reading.AccumulationTime = 7200;
  s.Reading.ArchiveRecordCount = 40;
  s.Reading.StatusFlags = 1;
  s.ReadingMs = 1'765'440'000'500;
  s.Alarms = {true, false, false};
  return s;
}

QByteArray Sample() {
  std::vector<InstrumentSnapshot> instruments = {
      Answering(QStringLiteral("SN004711"), 3, 0.12f),
      // A name that needs escaping in a label value.
      Answering(QStringLiteral("odd\"na\\me\nx"), 4, std::numeric_limits<float>::infinity()),
  };
  InstrumentSnapshot silent;
  silent.Instrument = QStringLiteral("SN000002");
  silent.Port = 5;
  silent.Reading.DoseRate = 99;  // a reading from before it fell silent
  instruments.push_back(silent);
  InstrumentSnapshot flux = Answering(QStringLiteral("SN000003"), 0, 250);
  flux.Reading.MeasurementMode = 1;
  instruments.push_back(flux);

  StationSnapshot station;
  station.Exchanges[{QStringLiteral("COM3"), QStringLiteral("ok")}] = 120;
  station.Exchanges[{QStringLiteral("COM5"), QStringLiteral("timeout")}] = 7;
  station.HistoryPending = 2;
  station.MqttConnected = false;
  ProcessFacts process;
  process.CpuSeconds = 1.5;
  process.ResidentBytes = 20e6;
  process.VirtualBytes = 300e6;
  process.StartTimeSeconds = 1765440000.25;
  process.OpenFds = 12;
  process.MaxFds = 1024;
  return RenderMetrics(instruments, station, process);
}

QStringList LinesOf(const QByteArray& text, const QString& metric) {
  QStringList found;
  for (const QString& line : QString::fromUtf8(text).split('\n')) {
    if (line.startsWith(metric + '{') || line.startsWith(metric + ' ')) {
      found << line;
    }
  }
  return found;
}

TEST(Metrics, PromtoolAcceptsTheExposition) {
#ifndef PROMTOOL
  GTEST_SKIP() << "promtool is not installed";
#else
  QProcess promtool;
  promtool.start(QStringLiteral(PROMTOOL), {QStringLiteral("check"), QStringLiteral("metrics")});
  ASSERT_TRUE(promtool.waitForStarted());
  promtool.write(Sample());
  promtool.closeWriteChannel();
  ASSERT_TRUE(promtool.waitForFinished(60000));
  EXPECT_EQ(promtool.exitCode(), 0) << promtool.readAllStandardOutput().toStdString()
                                    << promtool.readAllStandardError().toStdString();
#endif
}

TEST(Metrics, EachFamilyHasItsHelpAndTypeOnceBeforeItsSamples) {
  const QStringList lines = QString::fromUtf8(Sample()).split('\n', Qt::SkipEmptyParts);
  QSet<QString> typed;
  QString current;
  for (const QString& line : lines) {
    if (line.startsWith(QLatin1String("# HELP "))) {
      current = line.section(' ', 2, 2);
      EXPECT_FALSE(typed.contains(current)) << line.toStdString();
      typed.insert(current);
      continue;
    }
    if (line.startsWith(QLatin1String("# TYPE "))) {
      EXPECT_EQ(line.section(' ', 2, 2), current);
      continue;
    }
    const QString name = line.section(QRegularExpression(QStringLiteral("[{ ]")), 0, 0);
    EXPECT_EQ(name, current) << line.toStdString();
  }
  EXPECT_TRUE(typed.contains(QStringLiteral("process_max_fds")));
  EXPECT_TRUE(typed.contains(QStringLiteral("vantor_exchanges_total")));
}

TEST(Metrics, ReadingsAreInBaseUnits) {
  const QByteArray text = Sample();
  const QString labels = QStringLiteral("{instrument=\"SN004711\",port=\"COM3\"}");
  EXPECT_TRUE(LinesOf(text, "vantor_dose_rate_sieverts_per_hour")
                  .contains("vantor_dose_rate_sieverts_per_hour" + labels + " 1.2e-07"));
  EXPECT_TRUE(LinesOf(text, "vantor_dose_rate_uncertainty_ratio")
                  .contains("vantor_dose_rate_uncertainty_ratio" + labels + " 0.125"));
  EXPECT_TRUE(LinesOf(text, "vantor_dose_sieverts_total")
                  .contains("vantor_dose_sieverts_total" + labels + " 3.25e-06"));
  EXPECT_TRUE(LinesOf(text, "vantor_reading_timestamp_seconds")
                  .contains("vantor_reading_timestamp_seconds" + labels + " 1.7654400005e+09"));
  EXPECT_TRUE(LinesOf(text, "vantor_archive_memory_full")
                  .contains("vantor_archive_memory_full" + labels + " 1"));
  const QStringList alarms = LinesOf(text, "vantor_alarm");
  EXPECT_TRUE(
      alarms.contains("vantor_alarm{instrument=\"SN004711\",port=\"COM3\",threshold=\"1\"} 1"));
  EXPECT_TRUE(
      alarms.contains("vantor_alarm{instrument=\"SN004711\",port=\"COM3\",threshold=\"3\"} 0"));
  EXPECT_TRUE(LinesOf(text, "vantor_dose_rate_sieverts_per_hour")
                  .contains("vantor_dose_rate_sieverts_per_hour{instrument=\"odd\\\"na\\\\me\\nx\","
                            "port=\"COM4\"} +Inf"));
}

TEST(Metrics, ASilentInstrumentIsDownWithNothingStale) {
  const QByteArray text = Sample();
  EXPECT_TRUE(
      LinesOf(text, "vantor_up").contains("vantor_up{instrument=\"SN000002\",port=\"COM5\"} 0"));
  EXPECT_EQ(text.count("SN000002"), 1);  // the vantor_up line alone
}

TEST(Metrics, AFluxModeShowsNoDoseRateNorRateAlarms) {
  const QByteArray text = Sample();
  const QString flux = QStringLiteral("instrument=\"SN000003\",port=\"device\"");
  EXPECT_TRUE(LinesOf(text, "vantor_up").contains("vantor_up{" + flux + "} 1"));
  EXPECT_TRUE(LinesOf(text, "vantor_dose_rate_sieverts_per_hour").filter(flux).isEmpty());
  EXPECT_TRUE(LinesOf(text, "vantor_alarm").filter(flux).isEmpty());
  EXPECT_FALSE(LinesOf(text, "vantor_dose_sieverts_total").filter(flux).isEmpty());
}

TEST(ProcessFacts, ComeFromTheStatLineEvenWhenTheNameHoldsParentheses) {
  // Fields after the name: state ppid pgrp session tty tpgid flags minflt
  // cminflt majflt cmajflt utime stime cutime cstime priority nice threads
  // itrealvalue starttime vsize rss ...
  const QByteArray stat =
      "4242 (vantor) (x) y) S 1 4242 4242 0 -1 4194560 100 0 0 0 250 50 0 0 20 0 3 0 "
      "12345 104857600 2560 18446744073709551615 1 1 0 0 0 0 0 0 0 0 0 0 17 1 0 0 0 0 0\n";
  const std::optional<ProcessFacts> facts = ParseProcessStat(stat, 1'700'000'000, 100, 4096);
  ASSERT_TRUE(facts);
  EXPECT_DOUBLE_EQ(facts->CpuSeconds, 3.0);
  EXPECT_DOUBLE_EQ(facts->StartTimeSeconds, 1'700'000'123.45);
  EXPECT_DOUBLE_EQ(facts->VirtualBytes, 104857600);
  EXPECT_DOUBLE_EQ(facts->ResidentBytes, 2560.0 * 4096);
  EXPECT_FALSE(ParseProcessStat("4242 (cut) S 1 2 3", 0, 100, 4096));

  EXPECT_EQ(ParseMaxOpenFiles("Limit Soft Limit Hard Limit Units\n"
                              "Max open files            1024                 524288     files\n"),
            1024);
  EXPECT_FALSE(ParseMaxOpenFiles("Max open files  unlimited  unlimited  files\n"));
}

TEST(ProcessFacts, OfThisProcessAreThere) {
  const std::optional<ProcessFacts> facts = ReadProcessFacts();
  ASSERT_TRUE(facts);
  EXPECT_GT(facts->ResidentBytes, 0);
  EXPECT_GE(facts->VirtualBytes, facts->ResidentBytes);
  EXPECT_GT(facts->StartTimeSeconds, 1e9);
  ASSERT_TRUE(facts->OpenFds);
  EXPECT_GE(*facts->OpenFds, 3);  // standard input, output and error at least
}

}  // namespace
}  // namespace vantor
