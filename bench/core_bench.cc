// Benchmark of the codec core against its own floor: a code word costs 18 SHA-256
// compressions in sequence (8 HMAC rounds of the cipher and one HMAC for the check syllables,
// two compressions each), so encode and decode are timed together with one chained
// compression, and their ratios to 18 of them (recover: to the compressions it runs) are
// printed at the end, all from the medians of this one run.
//
//   tavik_core_bench [--benchmark_repetitions=N] [--benchmark_out=FILE ...]

#include <benchmark/benchmark.h>

#include "bench/bench_util.h"

#include <time.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <map>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "core/builders.h"
#include "core/check.h"
#include "core/encode.h"
#include "core/config.h"
#include "core/decode.h"
#include "core/normalize.h"
#include "core/recover.h"
#include "core/render.h"
#include "fpe/backend.h"
#include "fpe/cipher.h"
#include "fpe/feistel.h"
#include "fpe/hmac.h"
#include "fpe/sha256.h"
#include "tests/support/openssl_sha256.h"

namespace tavik {
namespace {

using core::CodecConfig;

constexpr uint8_t kKey[] = {'b', 'e', 'n', 'c', 'h', ' ', 'k', 'e', 'y'};
constexpr size_t kNumWords = 64;
// The encode and decode benchmarks cycle through this many words: with only 64 the branch
// predictor would learn their letters by heart, which no real stream of words allows.
constexpr size_t kNumSampleWords = 4096;

const CodecConfig& sealed_config() {
  static const CodecConfig config =
      core::construct_config(kKey, "universal", "sealed", 128).value();
  return config;
}

// Sixteen-byte identifiers that look random (a simple mixing sequence, fixed).
std::vector<std::array<uint8_t, 16>> identifiers() {
  std::vector<std::array<uint8_t, 16>> ids(kNumSampleWords);
  uint64_t x = 0x9e3779b97f4a7c15ull;
  for (auto& id : ids) {
    for (uint8_t& b : id) {
      x ^= x << 13;
      x ^= x >> 7;
      x ^= x << 17;
      b = static_cast<uint8_t>(x >> 24);
    }
  }
  return ids;
}

std::vector<std::string> encoded_words() {
  std::vector<std::string> words;
  for (const auto& id : identifiers()) {
    words.emplace_back(core::encode(sealed_config(), id).value().view());
  }
  return words;
}

void BM_Compress(benchmark::State& state) {
  fpe::Sha256State s = fpe::sha256_initial_state();
  uint8_t block[fpe::kSha256BlockLen] = {'t', 'a', 'v', 'i', 'k'};
  for (auto _ : state) {
    fpe::sha256_compress(s.h, block);  // each compression waits for the previous one
  }
  benchmark::DoNotOptimize(s);
}
BENCHMARK(BM_Compress);

void BM_CompressOpenssl(benchmark::State& state) {
  fpe::Sha256State s = fpe::sha256_initial_state();
  uint8_t block[fpe::kSha256BlockLen] = {'t', 'a', 'v', 'i', 'k'};
  for (auto _ : state) { openssl_reference::sha256_compress_openssl(s.h, block); }
  benchmark::DoNotOptimize(s);
}
BENCHMARK(BM_CompressOpenssl);

// One HMAC from absorbed key states of a padded 13-byte round message whose half is the
// previous MAC, as in the cipher: the inner digest enters the outer block directly.
void BM_Hmac(benchmark::State& state) {
  const fpe::HmacKey key = fpe::HmacKey::derive(kKey);
  uint8_t block[fpe::kSha256BlockLen] = {0, 0, 0, 128, 0};
  block[13] = 0x80;
  block[62] = (64 + 13) * 8 / 256;
  block[63] = (64 + 13) * 8 % 256;
  uint32_t mac[8] = {};
  for (auto _ : state) {
    std::memcpy(block + 5, mac, 8);
    fpe::sha256_hmac_block(key.inner_state().h, key.outer_state().h, block, mac);
  }
  benchmark::DoNotOptimize(mac);
}
BENCHMARK(BM_Hmac);

// One cipher call after another, each on the result of the last (a chain, like the hashing).
template <bool kEncrypt>
void cipher_chain(benchmark::State& state) {
  const CodecConfig& config = sealed_config();
  U128 v(0x0123456789abcdefull, 0xfedcba9876543210ull);
  for (auto _ : state) {
    v = kEncrypt ? config.cipher->encrypt(v, config.tweak) : config.cipher->decrypt(v, config.tweak);
  }
  benchmark::DoNotOptimize(v);
}
void BM_Encrypt(benchmark::State& state) { cipher_chain<true>(state); }
BENCHMARK(BM_Encrypt);
void BM_Decrypt(benchmark::State& state) { cipher_chain<false>(state); }
BENCHMARK(BM_Decrypt);

void BM_Encode(benchmark::State& state) {
  const CodecConfig& config = sealed_config();
  const auto ids = identifiers();
  size_t i = 0;
  for (auto _ : state) {
    auto text = core::encode(config, ids[i++ % kNumSampleWords]);
    benchmark::DoNotOptimize(text);
  }
}
BENCHMARK(BM_Encode);

void BM_Decode(benchmark::State& state) {
  const CodecConfig& config = sealed_config();
  const auto words = encoded_words();
  size_t i = 0;
  for (auto _ : state) {
    auto bytes = core::decode_text(config, words[i++ % kNumSampleWords]);
    benchmark::DoNotOptimize(bytes);
  }
}
BENCHMARK(BM_Decode);

// The costliest recovery: every data syllable has an onset with an edge and a nucleus with
// two (the top syllable as many as keep the value below 2^128), and the first nucleus was
// confused with its neighbour, so every substitution is tried before the one survivor is
// deciphered.
struct WorstWord {
  std::string text;
  size_t num_compressions = 0;
};

WorstWord worst_recover_word() {
  const CodecConfig& config = sealed_config();
  const core::ConfusionGraph& graph = core::ConfusionGraph::instance();
  auto edges = [&](uint32_t digit) {
    return graph.neighbours(static_cast<uint8_t>(digit % core::kNumOnsets)).size() +
           graph.neighbours(static_cast<uint8_t>(core::kNucleusFlag | (digit / core::kNumOnsets)))
               .size();
  };
  constexpr uint32_t kAl = 0 + 35 * 6;  // onset m (edge to s), nucleus al (edges to an, ar)
  uint8_t units[core::kMaxDataUnits];
  for (size_t k = 0; k < 13; ++k) { core::value_to_units(U128::from_u64(kAl), 1, units + 2 * k); }
  U128 value;
  size_t best = 0;
  for (uint32_t top = 0; top < core::kSyllableBase; ++top) {
    core::value_to_units(U128::from_u64(top), 1, units + 26);
    U128 v;
    if (core::units_to_value_checked({units, 28}, &v) && edges(top) >= best) {
      best = edges(top);
      value = v;
    }
  }
  core::value_to_units(value, 14, units);
  // The word of that value, and its check syllable.
  const U128 plain = config.cipher->decrypt(value, config.tweak);
  uint8_t id[16];
  plain.to_be_bytes(id);
  const std::string word(core::encode(config, id).value().view());
  core::NormalizedInput input;
  core::normalize(0, word, 28, 2, &input);
  input.data_units[1] = static_cast<uint8_t>(core::kNucleusFlag | 5);  // al typed as an
  WorstWord worst;
  for (size_t k = 0; k < 28; ++k) {
    worst.text += std::string(core::render_unit(input.data_units[k], 0));
  }
  worst.text += '-';
  for (size_t k = 0; k < 2; ++k) {
    worst.text += std::string(core::render_unit(input.check_units[k], 0));
  }
  size_t num_macs = 1;  // the unchanged word
  for (size_t k = 0; k < 28; ++k) { num_macs += graph.neighbours(input.data_units[k]).size(); }
  for (size_t k = 0; k < 2; ++k) { num_macs += graph.neighbours(input.check_units[k]).size(); }
  worst.num_compressions = 2 * num_macs + 16;  // two per MAC, then one decryption
  return worst;
}

const WorstWord& worst_word() {
  static const WorstWord worst = worst_recover_word();
  return worst;
}

void BM_RecoverWorst(benchmark::State& state) {
  const CodecConfig& config = sealed_config();
  const std::string& text = worst_word().text;
  if (!core::recover_text(config, text).ok()) {
    state.SkipWithError("the worst-case word does not recover");
    return;
  }
  for (auto _ : state) {
    auto bytes = core::recover_text(config, text);
    benchmark::DoNotOptimize(bytes);
  }
  state.counters["compressions"] = static_cast<double>(worst_word().num_compressions);
}
BENCHMARK(BM_RecoverWorst);

void BM_DeriveCipherKey(benchmark::State& state) {
  for (auto _ : state) {
    auto key = fpe::derive_cipher_key(kKey, fpe::CipherDomain::bits(128));
    benchmark::DoNotOptimize(key);
  }
}
BENCHMARK(BM_DeriveCipherKey);

void BM_ConstructConfig(benchmark::State& state) {
  for (auto _ : state) {
    auto config = core::construct_config(kKey, "universal", "sealed", 128);
    benchmark::DoNotOptimize(config);
  }
}
BENCHMARK(BM_ConstructConfig);

// The floor ratios again, measured in pairs: each iteration times a block of operations and,
// right after, the chained compressions they need, and the ratio of the two CPU times is kept;
// the counter "ratio" is the median over the iterations. A machine shared with other work
// slows both halves of a pair alike, so these ratios hold still where separate medians drift.
template <typename Op>
void paired_floor_ratio(benchmark::State& state, size_t num_ops, size_t compressions_per_op,
                        Op op) {
  fpe::Sha256State s = fpe::sha256_initial_state();
  uint8_t block[fpe::kSha256BlockLen] = {'t', 'a', 'v', 'i', 'k'};
  std::vector<double> ratios;
  size_t next = 0;  // ops take their items in turn across the iterations
  for (auto _ : state) {
    const double start = bench::thread_cpu_ns();
    for (size_t i = 0; i < num_ops; ++i) { op(next++); }
    const double middle = bench::thread_cpu_ns();
    for (size_t i = 0; i < num_ops * compressions_per_op; ++i) { fpe::sha256_compress(s.h, block); }
    const double end = bench::thread_cpu_ns();
    ratios.push_back((middle - start) / (end - middle));
  }
  benchmark::DoNotOptimize(s);
  std::sort(ratios.begin(), ratios.end());
  state.counters["ratio"] = ratios.empty() ? 0.0 : ratios[ratios.size() / 2];
}

void BM_PairedEncode(benchmark::State& state) {
  const CodecConfig& config = sealed_config();
  const auto ids = identifiers();
  paired_floor_ratio(state, 64, 18, [&](size_t i) {
    auto text = core::encode(config, ids[i % kNumSampleWords]);
    benchmark::DoNotOptimize(text);
  });
}
BENCHMARK(BM_PairedEncode);

void BM_PairedDecode(benchmark::State& state) {
  const CodecConfig& config = sealed_config();
  const auto words = encoded_words();
  paired_floor_ratio(state, 64, 18, [&](size_t i) {
    auto bytes = core::decode_text(config, words[i % kNumSampleWords]);
    benchmark::DoNotOptimize(bytes);
  });
}
BENCHMARK(BM_PairedDecode);

void BM_PairedRecoverWorst(benchmark::State& state) {
  const CodecConfig& config = sealed_config();
  const std::string& text = worst_word().text;
  paired_floor_ratio(state, 8, worst_word().num_compressions, [&](size_t) {
    auto bytes = core::recover_text(config, text);
    benchmark::DoNotOptimize(bytes);
  });
}
BENCHMARK(BM_PairedRecoverWorst);

// What decode gains from the overlap inside the cipher (decrypt_with_mac: the check block laid
// out while the first round runs, the check HMAC beside the second round), paired: each
// iteration times 64 calls done the plain way (lay out the block, decrypt, then the HMAC) and
// right after 64 calls of decrypt_with_mac on the same values; the counter "ratio" is the
// median of plain / overlapped. Above 1, moving the overlap out of the cipher's interface into
// core would cost that much.
void BM_PairedOverlapGain(benchmark::State& state) {
  const CodecConfig& config = sealed_config();
  const fpe::HmacKey& check_key = *config.check_key;
  struct Writer final : fpe::BlockWriter {
    void operator()(uint8_t block[fpe::kSha256BlockLen]) const override {
      std::memset(block, 0, fpe::kSha256BlockLen);
      std::memcpy(block, "tavikcheckwordtext", 18);
      fpe::pad_hmac_block(block, 18);
    }
  };
  struct Accept final : fpe::MacFilter {
    bool operator()(const uint32_t*) const override { return true; }
  };
  const Writer writer;
  const Accept accept;
  std::vector<double> ratios;
  U128 v(0x0123456789abcdefull, 0xfedcba9876543210ull);
  uint32_t mac[8] = {};
  for (auto _ : state) {
    const double start = bench::thread_cpu_ns();
    for (int i = 0; i < 64; ++i) {
      uint8_t block[fpe::kSha256BlockLen];
      writer(block);
      v = config.cipher->decrypt(v, config.tweak);
      fpe::sha256_hmac_block(check_key.inner_state().h, check_key.outer_state().h, block, mac);
      v = v ^ U128::from_u64(mac[0]);
    }
    const double middle = bench::thread_cpu_ns();
    for (int i = 0; i < 64; ++i) {
      v = config.cipher->decrypt_with_mac(v, config.tweak, check_key, writer, mac, accept);
      v = v ^ U128::from_u64(mac[0]);
    }
    const double end = bench::thread_cpu_ns();
    ratios.push_back((middle - start) / (end - middle));
  }
  benchmark::DoNotOptimize(v);
  std::sort(ratios.begin(), ratios.end());
  state.counters["ratio"] = ratios.empty() ? 0.0 : ratios[ratios.size() / 2];
}
BENCHMARK(BM_PairedOverlapGain);

// Forged words against real ones, per domain: the ratio of the CPU time of decoding (or
// recovering) words whose check syllables are wrong to that of real words, measured in pairs.
// The forged words spell values whose cycle walk would be long where the domain has such
// values (a modulus of odd bit length just above a power of two: 2^20 + 4112); a forged word
// must be refused before any walk, so every ratio stays near 1.
struct ForgeryCase {
  const char* name;
  CodecConfig config;
  std::vector<std::string> real;    // words that encode wrote
  std::vector<std::string> forged;  // real-looking data syllables, wrong check syllables
  std::vector<std::string> typo;    // real words with one confused sound, for recover
};

std::string spell_forged(const CodecConfig& config, U128 value) {
  const size_t n = core::data_syllable_count(config);
  uint8_t units[core::kMaxDataUnits];
  core::value_to_units(value, n, units);
  uint8_t check[core::kMaxCheckUnits];
  const size_t num_check = core::compute_check_units(config.mode, config.check_key.get(),
                                                     {units, 2 * n}, config.check_syllables, check);
  check[0] = static_cast<uint8_t>((check[0] + 17) % core::kNumOnsets);  // a wrong check syllable
  std::string word;
  for (size_t i = 0; i < 2 * n; ++i) { word += core::render_unit(units[i], 0); }
  for (size_t i = 0; i < num_check; ++i) { word += core::render_unit(check[i], 0); }
  return word;
}

// The word with one confused sound: the first data unit that has a confusable neighbour is
// replaced by it (the word recover is made for).
std::string with_typo(const CodecConfig& config, U128 enciphered) {
  const size_t n = core::data_syllable_count(config);
  uint8_t units[core::kMaxDataUnits];
  core::value_to_units(enciphered, n, units);
  uint8_t check[core::kMaxCheckUnits];
  const size_t num_check = core::compute_check_units(config.mode, config.check_key.get(),
                                                     {units, 2 * n}, config.check_syllables, check);
  for (size_t i = 0; i < 2 * n; ++i) {
    const auto neighbours = core::ConfusionGraph::instance().neighbours(units[i]);
    if (!neighbours.empty()) {
      units[i] = neighbours[0];
      break;
    }
  }
  std::string word;
  for (size_t i = 0; i < 2 * n; ++i) { word += core::render_unit(units[i], 0); }
  for (size_t i = 0; i < num_check; ++i) { word += core::render_unit(check[i], 0); }
  return word;
}

ForgeryCase make_forgery_case(const char* name, CodecConfig config, U128 forged_base,
                              uint64_t forged_span) {
  ForgeryCase c{name, std::move(config), {}, {}, {}};
  uint64_t x = 0x2545f4914f6cdd1dull;
  while (c.real.size() < kNumWords) {
    x ^= x << 13;
    x ^= x >> 7;
    x ^= x << 17;
    std::array<uint8_t, 16> id{};
    for (size_t i = 0; i < 16; ++i) { id[i] = static_cast<uint8_t>(x >> (i % 8 * 8)); }
    if (c.config.domain.kind == fpe::CipherDomain::Kind::kModulus) {
      // A value below the modulus (one bit shorter), in the identifier's last bytes.
      const uint32_t bits = c.config.domain.modulus.bit_length() - 1;
      (U128(x, x * 31) & U128::low_mask(bits)).to_be_bytes(id.data());
    }
    const auto word = core::encode(c.config, id);
    if (!word.ok()) { continue; }  // a value the modulus cannot encipher
    c.real.emplace_back(word.value().view());
    core::NormalizedInput units;
    core::normalize(0, c.real.back(), 2 * core::data_syllable_count(c.config),
                    2 * c.config.check_syllables, &units);
    c.typo.push_back(with_typo(c.config, core::units_to_value(units.data())));
    c.forged.push_back(spell_forged(
        c.config, forged_base + U128::from_u64(x % forged_span)));
  }
  return c;
}

const std::vector<ForgeryCase>& forgery_cases() {
  static const std::vector<ForgeryCase> cases = [] {
    const CodecConfig base = core::construct_config(kKey, "universal", "sealed", 128).value();
    const auto modulus = [&](U128 m) { return core::with_modulus(base, m).value(); };
    const U128 two_20 = U128::from_u64(1u << 20);
    std::vector<ForgeryCase> v;
    v.push_back(make_forgery_case("bits 128", base, U128(), ~0ull));
    v.push_back(make_forgery_case("bits 17", core::with_bit_width(base, 17), U128(), 1u << 17));
    v.push_back(make_forgery_case("modulus 10^6", modulus(U128::from_u64(1000000)), U128(),
                                  1000000));
    v.push_back(make_forgery_case("modulus 2^20+4112", modulus(two_20 + U128::from_u64(4112)),
                                  two_20, 4112));
    v.push_back(make_forgery_case("modulus 2^127+1", modulus((U128::from_u64(1) << 127) +
                                                             U128::from_u64(1)),
                                  U128::from_u64(1) << 127, 1));
    return v;
  }();
  return cases;
}

// The median over iterations of (CPU time of `num` calls of `second`) / (... of `first`).
template <typename First, typename Second>
void paired_ratio(benchmark::State& state, size_t num, First first, Second second) {
  std::vector<double> ratios;
  for (auto _ : state) {
    const double start = bench::thread_cpu_ns();
    for (size_t i = 0; i < num; ++i) { first(i); }
    const double middle = bench::thread_cpu_ns();
    for (size_t i = 0; i < num; ++i) { second(i); }
    const double end = bench::thread_cpu_ns();
    ratios.push_back((end - middle) / (middle - start));
  }
  std::sort(ratios.begin(), ratios.end());
  state.counters["ratio"] = ratios.empty() ? 0.0 : ratios[ratios.size() / 2];
}

void BM_ForgedDecode(benchmark::State& state) {
  const ForgeryCase& c = forgery_cases()[static_cast<size_t>(state.range(0))];
  state.SetLabel(c.name);
  paired_ratio(
      state, kNumWords,
      [&](size_t i) { benchmark::DoNotOptimize(core::decode_text(c.config, c.real[i])); },
      [&](size_t i) { benchmark::DoNotOptimize(core::decode_text(c.config, c.forged[i])); });
}
BENCHMARK(BM_ForgedDecode)->DenseRange(0, 4);

// recover of a forged word runs the whole search, as it does for a word with one mistake; it
// must not walk besides.
void BM_ForgedRecover(benchmark::State& state) {
  const ForgeryCase& c = forgery_cases()[static_cast<size_t>(state.range(0))];
  state.SetLabel(c.name);
  paired_ratio(
      state, 16,
      [&](size_t i) { benchmark::DoNotOptimize(core::recover_text(c.config, c.typo[i])); },
      [&](size_t i) { benchmark::DoNotOptimize(core::recover_text(c.config, c.forged[i])); });
}
BENCHMARK(BM_ForgedRecover)->DenseRange(0, 4);

// Collects the median (or, without repetitions, the only) CPU time of each benchmark while the
// console reporter prints as usual. CPU time, since the machines this runs on are shared:
// time spent waiting for a core would count against whichever benchmark it hit.
class FloorReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) {
      if (bench::is_figure(run)) {
        ns_[run.run_name.function_name] = run.GetAdjustedCPUTime();
        const auto ratio = run.counters.find("ratio");
        if (ratio != run.counters.end()) {
          paired_[run.run_name.function_name] = ratio->second;
          if (!run.report_label.empty()) {
            forged_.emplace_back(run.run_name.function_name + " (" + run.report_label + ")",
                                 ratio->second);
          }
        }
      }
    }
  }

  void print_floor() const {
    const auto find = [&](const char* name) {
      const auto it = ns_.find(name);
      return it == ns_.end() ? 0.0 : it->second;
    };
    const double compress = find("BM_Compress");
    if (compress == 0) { return; }
    std::printf(
        "\nFloor ratios (median CPU time / CPU time of its chained SHA-256 compressions):\n");
    std::printf("%-16s %10s %14s %10s %8s %8s\n", "operation", "ns", "compressions", "floor ns",
                "ratio", "paired");
    const auto row = [&](const char* label, const char* name, size_t num, const char* paired) {
      const double ns = find(name);
      if (ns == 0) { return; }
      const double floor = compress * static_cast<double>(num);
      const auto it = paired == nullptr ? paired_.end() : paired_.find(paired);
      if (it == paired_.end()) {
        std::printf("%-16s %10.1f %14zu %10.1f %8.3f\n", label, ns, num, floor, ns / floor);
      } else {
        std::printf("%-16s %10.1f %14zu %10.1f %8.3f %8.3f\n", label, ns, num, floor, ns / floor,
                    it->second);
      }
    };
    row("hmac", "BM_Hmac", 2, nullptr);
    row("encrypt", "BM_Encrypt", 16, nullptr);
    row("decrypt", "BM_Decrypt", 16, nullptr);
    row("encode", "BM_Encode", 18, "BM_PairedEncode");
    row("decode", "BM_Decode", 18, "BM_PairedDecode");
    row("recover (worst)", "BM_RecoverWorst", worst_word().num_compressions,
        "BM_PairedRecoverWorst");
    const auto gain = paired_.find("BM_PairedOverlapGain");
    if (gain != paired_.end()) {
      std::printf("\ndecode's overlap in the cipher (plain decrypt then HMAC / decrypt_with_mac, "
                  "paired): %.3f\n", gain->second);
    }
    if (!forged_.empty()) {
      std::printf("\nForged words (CPU time / that of real words, paired; target <= 2):\n");
      for (const auto& [name, ratio] : forged_) { std::printf("%-44s %8.3f\n", name.c_str(), ratio); }
    }
  }

 private:
  std::map<std::string, double> ns_;
  std::map<std::string, double> paired_;
  std::vector<std::pair<std::string, double>> forged_;
};

}  // namespace
}  // namespace tavik

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) { return 1; }
  std::printf("backend: %s\n", std::string(tavik::fpe::backend().name).c_str());
  tavik::FloorReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  reporter.print_floor();
  benchmark::Shutdown();
  return 0;
}
