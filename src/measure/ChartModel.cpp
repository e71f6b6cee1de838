#include "ChartModel.h"

#include <algorithm>
#include <cmath>

#include "LiveTexts.h"

namespace vantor {
namespace {

constexpr int BucketsPerColumn = 2;

}  // namespace

int64_t ChartPoints::SecondOf(double x) {
  return static_cast<int64_t>(std::llround((x - 25569.0) * 86400.0));
}

void ChartPoints::Add(double x, float y) {
  const bool inOrder = xs_.empty() || x >= xs_.back();
  if (inOrder) {
    xs_.push_back(x);
    ys_.push_back(y);
  } else {
    const auto at = std::upper_bound(xs_.begin(), xs_.end(), x) - xs_.begin();
    xs_.insert(xs_.begin() + at, x);
    ys_.insert(ys_.begin() + at, y);
    stale_ = true;
  }
  sum_ += y;
  maxY_ = xs_.size() == 1 ? y : std::max(maxY_, y);
  if (!stale_) {
    const int needed = LevelFor(SecondOf(xs_.front()), SecondOf(xs_.back()));
    if (needed > level_) {
      RaiseLevel(needed);
    }
    AddToBuckets(static_cast<uint32_t>(xs_.size() - 1));
  }
}

void ChartPoints::Clear() {
  xs_.clear();
  ys_.clear();
  sum_ = 0;
  maxY_ = 0;
  buckets_.clear();
  level_ = 0;
  stale_ = false;
}

void ChartPoints::SetColumns(int columns) {
  columns = std::max(columns, 1);
  if (columns != columns_) {
    columns_ = columns;
    stale_ = true;
  }
}

int ChartPoints::LevelFor(int64_t firstSecond, int64_t lastSecond) const {
  const int64_t limit = static_cast<int64_t>(columns_) * BucketsPerColumn;
  int level = 0;
  while (level < 62 && (lastSecond >> level) - (firstSecond >> level) + 1 > limit) {
    ++level;
  }
  return level;
}

void ChartPoints::Rebuild() {
  buckets_.clear();
  level_ = xs_.empty() ? 0 : LevelFor(SecondOf(xs_.front()), SecondOf(xs_.back()));
  for (size_t i = 0; i < xs_.size(); ++i) {
    AddToBuckets(static_cast<uint32_t>(i));
  }
  stale_ = false;
}

void ChartPoints::RaiseLevel(int level) {
  const int shift = level - level_;
  size_t out = 0;
  for (size_t i = 0; i < buckets_.size(); ++i) {
    Bucket b = buckets_[i];
    b.Key >>= shift;
    if (out > 0 && buckets_[out - 1].Key == b.Key) {
      Bucket& into = buckets_[out - 1];
      if (ys_[b.MinIndex] < ys_[into.MinIndex]) {
        into.MinIndex = b.MinIndex;
      }
      if (ys_[b.MaxIndex] > ys_[into.MaxIndex]) {
        into.MaxIndex = b.MaxIndex;
      }
    } else {
      buckets_[out++] = b;
    }
  }
  buckets_.resize(out);
  level_ = level;
}

void ChartPoints::AddToBuckets(uint32_t index) {
  const int64_t key = SecondOf(xs_[index]) >> level_;
  if (!buckets_.empty() && buckets_.back().Key == key) {
    Bucket& b = buckets_.back();
    if (ys_[index] < ys_[b.MinIndex]) {
      b.MinIndex = index;
    }
    if (ys_[index] > ys_[b.MaxIndex]) {
      b.MaxIndex = index;
    }
    return;
  }
  buckets_.push_back({key, index, index});
}

std::vector<uint32_t> ChartPoints::DrawIndexes() {
  if (stale_) {
    Rebuild();
  }
  std::vector<uint32_t> indexes;
  indexes.reserve(buckets_.size() * 2);
  for (const Bucket& b : buckets_) {
    const uint32_t first = std::min(b.MinIndex, b.MaxIndex);
    const uint32_t second = std::max(b.MinIndex, b.MaxIndex);
    indexes.push_back(first);
    if (second != first) {
      indexes.push_back(second);
    }
  }
  return indexes;
}

size_t ChartPoints::BytesUsed() const {
  return xs_.capacity() * sizeof(double) + ys_.capacity() * sizeof(float) +
         buckets_.capacity() * sizeof(Bucket);
}

bool LiveChart::AddChartPoint(float doseRate, int64_t seconds, int64_t utcMinusLocal, bool plot) {
  lastPointTime_ = pointTime_;
  pointTime_ = PointTimeFor(seconds, utcMinusLocal);
  // A reading that is not a number would poison the running mean and the
  // axis for the rest of the run, so it is neither plotted nor a peak.
  const bool finite = std::isfinite(doseRate);
  bool added = false;
  if (plot && finite && pointTime_ != lastPointTime_) {
    points_.Add(pointTime_, doseRate);
    meanShown_ = true;
    added = true;
  }
  if (finite && doseRate > peak_) {
    peak_ = doseRate;
  }
  if (peak_ > 0) {
    axisMaximum_ = FixedAxisMaximum(peak_);
  } else {
    axisMaximum_.reset();
  }
  return added;
}

void LiveChart::ClearChart() {
  points_.Clear();
  peak_ = 0;
}

void LiveChart::ClearSeries() {
  points_.Clear();
}

void LiveChart::ResetMeanAndPeak() {
  meanShown_ = false;
  peak_ = 0;
}

double AutomaticAxisMaximum(const ChartPoints& points) {
  if (points.Empty() || !(points.MaxY() > 0)) {
    return 1.0;
  }
  return static_cast<double>(points.MaxY()) * 1.05;
}

}  // namespace vantor
