// The SHA-256 block functions side by side, and one HMAC-SHA-256 of a cipher round's 13-byte
// message through OpenSSL's supported interfaces against our finish from absorbed states.
// Every compression waits for the one before, as in the cipher. OpenSSL chooses its own code
// by the processor, which the OPENSSL_ia32cap environment variable can narrow (see
// bench/sha256_bench.sh); our functions ignore it. At the end a table gives the fastest and
// the median CPU time of each benchmark over the repetitions of this run.
//
//   tavik_sha256_bench [--benchmark_repetitions=N] [--benchmark_filter=REGEX ...]

// SHA256_Transform is deprecated since OpenSSL 3.0; it is measured here as the block function
// the library uses today.
#define OPENSSL_API_COMPAT 0x10101000L

#include <benchmark/benchmark.h>
#include <openssl/core_names.h>
#include <openssl/evp.h>
#include <openssl/hmac.h>
#include <openssl/sha.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "fpe/lib.h"
#include "fpe/sha256.h"
#include "fpe/sha256_portable.h"

namespace tavik {
namespace {

constexpr uint8_t kKey[] = {'b', 'e', 'n', 'c', 'h', ' ', 'k', 'e', 'y'};
constexpr size_t kMessageLen = 13;  // a round message: half, tweak, round number

double fastest(const std::vector<double>& v) { return *std::min_element(v.begin(), v.end()); }

template <fpe::Sha256BlockFn kCompress>
void BM_Compress(benchmark::State& state) {
  fpe::Sha256State s = fpe::sha256_initial_state();
  const uint8_t block[fpe::kSha256BlockLen] = {'t', 'a', 'v', 'i', 'k'};
  for (auto _ : state) { kCompress(s.h, block); }
  benchmark::DoNotOptimize(s);
}

void BM_CompressShani(benchmark::State& state) {
  if (!fpe::sha256_has_shani()) {
    state.SkipWithError("no SHA instructions");
    return;
  }
  BM_Compress<fpe::sha256_compress_shani>(state);
}

void BM_CompressBmi2(benchmark::State& state) {
  if (!fpe::sha256_has_bmi2()) {
    state.SkipWithError("no BMI2");
    return;
  }
  BM_Compress<fpe::sha256_compress_bmi2>(state);
}

// SHA256_Transform on a context of its own, without the copies and wipe of
// fpe::sha256_compress_openssl: OpenSSL's block function alone.
void BM_TransformOpenssl(benchmark::State& state) {
  SHA256_CTX ctx;
  SHA256_Init(&ctx);
  const uint8_t block[fpe::kSha256BlockLen] = {'t', 'a', 'v', 'i', 'k'};
  for (auto _ : state) { SHA256_Transform(&ctx, block); }
  benchmark::DoNotOptimize(ctx);
}

BENCHMARK(BM_TransformOpenssl)->ComputeStatistics("min", fastest);
BENCHMARK(BM_Compress<fpe::sha256_compress_openssl>)->Name("BM_CompressOpensslWrapped")
    ->ComputeStatistics("min", fastest);
BENCHMARK(BM_Compress<fpe::sha256_compress_generic>)->Name("BM_CompressGeneric")
    ->ComputeStatistics("min", fastest);
BENCHMARK(BM_CompressBmi2)->ComputeStatistics("min", fastest);
BENCHMARK(BM_Compress<fpe::sha256_compress_portable>)->Name("BM_CompressPortable")
    ->ComputeStatistics("min", fastest);
BENCHMARK(BM_CompressShani)->ComputeStatistics("min", fastest);

// ---- One HMAC of a 13-byte message. Each message carries eight bytes of the previous MAC,
// so every HMAC waits for the one before, as the rounds of the cipher do.

uint8_t g_message[kMessageLen] = {0, 0, 0, 128, 0};

// Our finish from absorbed key states: the padded message is one inner block.
template <void (*kHmacBlock)(const uint32_t*, const uint32_t*, const uint8_t*, uint32_t*)>
void BM_HmacBlock(benchmark::State& state) {
  const fpe::HmacKey key = fpe::HmacKey::derive(kKey);
  uint8_t block[fpe::kSha256BlockLen] = {0, 0, 0, 128, 0};
  block[kMessageLen] = 0x80;
  block[62] = (64 + kMessageLen) * 8 / 256;
  block[63] = (64 + kMessageLen) * 8 % 256;
  uint32_t mac[8] = {};
  for (auto _ : state) {
    std::memcpy(block + 5, mac, 8);
    kHmacBlock(key.inner_state().h, key.outer_state().h, block, mac);
  }
  benchmark::DoNotOptimize(mac);
}

void BM_HmacBlockShani(benchmark::State& state) {
  if (!fpe::sha256_has_shani()) {
    state.SkipWithError("no SHA instructions");
    return;
  }
  BM_HmacBlock<fpe::sha256_hmac_block_shani>(state);
}

BENCHMARK(BM_HmacBlock<fpe::sha256_hmac_block_openssl>)->Name("BM_HmacBlockOpenssl")
    ->ComputeStatistics("min", fastest);
BENCHMARK(BM_HmacBlock<fpe::sha256_hmac_block_portable>)->Name("BM_HmacBlockPortable")
    ->ComputeStatistics("min", fastest);
BENCHMARK(BM_HmacBlockShani)->ComputeStatistics("min", fastest);

// The reference MAC of the benchmark's first message, to check each OpenSSL way once.
bool same_as_one_shot(const uint8_t* mac) {
  uint8_t expected[32];
  unsigned int len = 0;
  HMAC(EVP_sha256(), kKey, sizeof(kKey), g_message, kMessageLen, expected, &len);
  return std::memcmp(mac, expected, sizeof(expected)) == 0;
}

struct EvpMac {
  EVP_MAC* mac = EVP_MAC_fetch(nullptr, OSSL_MAC_NAME_HMAC, nullptr);
  EVP_MAC_CTX* keyed = nullptr;

