// The lane count by measurement: runs the measurement that the backend table makes on first
// use (fastest_lanes) many times in one process and prints each path's cost per HMAC
// against the single chain, and how often each lane count was chosen, to show that the choice
// is stable from run to run. Usage: tavik_lane_choice [RUNS]

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "fpe/backend.h"

int main(int argc, char** argv) {
  using tavik::fpe::LanePath;
  using tavik::fpe::LaneTiming;
  const int runs = argc > 1 ? std::atoi(argv[1]) : 20;
  std::printf("backend: %s\n", std::string(tavik::fpe::backend().name).c_str());
  std::map<std::string, int> chosen;
  std::map<std::string, std::vector<double>> costs;
  std::vector<double> durations_us;
  for (int run = 0; run < runs; ++run) {
    LaneTiming timings[std::size(tavik::fpe::kAllLanePaths)];
    size_t n = 0;
    const auto start = std::chrono::steady_clock::now();
    const LanePath path = tavik::fpe::fastest_lanes(tavik::fpe::backend().hmac_block, timings, &n);
    durations_us.push_back(
        std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start)
            .count());
    ++chosen[std::string(tavik::fpe::lane_path_name(path))];
    for (size_t i = 0; i < n; ++i) {
      costs[std::string(tavik::fpe::lane_path_name(timings[i].path))].push_back(
          timings[i].relative_cost);
    }
  }
  if (costs.empty()) {
    std::printf("no lanes measured\n");
    return 0;
  }
  std::printf("cost per HMAC against the single chain (%d measurements; least, median, most):\n",
              runs);
  for (auto& [name, v] : costs) {
    std::sort(v.begin(), v.end());
    std::printf("  %-8s %6.3f %6.3f %6.3f\n", name.c_str(), v.front(), v[v.size() / 2], v.back());
  }
  std::sort(durations_us.begin(), durations_us.end());
  std::printf("one measurement takes %.0f us (median; longest %.0f us)\n",
              durations_us[durations_us.size() / 2], durations_us.back());
  std::printf("chosen:");
  for (const auto& [name, count] : chosen) { std::printf(" %s %d of %d;", name.c_str(), count, runs); }
  std::printf("\n");
}
