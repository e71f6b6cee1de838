#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

namespace vantor {

// What a run of points comes to: count, mean, sample standard deviation,
// the lowest and highest point, and the integral of the value over time in
// value-hours (a dose rate in uSv/h integrates to a dose in uSv).
struct IntervalStatistics {
  size_t Count = 0;
  double Mean = 0;
  double StdDev = 0;  // 0 below two points
  double Min = 0;
  double Max = 0;
  size_t MinIndex = 0;
  size_t MaxIndex = 0;
  double Integral = 0;
};

// The points of one time chart, x in whole seconds since 1970 (the moment
// the time axis shows), y a dose rate; kept in time order for as long as the
// program runs (a month at one point a second is 2,592,000 points).
//
// A point takes 8 bytes: its second as an offset from the first point's,
// and its value as a float, in chunks of 4096 so a growing chart never
// copies what it holds. Above the points sits a summary pyramid: one node
// per 32 points, then one per 8 nodes, each holding its lowest and highest
// point, mean, spread and integral (a byte and a half a point). Any
// interval is then answered from O(log n) nodes, so drawing a zoomed-out
// view or its statistics never scans the points under it.
class ChartPoints {
 public:
  ChartPoints();
  ~ChartPoints();
  ChartPoints(const ChartPoints&) = delete;
  ChartPoints& operator=(const ChartPoints&) = delete;

  // Consecutive points further apart than this stand for no reading in
  // between: the integral does not bridge them.
  static constexpr int64_t MaxIntegralGap = 60;

  // Adds a point; one earlier than the last (the computer's clock was set
  // back, records out of order) is inserted where it belongs. A value that
  // is not a number, or a time more than 68 years from the first point's,
  // is refused. Returns whether the point was added.
  bool Add(int64_t second, float y);
  void Clear();

  size_t Size() const { return size_; }
  bool Empty() const { return size_ == 0; }
  int64_t Second(size_t i) const { return base_ + At(i).Offset; }
  float Y(size_t i) const { return At(i).Y; }
  int64_t FirstSecond() const { return Second(0); }
  int64_t LastSecond() const { return Second(size_ - 1); }
  // Over every point; meaningful only when not empty.
  double Mean() const;
  float MinY() const { return minY_; }
  float MaxY() const { return maxY_; }
  // Counts the clears, so a view can tell that its points were replaced.
  uint64_t Clears() const { return clears_; }
  // Counts every change other than a point added after the last one.
  uint64_t Rewrites() const { return rewrites_; }

  // The first point at or after `second`, and the first one after it.
  size_t LowerBound(int64_t second) const;
  size_t UpperBound(int64_t second) const;
  // The points whose time lies within [from, to] seconds, as [first, end).
  std::pair<size_t, size_t> Within(double from, double to) const;

  // Statistics of the points [begin, end).
  IntervalStatistics Statistics(size_t begin, size_t end) const;
  // The same of only those whose value lies within [low, high] (a view
  // zoomed into a box); whole summary nodes inside or outside the values
  // are taken or left without looking at their points.
  IntervalStatistics Statistics(size_t begin, size_t end, double low, double high) const;

  // What a line through the points within [from, to] needs on a plot
  // `columns` pixels wide: the indexes to draw, ascending, including the
  // nearest point outside each end so the line runs on to the plot's edge.
  // While the interval holds no more than two points a column every point is
  // drawn; beyond that the time is cut into buckets of a power-of-two number
  // of seconds, at most two a column and aligned to whole multiples of their
  // width (so the picture does not shimmer as the view moves), and each
  // bucket gives its lowest and highest point.
  //
  // Given the reduction it made before, for a view that still starts where
  // that one did, only the buckets from that one's last on are redone when
  // nothing but new points came since: a chart that follows its newest
  // point adds in constant time.
  struct Reduction {
    std::vector<uint32_t> Indexes;
    int64_t BucketSeconds = 0;  // 0 when every point is drawn

    // Where this reduction can be taken up again.
    uint64_t Rewrites = 0;
    size_t First = 0;      // first point within the interval
    size_t End = 0;        // and one past its last
    size_t TailAt = 0;     // where the last bucket starts in Indexes
    size_t TailFirst = 0;  // and its first point
  };
  Reduction Reduce(double from, double to, int columns, const Reduction* before = nullptr) const;

  // Heap bytes held for the points and their summary.
  size_t BytesUsed() const;