  EvpMac() {
    char digest[] = "SHA256";
    const OSSL_PARAM params[] = {
        OSSL_PARAM_construct_utf8_string(OSSL_MAC_PARAM_DIGEST, digest, 0), OSSL_PARAM_END};
    keyed = EVP_MAC_CTX_new(mac);
    EVP_MAC_init(keyed, kKey, sizeof(kKey), params);
  }
  ~EvpMac() {
    EVP_MAC_CTX_free(keyed);
    EVP_MAC_free(mac);
  }
};

// EVP_MAC with the key set once: a null key to EVP_MAC_init starts the next MAC from the
// absorbed key (a copy of OpenSSL's inner state), which is the cheapest way EVP_MAC offers.
void BM_HmacEvpMacReinit(benchmark::State& state) {
  EvpMac evp;
  uint8_t message[kMessageLen];
  std::memcpy(message, g_message, sizeof(message));
  uint8_t mac[32];
  size_t len = 0;
  EVP_MAC_init(evp.keyed, nullptr, 0, nullptr);
  EVP_MAC_update(evp.keyed, message, sizeof(message));
  EVP_MAC_final(evp.keyed, mac, &len, sizeof(mac));
  if (!same_as_one_shot(mac)) {
    state.SkipWithError("EVP_MAC reinit gave another MAC");
    return;
  }
  for (auto _ : state) {
    std::memcpy(message + 5, mac, 8);
    EVP_MAC_init(evp.keyed, nullptr, 0, nullptr);
    EVP_MAC_update(evp.keyed, message, sizeof(message));
    EVP_MAC_final(evp.keyed, mac, &len, sizeof(mac));
  }
  benchmark::DoNotOptimize(mac);
}
BENCHMARK(BM_HmacEvpMacReinit)->ComputeStatistics("min", fastest);

// EVP_MAC with a copy of the keyed context per MAC: how threads sharing one key would do it.
void BM_HmacEvpMacDup(benchmark::State& state) {
  EvpMac evp;
  uint8_t message[kMessageLen];
  std::memcpy(message, g_message, sizeof(message));
  uint8_t mac[32] = {};
  size_t len = 0;
  for (auto _ : state) {
    EVP_MAC_CTX* ctx = EVP_MAC_CTX_dup(evp.keyed);
    EVP_MAC_update(ctx, message, sizeof(message));
    EVP_MAC_final(ctx, mac, &len, sizeof(mac));
    EVP_MAC_CTX_free(ctx);
    std::memcpy(message + 5, mac, 8);
  }
  benchmark::DoNotOptimize(mac);
}
BENCHMARK(BM_HmacEvpMacDup)->ComputeStatistics("min", fastest);

// HMAC built by hand on EVP digests: the absorbed inner and outer states kept as two EVP_MD_CTX
// and copied for each MAC, as our own code keeps them as chaining values.
void BM_HmacEvpDigestStates(benchmark::State& state) {
  uint8_t pad[64] = {};
  std::memcpy(pad, kKey, sizeof(kKey));
  EVP_MD_CTX* inner = EVP_MD_CTX_new();
  EVP_MD_CTX* outer = EVP_MD_CTX_new();
  EVP_MD_CTX* work = EVP_MD_CTX_new();
  for (uint8_t& b : pad) { b ^= 0x36; }
  EVP_DigestInit_ex(inner, EVP_sha256(), nullptr);
  EVP_DigestUpdate(inner, pad, sizeof(pad));
  for (uint8_t& b : pad) { b ^= 0x36 ^ 0x5c; }
  EVP_DigestInit_ex(outer, EVP_sha256(), nullptr);
  EVP_DigestUpdate(outer, pad, sizeof(pad));
  uint8_t message[kMessageLen];
  std::memcpy(message, g_message, sizeof(message));
  uint8_t mac[32];
  unsigned int len = 0;
  const auto run = [&] {
    EVP_MD_CTX_copy_ex(work, inner);
    EVP_DigestUpdate(work, message, sizeof(message));
    EVP_DigestFinal_ex(work, mac, &len);
    EVP_MD_CTX_copy_ex(work, outer);
    EVP_DigestUpdate(work, mac, sizeof(mac));
    EVP_DigestFinal_ex(work, mac, &len);
  };
  run();
  if (!same_as_one_shot(mac)) {
    state.SkipWithError("EVP digest states gave another MAC");
  } else {
    for (auto _ : state) {
      std::memcpy(message + 5, mac, 8);
      run();
    }
  }
  benchmark::DoNotOptimize(mac);
  EVP_MD_CTX_free(work);
  EVP_MD_CTX_free(outer);
  EVP_MD_CTX_free(inner);
}
BENCHMARK(BM_HmacEvpDigestStates)->ComputeStatistics("min", fastest);

// The one-call HMAC(), which absorbs the key again every time (four compressions, not two).
void BM_HmacOneShot(benchmark::State& state) {
  uint8_t message[kMessageLen];
  std::memcpy(message, g_message, sizeof(message));
  uint8_t mac[32] = {};
  unsigned int len = 0;
  for (auto _ : state) {
    std::memcpy(message + 5, mac, 8);
    HMAC(EVP_sha256(), kKey, sizeof(kKey), message, sizeof(message), mac, &len);
  }
  benchmark::DoNotOptimize(mac);
}
BENCHMARK(BM_HmacOneShot)->ComputeStatistics("min", fastest);

// Keeps the fastest and the median CPU time per benchmark while the console reporter prints
// as usual. The fastest repetition is the least disturbed on a shared machine.
class SummaryReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) {
      if (run.error_occurred || run.run_type != Run::RT_Aggregate) { continue; }
      const std::string& name = run.run_name.function_name;
      if (run.aggregate_name == "min") { min_[name] = run.GetAdjustedCPUTime(); }
      if (run.aggregate_name == "median") { median_[name] = run.GetAdjustedCPUTime(); }
      if (std::find(order_.begin(), order_.end(), name) == order_.end()) { order_.push_back(name); }
    }
  }

  void print_summary() const {
    const char* caps = std::getenv("OPENSSL_ia32cap");
    std::printf("\nOPENSSL_ia32cap=%s; CPU ns per call over the repetitions, and the fastest\n"
                "time over that of OpenSSL's block function in this run\n",
                caps == nullptr ? "(unset)" : caps);
    const auto reference = min_.find("BM_TransformOpenssl");
    std::printf("%-28s %10s %10s %10s\n", "benchmark", "fastest", "median", "/ OpenSSL");
    for (const std::string& name : order_) {
      std::printf("%-28s %10.1f %10.1f", name.c_str(), min_.at(name), median_.at(name));
      if (reference != min_.end()) { std::printf(" %10.2f", min_.at(name) / reference->second); }
      std::printf("\n");
    }
  }

 private:
  std::vector<std::string> order_;
  std::map<std::string, double> min_;
  std::map<std::string, double> median_;
};

}  // namespace
}  // namespace tavik

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) { return 1; }
  tavik::SummaryReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  reporter.print_summary();
  benchmark::Shutdown();
  return 0;
}
