#include <gtest/gtest.h>

#include "AlarmTracker.h"

namespace vantor {
namespace {

constexpr std::array<double, 3> Levels = {1.0, 10.0, 0};  // no third threshold

// Feeds one reading a second from `startMs` and gathers what they settle.
std::vector<AlarmTransition> Feed(AlarmTracker& tracker, const std::vector<double>& values,
                                  int64_t startMs, const std::array<double, 3>& levels = Levels) {
  std::vector<AlarmTransition> all;
  for (size_t k = 0; k < values.size(); ++k) {
    for (const AlarmTransition& t :
         tracker.Update(values[k], levels, startMs + static_cast<int64_t>(k) * 1000)) {
      all.push_back(t);
    }
  }
  return all;
}

TEST(AlarmTracker, RaisesOnlyOnceTheReadingHeldAtTheThresholdForTheHoldTime) {
  AlarmTracker tracker({3000, 10});
  // At the threshold counts; a dip under it starts the hold over.
  std::vector<AlarmTransition> t = Feed(tracker, {0.5, 1.0, 1.2, 0.99, 1.0, 1.1, 1.3}, 0);
  EXPECT_TRUE(t.empty());
  t = Feed(tracker, {1.4}, 7000);
  ASSERT_EQ(t.size(), 1u);
  EXPECT_EQ(t[0].Threshold, 1);
  EXPECT_TRUE(t[0].Raised);
  EXPECT_DOUBLE_EQ(t[0].Value, 1.4);
  EXPECT_DOUBLE_EQ(t[0].Level, 1.0);
  EXPECT_EQ(t[0].AtMs, 7000);  // 3 s after the 1.0 at 4 s
  EXPECT_TRUE(tracker.Raised(1));
  EXPECT_FALSE(tracker.Raised(2));
}

TEST(AlarmTracker, NoiseAroundTheThresholdDoesNotFlap) {
  AlarmTracker tracker({2000, 10});
  EXPECT_EQ(Feed(tracker, {1.2, 1.2, 1.2}, 0).size(), 1u);
  // Raised, readings between 0.9 and 1.0 are neither alarm nor clear, and
  // a reading under 0.9 must stay there for the hold time.
  std::vector<double> noise;
  for (int k = 0; k < 60; ++k) {
    noise.push_back(std::array<double, 5>{0.85, 0.95, 0.92, 0.97, 1.02}[k % 5]);
  }
  EXPECT_TRUE(Feed(tracker, noise, 10000).empty());
  EXPECT_TRUE(tracker.Raised(1));

  const std::vector<AlarmTransition> cleared = Feed(tracker, {0.8, 0.7, 0.89}, 100000);
  ASSERT_EQ(cleared.size(), 1u);
  EXPECT_FALSE(cleared[0].Raised);
  EXPECT_EQ(cleared[0].AtMs, 102000);
  EXPECT_DOUBLE_EQ(cleared[0].Value, 0.89);
  // Down again, the same noise under the threshold raises nothing.
  EXPECT_TRUE(Feed(tracker, {0.95, 0.99, 0.95, 0.99}, 110000).empty());
}

TEST(AlarmTracker, WithoutHoldOrHysteresisFollowsEachReading) {
  AlarmTracker tracker({0, 0});
  const std::vector<AlarmTransition> t = Feed(tracker, {1.0, 0.999, 1.0}, 0);
  ASSERT_EQ(t.size(), 3u);
  EXPECT_TRUE(t[0].Raised);
  EXPECT_FALSE(t[1].Raised);
  EXPECT_TRUE(t[2].Raised);
}

TEST(AlarmTracker, ThresholdsAreIndependentAndTransitionsComeInTheirOrder) {
  AlarmTracker tracker({1000, 10});
  std::vector<AlarmTransition> t = Feed(tracker, {20, 20}, 0);
  ASSERT_EQ(t.size(), 2u);
  EXPECT_EQ(t[0].Threshold, 1);
  EXPECT_EQ(t[1].Threshold, 2);
  // Down to 5: the second clears, the first stays raised.
  t = Feed(tracker, {5, 5}, 5000);
  ASSERT_EQ(t.size(), 1u);
  EXPECT_EQ(t[0].Threshold, 2);
  EXPECT_FALSE(t[0].Raised);
  EXPECT_EQ(tracker.RaisedAll(), (std::array<bool, 3>{true, false, false}));
}

TEST(AlarmTracker, AGapInTheReadingsStartsTheHoldOver) {
  AlarmTracker tracker({3000, 10});
  EXPECT_TRUE(Feed(tracker, {2, 2, 2}, 0).empty());
  tracker.Interrupt();  // a poll went unanswered
  EXPECT_TRUE(Feed(tracker, {2, 2, 2}, 60000).empty());
  EXPECT_EQ(Feed(tracker, {2}, 63000).size(), 1u);
}

TEST(AlarmTracker, AThresholdTakenAwayClearsItsAlarmAtOnce) {
  AlarmTracker tracker({5000, 10});
  Feed(tracker, {3, 3, 3, 3, 3, 3}, 0);
  ASSERT_TRUE(tracker.Raised(1));
  const std::vector<AlarmTransition> t = tracker.Update(3, {0, 10, 0}, 6000);
  ASSERT_EQ(t.size(), 1u);
  EXPECT_FALSE(t[0].Raised);
  EXPECT_FALSE(tracker.Raised(1));
}

TEST(AlarmTracker, TakesTheInstrumentsRecordAndSettingsAndSkipsTheFluxModes) {
  UserSettings settings;
  settings.DoseRateAlarm = {0.3f, 1.2f, 0};
  EXPECT_EQ(DoseRateLevels(settings), (std::array<double, 3>{0.3, 1.2, 0}));

  AlarmTracker tracker({1000, 10});
  MeasurementRecord record;
  record.DoseRate = 0.5f;
  EXPECT_TRUE(tracker.Update(record, settings, 0).empty());
  record.MeasurementMode = 1;  // a flux of 500 is no dose rate
  record.DoseRate = 500;
  EXPECT_TRUE(tracker.Update(record, settings, 1000).empty());
  record.MeasurementMode = 0;
  record.DoseRate = 0.5f;
  // The flux reading interrupted the hold: it starts again at 2 s.
  EXPECT_TRUE(tracker.Update(record, settings, 2000).empty());
  const std::vector<AlarmTransition> t = tracker.Update(record, settings, 3000);
  ASSERT_EQ(t.size(), 1u);
  EXPECT_DOUBLE_EQ(t[0].Value, 0.5);
}

TEST(AlarmEnvironment, TellsTheCommandWhatHappened) {
  QProcessEnvironment base;
  base.insert(QStringLiteral("PATH"), QStringLiteral("/usr/bin"));
  const QProcessEnvironment environment =
      AlarmEnvironment(base, QStringLiteral("SN004711"), QStringLiteral("COM3"),
                       {2, true, 12.5, 10, 1'765'440'438'000});
  EXPECT_EQ(environment.value("PATH"), "/usr/bin");
  EXPECT_EQ(environment.value("VANTOR_INSTRUMENT"), "SN004711");
  EXPECT_EQ(environment.value("VANTOR_PORT"), "COM3");
  EXPECT_EQ(environment.value("VANTOR_THRESHOLD"), "2");
  EXPECT_EQ(environment.value("VANTOR_VALUE"), "12.5");
  EXPECT_EQ(environment.value("VANTOR_LEVEL"), "10");
  EXPECT_EQ(environment.value("VANTOR_TIME"), "2025-12-11T08:07:18Z");
  EXPECT_EQ(environment.value("VANTOR_STATE"), "raised");
  EXPECT_EQ(AlarmEnvironment(base, "x", "COM3", {1, false, 0.5, 1, 0}).value("VANTOR_STATE"),
            "cleared");
}

}  // namespace
}  // namespace vantor
