// Benchmark of the lanes: 10 000 values enciphered by feistel_encrypt_many (128 bits, the
// codec's tweak; and once in a modulus whose values walk) and 10 000 blocks through
// hmac_blocks_many, on every lane path this processor runs, each against the same work done
// one value at a time on the single chain. Each
// iteration times both, back to back and in alternating order, and keeps the ratio of their
// CPU times; the table at the end gives the median ratio and the time per value. A shared
// machine slows both halves of a pair alike, so the ratios hold still where times drift.
//
//   tavik_lanes_bench [--benchmark_min_time=S] [--benchmark_filter=REGEX]
//
// The rows "openssl" time OpenSSL's block function in place of the SHA-instruction chain:
// with OPENSSL_ia32cap=":~0x20000000" in the environment OpenSSL leaves the SHA instructions
// alone, which is the single chain of a processor without them.

#include <benchmark/benchmark.h>

#include "bench/bench_util.h"

#include <time.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "fpe/lanes.h"
#include "fpe/cipher_key.h"
#include "fpe/feistel.h"
#include "fpe/hmac.h"
#include "fpe/sha256.h"
#include "tests/support/openssl_sha256.h"

namespace tavik {
namespace {


constexpr size_t kNumValues = 10000;
constexpr uint8_t kKey[] = {'b', 'e', 'n', 'c', 'h', ' ', 'k', 'e', 'y'};
constexpr std::array<uint8_t, 4> kTweak = {0, 0, 128, 0};  // universal, sealed, 128 bits

struct Inputs {
  fpe::CipherKeyState state = fpe::derive_cipher_key(kKey, fpe::CipherDomain::bits(128));
  std::vector<U128> values;
  // A modulus just above a power of two, 2^20 + 3: half of its 21-bit values walk.
  fpe::CipherKeyState mod_state =
      fpe::derive_cipher_key(kKey, fpe::CipherDomain::mod(U128::from_u64((1u << 20) + 3)));
  std::vector<U128> mod_values;
  std::vector<std::array<uint8_t, fpe::kSha256BlockLen>> blocks;
};

const Inputs& inputs() {
  static const Inputs in = [] {
    Inputs made;
    uint64_t x = 0x9e3779b97f4a7c15ull;
    auto next = [&x] {
      x ^= x << 13;
      x ^= x >> 7;
      x ^= x << 17;
      return x;
    };
    for (size_t i = 0; i < kNumValues; ++i) {
      made.values.emplace_back(next(), next());
      made.mod_values.push_back(U128::from_u64(next() % ((1u << 20) + 3)));
    }
    made.blocks.resize(kNumValues);
    for (auto& block : made.blocks) {
      for (uint8_t& b : block) { b = static_cast<uint8_t>(next()); }
    }
    return made;
  }();
  return in;
}

// Times `single` and `lanes` back to back in every iteration and reports the median ratio of
// their CPU times and each one's mean time per value.
template <typename Single, typename Lanes>
void paired(benchmark::State& state, Single single, Lanes lanes) {
  std::vector<double> ratios;
  double single_ns = 0;
  double lanes_ns = 0;
  bool single_first = true;
  for (auto _ : state) {
    double s = 0;
    double l = 0;
    const double t0 = bench::thread_cpu_ns();
    if (single_first) {
      single();
    } else {
      lanes();
    }
    const double t1 = bench::thread_cpu_ns();
    if (single_first) {
      lanes();
    } else {
      single();
    }
    const double t2 = bench::thread_cpu_ns();
    s = single_first ? t1 - t0 : t2 - t1;
    l = single_first ? t2 - t1 : t1 - t0;
    single_first = !single_first;
    ratios.push_back(l / s);
    single_ns += s;
    lanes_ns += l;
  }
  std::sort(ratios.begin(), ratios.end());
  const auto n = static_cast<double>(ratios.size() * kNumValues);
  state.counters["ratio"] = ratios.empty() ? 0.0 : ratios[ratios.size() / 2];
  state.counters["single_ns"] = ratios.empty() ? 0.0 : single_ns / n;
  state.counters["lanes_ns"] = ratios.empty() ? 0.0 : lanes_ns / n;
}

void encrypt_single(const fpe::CipherKeyState& key, const std::vector<U128>& values,
                    std::vector<U128>& out) {
  const fpe::Feistel8 cipher(key);
  for (size_t i = 0; i < kNumValues; ++i) { out[i] = cipher.encrypt(values[i], kTweak); }
  benchmark::DoNotOptimize(out.data());
}

void encrypt_many(benchmark::State& state, const fpe::CipherKeyState& key,
                  const std::vector<U128>& values, fpe::LanePath path) {
  std::vector<U128> a(kNumValues);
  std::vector<U128> b(kNumValues);
  paired(
      state, [&] { encrypt_single(key, values, a); },
      [&] {
        fpe::feistel_encrypt_many(key, kTweak, values, b, path);
        benchmark::DoNotOptimize(b.data());
      });
  if (a != b) { state.SkipWithError("the lanes differ from the single chain"); }
}

void BM_EncryptMany(benchmark::State& state, fpe::LanePath path) {
  encrypt_many(state, inputs().state, inputs().values, path);
}

// Values that walk: the lanes keep walking while the others take the next values.
void BM_EncryptManyModulus(benchmark::State& state, fpe::LanePath path) {
  encrypt_many(state, inputs().mod_state, inputs().mod_values, path);
}

// The portable single chain: each round's block laid out in memory and finished by
// sha256_hmac_block.
void BM_EncryptPortable(benchmark::State& state) {
  const Inputs& in = inputs();
  const fpe::Feistel8 cipher(in.state);
  std::vector<U128> a(kNumValues);
  std::vector<U128> b(kNumValues);
  paired(
      state, [&] { encrypt_single(in.state, in.values, a); },
      [&] {
        for (size_t i = 0; i < kNumValues; ++i) {
          b[i] = cipher.encrypt_portable(in.values[i], kTweak);
        }
        benchmark::DoNotOptimize(b.data());
      });
}

using Macs = std::vector<std::array<uint32_t, 8>>;

void hmac_single(Macs& out) {
  const Inputs& in = inputs();
  const fpe::HmacKey& key = in.state.hmac;
  for (size_t i = 0; i < kNumValues; ++i) {
    fpe::sha256_hmac_block(key.inner_state().h, key.outer_state().h, in.blocks[i].data(),
                           out[i].data());
  }
  benchmark::DoNotOptimize(out.data());
}

void BM_HmacBlocksMany(benchmark::State& state, fpe::LanePath path) {
  const Inputs& in = inputs();
  Macs a(kNumValues);
  Macs b(kNumValues);
  paired(
      state, [&] { hmac_single(a); },
      [&] {
        const auto* blocks =
            reinterpret_cast<const uint8_t (*)[fpe::kSha256BlockLen]>(in.blocks.data());
        fpe::hmac_blocks_many(in.state.hmac, blocks, kNumValues,
                              reinterpret_cast<uint32_t (*)[8]>(b.data()), path);
        benchmark::DoNotOptimize(b.data());
      });
  if (a != b) { state.SkipWithError("the lanes differ from the single HMAC"); }
}

void BM_HmacOpenssl(benchmark::State& state) {
  const Inputs& in = inputs();
  const fpe::HmacKey& key = in.state.hmac;
  Macs a(kNumValues);
  Macs b(kNumValues);
  paired(
      state, [&] { hmac_single(a); },
      [&] {
        for (size_t i = 0; i < kNumValues; ++i) {
          openssl_reference::sha256_hmac_block_openssl(key.inner_state().h, key.outer_state().h,
                                         in.blocks[i].data(), b[i].data());
        }
        benchmark::DoNotOptimize(b.data());
      });
}

// Keeps each benchmark's counters (the median over repetitions, where there are several)
// and prints them as one table at the end, in the order of registration.
class TableReporter : public benchmark::ConsoleReporter {
 public:
  explicit TableReporter(std::vector<std::string> order) : order_(std::move(order)) {}

  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) {
      if (!bench::is_figure(run)) { continue; }
      rows_[run.run_name.function_name] = {run.counters.at("single_ns"), run.counters.at("lanes_ns"),
                     run.counters.at("ratio")};
    }
  }

