// The bulk methods of the core against the bare lane hashing of their own compressions, in one
// run: core::encode_many against the cipher's lanes (encrypt_many) and the check HMAC's lanes
// (hmac_blocks_many) on the same values and the same check blocks; core::decode_many, and
// core::recover_many of the same words as written, against the check HMAC's lanes and
// decrypt_many on the words' values and blocks. Both sides go through the same lane path, a
// batch (core::kBatchLen items) at a time, as the bulk methods do. Each round times every bulk
// call and its bare hashing back to back, in alternating order, on the thread's CPU clock; a
// ratio is the median over the rounds of each round's ratio, so a busy machine disturbs both
// sides alike. Prints a Markdown table. With FILTER, only the calls whose name holds it run
// (for a profiler).
//   tavik_bulk_limit [ROUNDS] [FILTER]
#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "bench/bench_util.h"
#include "core/bulk.h"
#include "core/check.h"
#include "core/decode.h"
#include "core/encode.h"
#include "core/render.h"
#include "core/settings.h"
#include "fpe/backend.h"
#include "fpe/lanes.h"

namespace {

using namespace tavik;

constexpr size_t kItems = 4096;  // eight of the core's batches
constexpr uint8_t kKey[] = {'b', 'e', 'n', 'c', 'h'};
constexpr double kTarget = 1.2;
using Block = std::array<uint8_t, fpe::kSha256BlockLen>;

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

volatile size_t sink = 0;
void keep(size_t value) { sink = sink + value; }

// Case is one configuration's work: the identifiers and their words, and what the bare
// hashing of each bulk method takes in (the values it enciphers or deciphers, the check
// blocks it hashes).
struct Case {
  const char* name;
  core::CodecConfig config = {};
  std::vector<uint8_t> ids = {};
  std::vector<std::span<const uint8_t>> items = {};
  std::vector<std::string> words = {};
  std::vector<core::CodeUnits> units = {};
  std::vector<U128> plain_values = {}, coded_values = {};
  std::vector<Block> encode_blocks = {}, decode_blocks = {};
};

bool make_case(Case& c, const char* settings) {
  Result<core::CodecConfig> built =
      core::config_from_settings(settings, std::span<const uint8_t>(kKey, sizeof kKey),
                                 std::nullopt);
  if (!built.ok()) { return false; }
  c.config = built.value();
  c.ids.resize(16 * kItems);
  uint32_t state = 2024;
  for (uint8_t& b : c.ids) {
    state = state * 1103515245u + 12345u;
    b = static_cast<uint8_t>(state >> 16);
  }
  const size_t num_data = core::data_syllable_count(c.config);
  for (size_t i = 0; i < kItems; ++i) {
    c.items.emplace_back(c.ids.data() + 16 * i, 16);
    const Result<core::EncodedText> text = core::encode(c.config, c.items[i]);
    const Result<core::Selected> selected = core::select_value(c.config, c.items[i]);
    if (!text.ok() || !selected.ok()) { return false; }
    c.words.emplace_back(text.value().view());
    c.plain_values.push_back(selected.value().value);
  }
  c.units.assign(c.words.begin(), c.words.end());
  c.coded_values.resize(kItems);
  c.config.cipher->encrypt_many(c.plain_values, c.config.tweak, c.coded_values);
  c.encode_blocks.resize(kItems);
  c.decode_blocks.resize(kItems);
  for (size_t i = 0; i < kItems; ++i) {
    uint16_t digits[core::kMaxDataSyllables];
    core::value_to_digits(c.coded_values[i], num_data, digits);
    core::layout_digits_check_block({digits, num_data}, c.encode_blocks[i].data());
    core::NormalizedInput input;
    U128 value;
    if (core::read_word(c.config, c.units[i], &input, &value) != nullptr) { return false; }
    core::layout_check_block(input.data(), c.decode_blocks[i].data());
  }
  return true;
}

// The check HMACs of blocks[first, first + n) in lanes, as the bulk methods run them.
void hash_checks(const Case& c, const std::vector<Block>& blocks, size_t first, size_t n,
                 std::vector<std::array<uint32_t, 8>>& macs) {
  if (c.config.mode == core::Mode::kPlain) { return; }
  fpe::hmac_blocks_many(*c.config.check_key,
                        reinterpret_cast<const uint8_t(*)[fpe::kSha256BlockLen]>(&blocks[first]),
                        n, reinterpret_cast<uint32_t(*)[8]>(macs.data()));
  keep(macs[0][0]);
}

struct Pair {
  std::string name;
  std::function<void()> bulk;
  std::function<void()> bare;
  std::vector<double> bulk_ns = {}, bare_ns = {}, ratios = {};
};

double ns_per_item(const std::function<void()>& run) {
  const double start = bench::thread_cpu_ns();
  run();
  return (bench::thread_cpu_ns() - start) / kItems;
}

}  // namespace

