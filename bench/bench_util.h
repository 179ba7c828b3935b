#ifndef TAVIK_BENCH_BENCH_UTIL_H_
#define TAVIK_BENCH_BENCH_UTIL_H_

// What the benchmarks share: the thread's CPU clock, and which runs of Google Benchmark carry
// a benchmark's figure.

#include <benchmark/benchmark.h>

#include <time.h>

namespace tavik::bench {

// thread_cpu_ns is the CPU time of the calling thread. The machines these run on are shared:
// time spent waiting for a core would count against whichever benchmark it hit.
inline double thread_cpu_ns() {
  timespec ts{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) * 1e9 + static_cast<double>(ts.tv_nsec);
}

// is_figure tells the run that stands for a benchmark: the median over repetitions, or the
// only run without repetitions.
inline bool is_figure(const benchmark::BenchmarkReporter::Run& run) {
  using Run = benchmark::BenchmarkReporter::Run;
  if (run.error_occurred) { return false; }
  const bool median = run.run_type == Run::RT_Aggregate && run.aggregate_name == "median";
  const bool single = run.run_type == Run::RT_Iteration && run.repetitions <= 1;
  return median || single;
}

}  // namespace tavik::bench

#endif  // TAVIK_BENCH_BENCH_UTIL_H_