  void print_table() const {
    std::printf("\nPer value, 10 000 values (CPU time; ratio = median of paired ratios):\n");
    std::printf("%-28s %12s %12s %8s\n", "benchmark", "single ns", "lanes ns", "ratio");
    for (const std::string& name : order_) {
      const auto it = rows_.find(name);
      if (it == rows_.end()) { continue; }
      const Row& r = it->second;
      std::printf("%-28s %12.1f %12.1f %8.3f\n", name.c_str(), r.single_ns, r.lanes_ns, r.ratio);
    }
  }

 private:
  struct Row {
    double single_ns;
    double lanes_ns;
    double ratio;
  };
  std::vector<std::string> order_;
  std::map<std::string, Row> rows_;
};

}  // namespace
}  // namespace tavik

int main(int argc, char** argv) {
  using tavik::fpe::LanePath;
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) { return 1; }
  const LanePath chosen = tavik::fpe::lane_path();
  std::printf("backend: %s; lane path chosen: %s\n",
              std::string(tavik::fpe::backend().name).c_str(),
              std::string(tavik::fpe::lane_path_name(chosen)).c_str());
  std::vector<std::string> names;
  auto add = [&names](const std::string& name, auto function, auto... args) {
    names.push_back(name);
    benchmark::RegisterBenchmark(name.c_str(), function, args...)->Unit(benchmark::kMillisecond);
  };
  for (LanePath path : tavik::fpe::kAllLanePaths) {
    if (!tavik::fpe::lane_path_available(path)) { continue; }
    add("EncryptMany/" + std::string(tavik::fpe::lane_path_name(path)), tavik::BM_EncryptMany,
        path);
  }
  add("EncryptManyModulus/" + std::string(tavik::fpe::lane_path_name(chosen)),
      tavik::BM_EncryptManyModulus, chosen);
  add("EncryptPortable", tavik::BM_EncryptPortable);
  for (LanePath path : tavik::fpe::kAllLanePaths) {
    if (!tavik::fpe::lane_path_available(path)) { continue; }
    add("HmacBlocksMany/" + std::string(tavik::fpe::lane_path_name(path)),
        tavik::BM_HmacBlocksMany, path);
  }
  add("HmacOpenssl", tavik::BM_HmacOpenssl);
  tavik::TableReporter reporter(names);
  benchmark::RunSpecifiedBenchmarks(&reporter);
  reporter.print_table();
  benchmark::Shutdown();
  return 0;
}
