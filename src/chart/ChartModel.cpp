#include "ChartModel.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace vantor {
namespace {

constexpr size_t NoIndex = std::numeric_limits<size_t>::max();

// Seconds from a double, kept well inside int64 so arithmetic on them
// cannot overflow whatever range a view asks for.
int64_t ClampSecond(double seconds) {
  constexpr double Limit = 4.0e15;
  if (std::isnan(seconds)) {
    return 0;
  }
  return static_cast<int64_t>(std::clamp(seconds, -Limit, Limit));
}

int64_t FloorDiv(int64_t a, int64_t b) {
  const int64_t q = a / b;
  return (a % b != 0 && (a < 0) != (b < 0)) ? q - 1 : q;
}

}  // namespace

// Accumulates points and summary nodes in any order. The extremes keep the
// earliest of equal values, so the answer does not depend on how an interval
// was cut into nodes; `full` adds the mean, spread and integral (merged as
// Chan et al. do, which stays accurate over millions of points).
struct ChartPoints::Fold {
  const ChartPoints& Points;
  bool Full = true;
  size_t Count = 0;
  double Mean = 0;
  double M2 = 0;
  double Integral = 0;
  size_t MinIndex = NoIndex;
  size_t MaxIndex = NoIndex;
  float MinY = 0;
  float MaxY = 0;

  void TakeExtremes(size_t minIndex, float low, size_t maxIndex, float high) {
    if (MinIndex == NoIndex) {
      MinIndex = minIndex;
      MinY = low;
      MaxIndex = maxIndex;
      MaxY = high;
      return;
    }
    if (low < MinY || (low == MinY && minIndex < MinIndex)) {
      MinIndex = minIndex;
      MinY = low;
    }
    if (high > MaxY || (high == MaxY && maxIndex < MaxIndex)) {
      MaxIndex = maxIndex;
      MaxY = high;
    }
  }

  void AddPoint(size_t i) {
    const float value = Points.Y(i);
    TakeExtremes(i, value, i, value);
    if (!Full) {
      return;
    }
    const double y = value;
    ++Count;
    const double delta = y - Mean;
    Mean += delta / static_cast<double>(Count);
    M2 += delta * (y - Mean);
    Integral += Points.IntegralStep(i);
  }

  void AddNode(const Node& node, size_t count) {
    TakeExtremes(node.MinIndex, node.MinY, node.MaxIndex, node.MaxY);
    if (!Full) {
      return;
    }
    Integral += node.Integral;
    if (Count == 0) {
      Count = count;
      Mean = node.Mean;
      M2 = node.M2;
      return;
    }
    const double na = static_cast<double>(Count);
    const double nb = static_cast<double>(count);
    const double n = na + nb;
    const double delta = node.Mean - Mean;
    Mean += delta * nb / n;
    M2 += node.M2 + delta * delta * na * nb / n;
    Count += count;
  }

  Node ToNode() const {
    return {static_cast<uint32_t>(MinIndex),
            static_cast<uint32_t>(MaxIndex),
            MinY,
            MaxY,
            Mean,
            M2,
            Integral};
  }
};

ChartPoints::ChartPoints() = default;
ChartPoints::~ChartPoints() = default;

size_t ChartPoints::NodeSpan(size_t level) const {
  size_t span = LeafSize;
  for (size_t k = 0; k < level; ++k) {
    span *= Fan;
  }
  return span;
}

double ChartPoints::IntegralStep(size_t i) const {
  if (i == 0) {
    return 0;
  }
  const int64_t gap = Second(i) - Second(i - 1);
  if (gap <= 0 || gap > MaxIntegralGap) {
    return 0;
  }
  return (static_cast<double>(Y(i - 1)) + static_cast<double>(Y(i))) / 2.0 *
         static_cast<double>(gap) / 3600.0;
}

