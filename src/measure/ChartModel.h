#pragma once
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace vantor {

// Every point of the live dose-rate chart, kept for the whole run (a week at
// one point a second is 604,800 points), with what the chart needs from all
// of them in O(1): the running mean and the largest value. x is a date-time
// (days since 30 December 1899), y a dose rate.
//
// Drawing every point is far too slow, so the points are also summarised in
// buckets of 2^level seconds, at most two per pixel column of the plot; each
// bucket keeps its lowest and its highest point, which is all a line through
// that column can show. Buckets are aligned to whole multiples of their
// width, so a new point touches only the last bucket, and a growing time span
// merges buckets pairwise; only a new plot width or a point out of time order
// rescans the points.
class ChartPoints {
 public:
  // Keeps x ascending: a point earlier than the last one (the computer's
  // clock was set back) is inserted where it belongs.
  void Add(double x, float y);
  void Clear();

  size_t Size() const { return xs_.size(); }
  bool Empty() const { return xs_.empty(); }
  double X(size_t i) const { return xs_[i]; }
  float Y(size_t i) const { return ys_[i]; }
  double FirstX() const { return xs_.front(); }
  double LastX() const { return xs_.back(); }
  double Mean() const { return xs_.empty() ? 0.0 : sum_ / static_cast<double>(xs_.size()); }
  float MaxY() const { return maxY_; }  // meaningful only when not empty

  // Pixel columns of the plot; the reduction is redone when it changes.
  void SetColumns(int columns);
  int Columns() const { return columns_; }
  // Indexes of the points to draw, ascending: every point while the span is
  // short, else the lowest and highest of each bucket.
  std::vector<uint32_t> DrawIndexes();
  int Level() const { return level_; }
  size_t BucketCount() const { return buckets_.size(); }

  // Heap bytes held for the points and their summary.
  size_t BytesUsed() const;

 private:
  struct Bucket {
    int64_t Key;  // second >> level
    uint32_t MinIndex;
    uint32_t MaxIndex;
  };

  static int64_t SecondOf(double x);
  int LevelFor(int64_t firstSecond, int64_t lastSecond) const;
  void Rebuild();
  void RaiseLevel(int level);
  void AddToBuckets(uint32_t index);

  std::vector<double> xs_;
  std::vector<float> ys_;
  double sum_ = 0;
  float maxY_ = 0;

  std::vector<Bucket> buckets_;
  int columns_ = 800;
  int level_ = 0;
  bool stale_ = false;  // buckets must be rebuilt before use
};

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