 private:
  struct StoredPoint {
    int32_t Offset;
    float Y;
  };
  struct Node {
    uint32_t MinIndex;
    uint32_t MaxIndex;
    float MinY;
    float MaxY;
    double Mean;
    double M2;  // sum of squared deviations from Mean
    double Integral;
  };
  struct Fold;

  static constexpr int ChunkBits = 12;
  static constexpr size_t ChunkSize = size_t{1} << ChunkBits;
  static constexpr size_t LeafSize = 32;
  static constexpr size_t Fan = 8;

  const StoredPoint& At(size_t i) const { return chunks_[i >> ChunkBits][i & (ChunkSize - 1)]; }
  StoredPoint& At(size_t i) { return chunks_[i >> ChunkBits][i & (ChunkSize - 1)]; }
  // The share of the integral that falls to point i: the trapezoid back to
  // the point before it.
  double IntegralStep(size_t i) const;
  size_t NodeSpan(size_t level) const;
  void RebuildSummaryFrom(size_t first);
  void FoldRange(size_t begin, size_t end, Fold& fold) const;
  void FoldWithin(size_t level, size_t node, size_t begin, size_t end, double low, double high,
                  Fold& fold) const;
  IntervalStatistics FromFold(const Fold& fold, double firstStep) const;
  size_t LowerBoundIn(size_t lo, size_t hi, int64_t second) const;

  std::vector<std::unique_ptr<StoredPoint[]>> chunks_;
  size_t size_ = 0;
  int64_t base_ = 0;
  float minY_ = 0;
  float maxY_ = 0;
  uint64_t clears_ = 0;
  uint64_t rewrites_ = 0;
  std::vector<std::vector<Node>> levels_;
};

// Where a line through a reduction's points breaks because nothing was
// measured for longer than `maxGapSeconds`: the positions in
// `reduction.Indexes` that begin a new run, ascending. With every point
// drawn, consecutive points further apart than the gap break the line. In a
// reduced view a gap counts only between buckets and only when it is longer
// than a bucket too (a shorter one is less than a pixel wide), so the
// answer costs a search per drawn point, never a scan of the points
// between. A gap of 0 or less never breaks.
std::vector<size_t> LineBreaks(const ChartPoints& points, const ChartPoints::Reduction& reduction,
                               double maxGapSeconds);

// How often the points were taken, in seconds: the median of the spacings
// between consecutive points at different times (an archive's record
// period, read from its records whatever the instrument is set to now).
// 0 below two distinct times.
int64_t TypicalSpacing(const ChartPoints& points);

// The chart's x for a step at `seconds` since 1970: local standard time as
// days since 30 December 1899. `utcMinusLocal` is the standard-time offset.
inline double PointTimeFor(int64_t seconds, int64_t utcMinusLocal) {
  return static_cast<double>(seconds - utcMinusLocal) / 86400.0 + 25569.0;
}

// The live chart's state from one displayed poll step to the next: the
// points, the peak, the time of the last two steps and the left axis.
class LiveChart {
 public:
  // One displayed step at `seconds` since 1970. Adds the point when `plot`
  // is set and the step falls in a new second; the peak and the axis follow
  // every finite reading, plotted or not. Returns whether a point was added.
  bool AddChartPoint(float doseRate, int64_t seconds, int64_t utcMinusLocal, bool plot);
  // Removes every point and forgets the peak; the axis keeps its maximum
  // until the next step.
  void ClearChart();
  // Removes every point (start-up).
  void ClearSeries();
  // Hides the mean line until the next point is added; forgets the peak.
  void ResetMeanAndPeak();

  ChartPoints& Points() { return points_; }
  const ChartPoints& Points() const { return points_; }
  bool MeanShown() const { return meanShown_ && !points_.Empty(); }
  float PeakDoseRate() const { return peak_; }
  double PointTime() const { return pointTime_; }
  double LastPointTime() const { return lastPointTime_; }
  // The fixed maximum of the left axis, or none for an automatic one.
  std::optional<double> AxisMaximum() const { return axisMaximum_; }

 private:
  ChartPoints points_;
  float peak_ = 0;
  double pointTime_ = 0;
  double lastPointTime_ = 0;
  std::optional<double> axisMaximum_;
  bool meanShown_ = true;
};

// The highest point sits at 7/8 of the axis.
inline double FixedAxisMaximum(float peak) {
  return static_cast<double>(peak) + static_cast<double>(peak) / 7.0;
}

// An automatic maximum: a little above the highest point, or 1 when nothing
// positive is plotted (the minimum stays 0).
double AutomaticAxisMaximum(const ChartPoints& points);

}  // namespace vantor