bool ChartPoints::Add(int64_t second, float y) {
  if (!std::isfinite(y)) {
    return false;
  }
  if (size_ == 0) {
    base_ = second;
  }
  const int64_t offset = second - base_;
  if (offset < std::numeric_limits<int32_t>::min() ||
      offset > std::numeric_limits<int32_t>::max()) {
    return false;
  }
  if (size_ == chunks_.size() * ChunkSize) {
    chunks_.push_back(std::make_unique<StoredPoint[]>(ChunkSize));
  }
  const StoredPoint point{static_cast<int32_t>(offset), y};
  size_t at = size_;
  if (size_ > 0 && second < LastSecond()) {
    at = UpperBound(second);
    ++rewrites_;
    for (size_t i = size_; i > at; --i) {
      At(i) = At(i - 1);
    }
  }
  At(at) = point;
  ++size_;
  minY_ = size_ == 1 ? y : std::min(minY_, y);
  maxY_ = size_ == 1 ? y : std::max(maxY_, y);
  RebuildSummaryFrom(at);
  return true;
}

void ChartPoints::Clear() {
  chunks_.clear();
  levels_.clear();
  size_ = 0;
  base_ = 0;
  minY_ = 0;
  maxY_ = 0;
  ++clears_;
  ++rewrites_;
}

double ChartPoints::Mean() const {
  return levels_.empty() ? 0.0 : levels_.back().front().Mean;
}

// Recomputes every node that covers point `first` or a later one: after an
// append that is one node a level, so adding stays cheap at any size.
void ChartPoints::RebuildSummaryFrom(size_t first) {
  if (size_ == 0) {
    levels_.clear();
    return;
  }
  if (levels_.empty()) {
    levels_.emplace_back();
  }
  size_t from = first / LeafSize;
  std::vector<Node>& leaves = levels_[0];
  leaves.resize((size_ + LeafSize - 1) / LeafSize);
  for (size_t j = from; j < leaves.size(); ++j) {
    Fold fold{*this};
    const size_t end = std::min(size_, (j + 1) * LeafSize);
    for (size_t i = j * LeafSize; i < end; ++i) {
      fold.AddPoint(i);
    }
    leaves[j] = fold.ToNode();
  }
  size_t level = 0;
  while (levels_[level].size() > 1) {
    if (level + 1 == levels_.size()) {
      levels_.emplace_back();
      from = 0;
    } else {
      from /= Fan;
    }
    const std::vector<Node>& children = levels_[level];
    std::vector<Node>& parents = levels_[level + 1];
    parents.resize((children.size() + Fan - 1) / Fan);
    const size_t childSpan = NodeSpan(level);
    for (size_t j = from; j < parents.size(); ++j) {
      Fold fold{*this};
      const size_t end = std::min(children.size(), (j + 1) * Fan);
      for (size_t c = j * Fan; c < end; ++c) {
        fold.AddNode(children[c], std::min(size_, (c + 1) * childSpan) - c * childSpan);
      }
      parents[j] = fold.ToNode();
    }
    ++level;
  }
  levels_.resize(level + 1);
}

// Folds the points [begin, end): single points up to the first node edge at
// each end, then whole nodes, climbing a level wherever a run of nodes
// fills a parent.
void ChartPoints::FoldRange(size_t begin, size_t end, Fold& fold) const {
  size_t lo = begin;
  size_t hi = std::min(end, size_);
  while (lo < hi && lo % LeafSize != 0) {
    fold.AddPoint(lo++);
  }
  if (hi != size_) {
    while (hi > lo && hi % LeafSize != 0) {
      fold.AddPoint(--hi);
    }
  }
  if (lo >= hi) {
    return;
  }
  size_t a = lo / LeafSize;
  size_t b = (hi + LeafSize - 1) / LeafSize;
  for (size_t level = 0; a < b; ++level) {
    const size_t span = NodeSpan(level);
    const auto addNode = [&](size_t j) {
      fold.AddNode(levels_[level][j], std::min(size_, (j + 1) * span) - j * span);
    };
    if (level + 1 == levels_.size()) {
      for (size_t j = a; j < b; ++j) {
        addNode(j);
      }
      return;
    }
    while (a < b && a % Fan != 0) {
      addNode(a++);
    }
    // The last node of a level may be partly filled, and so its parent.
    const bool toEnd = b == levels_[level].size();
    if (!toEnd) {
      while (b > a && b % Fan != 0) {
        addNode(--b);
      }
    }
    if (a >= b) {
      return;
    }
    a /= Fan;
    b = toEnd ? (b + Fan - 1) / Fan : b / Fan;
  }
}

size_t ChartPoints::LowerBound(int64_t second) const {
  return LowerBoundIn(0, size_, second);
}