int main(int argc, char** argv) {
  const int rounds = argc > 1 ? std::atoi(argv[1]) : 31;
  static Case cases[2] = {{.name = "sealed"}, {.name = "plain"}};
  if (!make_case(cases[0], "tavik/1 level=universal mode=sealed bits=128 cipher=feistel8:key "
                           "check=1 case=upper chunk=balanced sep=U+002D") ||
      !make_case(cases[1], "tavik/1 level=universal mode=plain bits=128 cipher=feistel8:public "
                           "check=1 case=upper chunk=balanced sep=U+002D")) {
    std::fprintf(stderr, "no codec\n");
    return 1;
  }
  core::BatchScratch scratch;
  std::vector<core::EncodedText> texts(core::kBatchLen);
  std::vector<core::Bytes16> bytes(core::kBatchLen);
  std::vector<std::optional<Error>> errors(core::kBatchLen);
  std::vector<U128> results(core::kBatchLen);
  std::vector<std::array<uint32_t, 8>> macs(core::kBatchLen);

  std::vector<Pair> pairs;
  for (const Case& c : cases) {
    const auto& config = c.config;
    pairs.push_back({std::string(c.name) + ": encode_many",
                     [&] {
                       for (size_t first = 0; first < kItems; first += core::kBatchLen) {
                         core::encode_many(config, std::span(c.items).subspan(first, core::kBatchLen),
                                           texts, errors, scratch);
                         keep(texts[0].len);
                       }
                     },
                     [&] {
                       for (size_t first = 0; first < kItems; first += core::kBatchLen) {
                         config.cipher->encrypt_many(
                             std::span(c.plain_values).subspan(first, core::kBatchLen),
                             config.tweak, results);
                         hash_checks(c, c.encode_blocks, first, core::kBatchLen, macs);
                         keep(results[0].lo());
                       }
                     }});
    // A word as it was written costs recover_many what it costs decode_many: its check, then
    // the cipher.
    const std::function<void()> decode_lanes = [&] {
      for (size_t first = 0; first < kItems; first += core::kBatchLen) {
        hash_checks(c, c.decode_blocks, first, core::kBatchLen, macs);
        config.cipher->decrypt_many(std::span(c.coded_values).subspan(first, core::kBatchLen),
                                    config.tweak, results);
        keep(results[0].lo());
      }
    };
    // Both read the same words, a batch at a time.
    using ReadMany = void (*)(const core::CodecConfig&, std::span<const core::CodeUnits>,
                              std::span<core::Bytes16>, std::span<std::optional<Error>>,
                              core::BatchScratch&);
    const auto over_words = [&](ReadMany read_many) -> std::function<void()> {
      return [&, read_many] {
        for (size_t first = 0; first < kItems; first += core::kBatchLen) {
          read_many(config, std::span(c.units).subspan(first, core::kBatchLen), bytes, errors,
                    scratch);
          keep(bytes[0][0]);
        }
      };
    };
    pairs.push_back({std::string(c.name) + ": decode_many", over_words(core::decode_many),
                     decode_lanes});
    if (config.mode != core::Mode::kPlain) {
      pairs.push_back({std::string(c.name) + ": recover_many, words as written",
                       over_words(core::recover_many), decode_lanes});
    }
  }

  if (argc > 2) {
    const std::string filter = argv[2];
    std::erase_if(pairs, [&](const Pair& p) { return p.name.find(filter) == std::string::npos; });
  }
  for (int round = 0; round < rounds; ++round) {
    for (Pair& p : pairs) {
      double bulk = 0;
      double bare = 0;
      if (round % 2 == 0) {
        bulk = ns_per_item(p.bulk);
        bare = ns_per_item(p.bare);
      } else {
        bare = ns_per_item(p.bare);
        bulk = ns_per_item(p.bulk);
      }
      p.bulk_ns.push_back(bulk);
      p.bare_ns.push_back(bare);
      p.ratios.push_back(bulk / bare);
    }
  }
  std::printf("Lanes: %s; %d rounds of %zu UUIDs (128 bits, one check syllable).\n\n",
              std::string(fpe::backend().name).c_str(), rounds, kItems);
  std::printf("| bulk call / its compressions in lanes | bulk ns | lanes ns | paired ratio | "
              "target | met |\n");
  std::printf("|---|---:|---:|---:|---:|---|\n");
  for (const Pair& p : pairs) {
    const double ratio = median(p.ratios);
    std::printf("| %s | %.0f | %.0f | %.3f | <= %.1f | %s |\n", p.name.c_str(), median(p.bulk_ns),
                median(p.bare_ns), ratio, kTarget, ratio <= kTarget ? "yes" : "**no**");
  }
  return sink == 0 ? 1 : 0;
}
