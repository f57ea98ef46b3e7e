// Timing of the native calls by the calling thread's CPU time: the machine
// may be shared, and the native calls run on the caller's thread alone.
#pragma once

#include <algorithm>
#include <ctime>
#include <vector>

namespace orvek::bench {

inline double ThreadSeconds() {
  timespec ts{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + 1e-9 * static_cast<double>(ts.tv_nsec);
}

// Median thread seconds of `runs` calls of f.
template <class F> double MedianSeconds(int runs, F &&f) {
  std::vector<double> t;
  for (int r = 0; r < runs; ++r) {
    const double start = ThreadSeconds();
    f();
    t.push_back(ThreadSeconds() - start);
  }
  std::sort(t.begin(), t.end());
  return t[t.size() / 2];
}

}  // namespace orvek::bench