size_t ChartPoints::LowerBoundIn(size_t lo, size_t hi, int64_t second) const {
  while (lo < hi) {
    const size_t mid = lo + (hi - lo) / 2;
    if (Second(mid) < second) {
      lo = mid + 1;
    } else {
      hi = mid;
    }
  }
  return lo;
}

size_t ChartPoints::UpperBound(int64_t second) const {
  return second == std::numeric_limits<int64_t>::max() ? size_ : LowerBound(second + 1);
}

std::pair<size_t, size_t> ChartPoints::Within(double from, double to) const {
  const size_t first = LowerBound(ClampSecond(std::ceil(from)));
  const size_t end = UpperBound(ClampSecond(std::floor(to)));
  return {first, std::max(first, end)};
}

IntervalStatistics ChartPoints::Statistics(size_t begin, size_t end) const {
  end = std::min(end, size_);
  if (begin >= end) {
    return {};
  }
  Fold fold{*this};
  FoldRange(begin, end, fold);
  // The step back from the first point reaches outside the interval.
  return FromFold(fold, IntegralStep(begin));
}

IntervalStatistics ChartPoints::Statistics(size_t begin, size_t end, double low,
                                           double high) const {
  end = std::min(end, size_);
  if (begin >= end || levels_.empty() || !(high >= low)) {
    return {};
  }
  Fold fold{*this};
  FoldWithin(levels_.size() - 1, 0, begin, end, low, high, fold);
  const double first = Y(begin);
  return FromFold(fold, first >= low && first <= high ? IntegralStep(begin) : 0.0);
}

void ChartPoints::FoldWithin(size_t level, size_t node, size_t begin, size_t end, double low,
                             double high, Fold& fold) const {
  const size_t span = NodeSpan(level);
  const size_t first = node * span;
  const size_t last = std::min(size_, first + span);  // one past
  if (node >= levels_[level].size() || last <= begin || first >= end) {
    return;
  }
  const Node& summary = levels_[level][node];
  if (summary.MaxY < low || summary.MinY > high) {
    return;
  }
  if (first >= begin && last <= end && summary.MinY >= low && summary.MaxY <= high) {
    fold.AddNode(summary, last - first);
    return;
  }
  if (level == 0) {
    for (size_t i = std::max(first, begin); i < std::min(last, end); ++i) {
      if (Y(i) >= low && Y(i) <= high) {
        fold.AddPoint(i);
      }
    }
    return;
  }
  for (size_t child = node * Fan; child < (node + 1) * Fan; ++child) {
    FoldWithin(level - 1, child, begin, end, low, high, fold);
  }
}

IntervalStatistics ChartPoints::FromFold(const Fold& fold, double firstStep) const {
  IntervalStatistics stats;
  if (fold.Count == 0) {
    return stats;
  }
  stats.Count = fold.Count;
  stats.Mean = fold.Mean;
  stats.StdDev =
      fold.Count > 1 ? std::sqrt(std::max(0.0, fold.M2 / static_cast<double>(fold.Count - 1))) : 0;
  stats.MinIndex = fold.MinIndex;
  stats.MaxIndex = fold.MaxIndex;
  stats.Min = Y(fold.MinIndex);
  stats.Max = Y(fold.MaxIndex);
  stats.Integral = fold.Integral - firstStep;
  return stats;
}

