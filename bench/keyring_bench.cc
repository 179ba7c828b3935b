// Key rotation against one key, in one run: decoding a word under a keyring of two keys
// against decoding it under its own codec, single and in bulk, from the thread's CPU time of
// interleaved slices (medians); and how often a word written under one key also passes the
// check syllables of another, with one and with two check syllables.
//
//   tavik_keyring_bench [--slices N] [--samples M]

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <time.h>

#include "core/builders.h"
#include "core/bulk.h"
#include "core/check.h"
#include "core/decode.h"
#include "core/encode.h"
#include "core/keyring.h"
#include "fpe/lanes.h"

namespace tavik {
namespace {

using core::CodecConfig;

constexpr size_t kNumWords = core::kBatchLen;

// thread_cpu_ns is the CPU time of the calling thread: on a shared machine, time spent waiting
// for a core does not count.
double thread_cpu_ns() {
  timespec ts{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) * 1e9 + static_cast<double>(ts.tv_nsec);
}

uint64_t next(uint64_t& x) {
  x ^= x << 13;
  x ^= x >> 7;
  x ^= x << 17;
  return x;
}

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

struct Timings {
  std::vector<double> single_one, single_two, bulk_one, bulk_two;
};

int run(int num_slices, uint64_t num_samples) {
  const std::vector<uint8_t> new_key = {'n', 'e', 'w'};
  const std::vector<uint8_t> old_key = {'o', 'l', 'd'};
  const CodecConfig fresh = core::construct_config(new_key, "universal", "sealed", 128).value();
  const CodecConfig old = core::construct_config(old_key, "universal", "sealed", 128).value();
  const CodecConfig* ring[] = {&fresh, &old};
  const core::Keyring keyring(ring, 2);

  // Words under the old key: the keyring tests the new key first and deciphers under the old.
  uint64_t x = 0x9e3779b97f4a7c15ull;
  std::vector<std::string> words;
  while (words.size() < kNumWords) {
    uint8_t id[16];
    for (uint8_t& b : id) { b = static_cast<uint8_t>(next(x)); }
    const std::string word(core::encode(old, id).value().view());
    if (core::keyring_decode(keyring, word).ok()) { words.push_back(word); }  // not ambiguous
  }
  std::vector<core::CodeUnits> units(words.begin(), words.end());
  core::BatchScratch scratch;
  core::KeyringScratch keyring_scratch;
  std::vector<core::Bytes16> bytes(kNumWords);
  std::vector<core::KeyedBytes> keyed(kNumWords);
  std::vector<std::optional<Error>> errors(kNumWords);
  uint64_t sink = 0;

  Timings t;
  for (int slice = 0; slice < num_slices; ++slice) {
    double start = thread_cpu_ns();
    for (const std::string& w : words) { sink += core::decode_text(old, w).value()[0]; }
    double mid = thread_cpu_ns();
    for (const std::string& w : words) {
      sink += core::keyring_decode(keyring, w).value().bytes[0];
    }
    double end = thread_cpu_ns();
    t.single_one.push_back((mid - start) / kNumWords);
    t.single_two.push_back((end - mid) / kNumWords);
    start = thread_cpu_ns();
    core::decode_many(old, units, bytes, errors, scratch);
    mid = thread_cpu_ns();
    core::keyring_decode_many(keyring, units, keyed, errors, keyring_scratch);
    end = thread_cpu_ns();
    sink += static_cast<uint64_t>(bytes[0][0]) + keyed[0].bytes[0];
    t.bulk_one.push_back((mid - start) / kNumWords);
    t.bulk_two.push_back((end - mid) / kNumWords);
  }
  const double s1 = median(t.single_one), s2 = median(t.single_two);
  const double b1 = median(t.bulk_one), b2 = median(t.bulk_two);
  std::printf("lanes: %s\n", std::string(fpe::lane_path_name(fpe::lane_path())).c_str());
  std::printf("%-34s %10s %10s %8s\n", "decode of a word (ns, CPU)", "one key", "two keys",
              "ratio");
  std::printf("%-34s %10.0f %10.0f %8.2f\n", "single call", s1, s2, s2 / s1);
  std::printf("%-34s %10.0f %10.0f %8.2f\n", "bulk (batches of 512)", b1, b2, b2 / b1);

  // Words under one key that pass another key's check: the check units of random data units
  // under both keys, compared syllable by syllable.
  std::vector<std::array<uint8_t, fpe::kSha256BlockLen>> blocks(kNumWords);
  std::vector<std::array<uint32_t, 8>> mac_a(kNumWords), mac_b(kNumWords);
  uint64_t pass_one = 0, pass_two = 0;
  uint64_t done = 0;
  while (done < num_samples) {
    for (auto& block : blocks) {
      uint8_t data[core::kMaxDataUnits];
      for (size_t k = 0; k < core::kMaxDataUnits; k += 2) {
        data[k] = static_cast<uint8_t>(next(x) % 35);
        data[k + 1] = static_cast<uint8_t>(0x80 | (next(x) % 20));
      }
      core::layout_check_block({data, core::kMaxDataUnits}, block.data());
    }
    const auto* b = reinterpret_cast<const uint8_t(*)[fpe::kSha256BlockLen]>(blocks.data());
    fpe::hmac_blocks_many(*fresh.check_key, b, kNumWords,
                          reinterpret_cast<uint32_t(*)[8]>(mac_a.data()));
    fpe::hmac_blocks_many(*old.check_key, b, kNumWords,
                          reinterpret_cast<uint32_t(*)[8]>(mac_b.data()));
    for (size_t i = 0; i < kNumWords; ++i) {
      uint8_t ua[4], ub[4];
      core::check_units_from_mac(mac_a[i].data(), 2, ua);
      core::check_units_from_mac(mac_b[i].data(), 2, ub);
      const bool first = std::memcmp(ua, ub, 2) == 0;
      pass_one += first ? 1 : 0;
      pass_two += first && std::memcmp(ua + 2, ub + 2, 2) == 0 ? 1 : 0;
    }
    done += kNumWords;
  }
  std::printf("words passing a second key's check, of %llu: one check syllable %llu (1 in %.0f),"
              " two %llu (1 in %.0f)\n",
              static_cast<unsigned long long>(done), static_cast<unsigned long long>(pass_one),
              pass_one ? static_cast<double>(done) / static_cast<double>(pass_one) : 0.0,
              static_cast<unsigned long long>(pass_two),
              pass_two ? static_cast<double>(done) / static_cast<double>(pass_two) : 0.0);
  return sink == 42 ? 1 : 0;
}

}  // namespace
}  // namespace tavik

int main(int argc, char** argv) {
  int slices = 201;
  uint64_t samples = 20000000;
  for (int i = 1; i + 1 < argc; i += 2) {
    if (std::strcmp(argv[i], "--slices") == 0) { slices = std::atoi(argv[i + 1]); }
    if (std::strcmp(argv[i], "--samples") == 0) { samples = std::strtoull(argv[i + 1], nullptr, 10); }
  }
  return tavik::run(slices, samples);
}
