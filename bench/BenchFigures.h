#pragma once
// What the benchmarks measure with: wall time in milliseconds, the median of
// samples, and the resident size of the process.
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <vector>

using Clock = std::chrono::steady_clock;

inline double Ms(Clock::duration d) {
  return std::chrono::duration<double, std::milli>(d).count();
}

inline double Median(std::vector<double> samples) {
  std::sort(samples.begin(), samples.end());
  return samples[samples.size() / 2];
}

inline long ResidentBytes() {
  std::ifstream statm("/proc/self/statm");
  long size = 0;
  long resident = 0;
  statm >> size >> resident;
  return resident * sysconf(_SC_PAGESIZE);
}