ChartPoints::Reduction ChartPoints::Reduce(double from, double to, int columns,
                                           const Reduction* before) const {
  Reduction reduction;
  if (size_ == 0 || !(to >= from)) {
    return reduction;
  }
  const auto [first, end] = Within(from, to);
  const size_t lo = first > 0 ? first - 1 : 0;
  const size_t hi = end < size_ ? end + 1 : size_;
  const size_t limit = 2 * static_cast<size_t>(std::max(columns, 1));
  std::vector<uint32_t>& out = reduction.Indexes;
  reduction.Rewrites = rewrites_;
  reduction.First = first;
  reduction.End = end;
  if (end - first <= limit) {
    out.reserve(hi - lo);
    for (size_t i = lo; i < hi; ++i) {
      out.push_back(static_cast<uint32_t>(i));
    }
    return reduction;
  }
  int64_t width = 1;
  while (static_cast<double>(width) * static_cast<double>(limit) < to - from &&
         width < (1LL << 50)) {
    width *= 2;
  }
  reduction.BucketSeconds = width;
  out.reserve(2 * limit + 6);
  size_t i = first;
  if (before != nullptr && before->BucketSeconds == width && before->Rewrites == rewrites_ &&
      before->First == first && before->End <= end && before->TailAt <= before->Indexes.size()) {
    out.assign(before->Indexes.begin(),
               before->Indexes.begin() + static_cast<std::ptrdiff_t>(before->TailAt));
    i = before->TailFirst;
  } else if (lo < first) {
    out.push_back(static_cast<uint32_t>(lo));
  }
  while (i < end) {
    const int64_t key = FloorDiv(Second(i), width);
    const size_t next = std::min(end, LowerBoundIn(i, end, (key + 1) * width));
    reduction.TailAt = out.size();
    reduction.TailFirst = i;
    Fold fold{*this, false};
    FoldRange(i, next, fold);
    const size_t a = std::min(fold.MinIndex, fold.MaxIndex);
    const size_t b = std::max(fold.MinIndex, fold.MaxIndex);
    out.push_back(static_cast<uint32_t>(a));
    if (b != a) {
      out.push_back(static_cast<uint32_t>(b));
    }
    i = next;
  }
  if (hi > end) {
    out.push_back(static_cast<uint32_t>(end));
  }
  return reduction;
}

std::vector<size_t> LineBreaks(const ChartPoints& points, const ChartPoints::Reduction& reduction,
                               double maxGapSeconds) {
  std::vector<size_t> breaks;
  const std::vector<uint32_t>& drawn = reduction.Indexes;
  if (!(maxGapSeconds > 0)) {
    return breaks;
  }
  const int64_t bucket = reduction.BucketSeconds;
  const double limit = std::max(maxGapSeconds, static_cast<double>(bucket));
  for (size_t k = 1; k < drawn.size(); ++k) {
    const int64_t before = points.Second(drawn[k - 1]);
    const int64_t at = points.Second(drawn[k]);
    int64_t gap = at - before;
    if (bucket > 0) {
      const int64_t key = FloorDiv(at, bucket);
      if (FloorDiv(before, bucket) == key) {
        continue;
      }
      // Between two buckets the only spacing longer than a bucket is the
      // one into this point's bucket: every bucket between is empty.
      const size_t first = points.LowerBound(key * bucket);
      gap = first > 0 ? points.Second(first) - points.Second(first - 1) : 0;
    }
    if (static_cast<double>(gap) > limit) {
      breaks.push_back(k);
    }
  }
  return breaks;
}

int64_t TypicalSpacing(const ChartPoints& points) {
  std::vector<int64_t> spacings;
  spacings.reserve(points.Size());
  for (size_t i = 1; i < points.Size(); ++i) {
    const int64_t spacing = points.Second(i) - points.Second(i - 1);
    if (spacing > 0) {
      spacings.push_back(spacing);
    }
  }
  if (spacings.empty()) {
    return 0;
  }
  const auto middle = spacings.begin() + static_cast<std::ptrdiff_t>(spacings.size() / 2);
  std::nth_element(spacings.begin(), middle, spacings.end());
  return *middle;
}

size_t ChartPoints::BytesUsed() const {
  size_t bytes = chunks_.size() * ChunkSize * sizeof(StoredPoint) +
                 chunks_.capacity() * sizeof(std::unique_ptr<StoredPoint[]>) +
                 levels_.capacity() * sizeof(std::vector<Node>);
  for (const std::vector<Node>& level : levels_) {
    bytes += level.capacity() * sizeof(Node);
  }
  return bytes;
}

bool LiveChart::AddChartPoint(float doseRate, int64_t seconds, int64_t utcMinusLocal, bool plot) {
  lastPointTime_ = pointTime_;
  pointTime_ = PointTimeFor(seconds, utcMinusLocal);
  // A reading that is not a number would poison the running mean and the
  // axis for the rest of the run, so it is neither plotted nor a peak.
  const bool finite = std::isfinite(doseRate);
  bool added = false;
  if (plot && finite && pointTime_ != lastPointTime_) {
    added = points_.Add(seconds, doseRate);
    meanShown_ = meanShown_ || added;
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
