// The C interface against the core it calls, in one run: tavik_encode and tavik_decode (through
// the shared library, as a C program calls them) against core::encode and core::decode_text
// (linked in), and the bulk forms against the core's lanes path (core::encode_many,
// decode_many, recover_many) per item. Each round times a block of calls of every kind in turn,
// on the thread's CPU clock; a ratio is the median over the rounds of each round's ratio, so a
// busy machine disturbs both sides alike. Prints a Markdown table.
//   tavik_capi_bench [ROUNDS]
#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include <time.h>

#include "core/bulk.h"
#include "core/decode.h"
#include "core/encode.h"
#include "core/recover.h"
#include "core/settings.h"
#include "include/tavik.h"

namespace {

using namespace tavik;

constexpr size_t kItems = 2048;  // a block: four of the core's batches
constexpr char kSettings[] =
    "tavik/1 level=universal mode=sealed bits=128 cipher=feistel8:key check=1 case=upper "
    "chunk=balanced sep=U+002D";
constexpr uint8_t kKey[] = {'b', 'e', 'n', 'c', 'h'};

double cpu_ns() {
  timespec ts{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) * 1e9 + static_cast<double>(ts.tv_nsec);
}

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

// time_per_item runs `block` once and returns its CPU time per item.
double time_per_item(const std::function<void()>& block) {
  const double start = cpu_ns();
  block();
  return (cpu_ns() - start) / kItems;
}

volatile size_t sink = 0;
// keep makes a result observable, so that the calls are not optimised away.
void keep(size_t value) { sink = sink + value; }

}  // namespace

int main(int argc, char** argv) {
  const int rounds = argc > 1 ? std::atoi(argv[1]) : 31;
  const std::span<const uint8_t> key(kKey, sizeof kKey);
  Result<core::CodecConfig> built = core::config_from_settings(kSettings, key, std::nullopt);
  tavik_codec* codec = nullptr;
  tavik_scratch* scratch = nullptr;
  if (!built.ok() || tavik_codec_new(kSettings, kKey, sizeof kKey, nullptr, 0, &codec) != 0 ||
      tavik_scratch_new(&scratch) != 0) {
    std::fprintf(stderr, "no codec\n");
    return 1;
  }
  const core::CodecConfig& config = built.value();

  std::vector<uint8_t> ids(16 * kItems);
  uint32_t state = 2024;
  for (uint8_t& b : ids) {
    state = state * 1103515245u + 12345u;
    b = static_cast<uint8_t>(state >> 16);
  }
  std::vector<char> words(TAVIK_MAX_WORD_LEN * kItems);
  std::vector<size_t> lens(kItems);
  std::vector<int> statuses(kItems);
  std::vector<uint8_t> out(16 * kItems);
  if (tavik_encode_many(codec, scratch, ids.data(), 16, kItems, words.data(), TAVIK_MAX_WORD_LEN,
                        lens.data(), statuses.data()) != 0) {
    return 1;
  }
  // The words with one letter confused along the recovery graph's first edge (W for T), where
  // there is one: recover then searches.
  std::vector<char> typos = words;
  for (size_t i = 0; i < kItems; ++i) {
    char* w = typos.data() + i * TAVIK_MAX_WORD_LEN;
    if (char* t = static_cast<char*>(std::memchr(w, 'T', lens[i]))) { *t = 'W'; }
  }

  // The core's bulk inputs, made once as the C interface makes them per batch.
  std::vector<std::span<const uint8_t>> items(kItems);
  std::vector<core::CodeUnits> units(kItems);
  std::vector<core::CodeUnits> typo_units(kItems);
  for (size_t i = 0; i < kItems; ++i) {
    items[i] = {ids.data() + 16 * i, 16};
    units[i] = core::CodeUnits(std::string_view(words.data() + i * TAVIK_MAX_WORD_LEN, lens[i]));
    typo_units[i] =
        core::CodeUnits(std::string_view(typos.data() + i * TAVIK_MAX_WORD_LEN, lens[i]));
  }
  core::BatchScratch batch;
  std::vector<core::EncodedText> texts(core::kBatchLen);
  std::vector<core::Bytes16> bytes(core::kBatchLen);
  std::vector<std::optional<Error>> errors(core::kBatchLen);
  auto core_many = [&](auto many, const std::vector<core::CodeUnits>& in) {
    for (size_t first = 0; first < kItems; first += core::kBatchLen) {
      many(config, std::span(in).subspan(first, core::kBatchLen), std::span(bytes),
           std::span(errors), batch);
    }
  };

  struct Pair {
    const char* name;
    std::function<void()> c_call;
    std::function<void()> core_call;
    std::vector<double> c_ns = {}, core_ns = {}, ratios = {};
  };
  std::vector<Pair> pairs;
  pairs.push_back({"tavik_encode / core::encode",
                   [&] {
                     char word[TAVIK_MAX_WORD_LEN];
                     size_t len = 0;
                     for (size_t i = 0; i < kItems; ++i) {
                       tavik_encode(codec, ids.data() + 16 * i, 16, word, sizeof word, &len);
                       keep(len);
                     }
                   },
                   [&] {
                     for (size_t i = 0; i < kItems; ++i) {
                       const auto text = core::encode(config, items[i]);
                       keep(text.value().len);
                     }
                   }});
  pairs.push_back({"tavik_decode / core::decode_text",
                   [&] {
                     uint8_t id[16];
                     for (size_t i = 0; i < kItems; ++i) {
                       keep(static_cast<size_t>(
                           tavik_decode(codec, words.data() + i * TAVIK_MAX_WORD_LEN, lens[i], id)));
                     }
                   },
                   [&] {
                     for (size_t i = 0; i < kItems; ++i) {
                       keep(core::decode_text(config, units[i]).ok());
                     }
                   }});
  pairs.push_back({"tavik_encode_many / core::encode_many",
                   [&] {
                     tavik_encode_many(codec, scratch, ids.data(), 16, kItems, words.data(),
                                       TAVIK_MAX_WORD_LEN, lens.data(), statuses.data());
                   },
                   [&] {
                     for (size_t first = 0; first < kItems; first += core::kBatchLen) {
                       core::encode_many(config, std::span(items).subspan(first, core::kBatchLen),
                                         std::span(texts), std::span(errors), batch);
                     }
                   }});
  pairs.push_back({"tavik_decode_many / core::decode_many",
                   [&] {
                     tavik_decode_many(codec, scratch, words.data(), TAVIK_MAX_WORD_LEN,
                                       lens.data(), kItems, out.data(), statuses.data());
                   },
                   [&] { core_many(&core::decode_many, units); }});
  pairs.push_back({"tavik_recover_many / core::recover_many (one letter confused)",
                   [&] {
                     tavik_recover_many(codec, scratch, typos.data(), TAVIK_MAX_WORD_LEN,
                                        lens.data(), kItems, out.data(), statuses.data());
                   },
                   [&] { core_many(&core::recover_many, typo_units); }});

  for (int round = 0; round < rounds; ++round) {
    for (Pair& p : pairs) {
      // Alternate which side runs first, so that neither always finds the caches warm.
      double c_ns = 0;
      double core_ns = 0;
      if (round % 2 == 0) {
        c_ns = time_per_item(p.c_call);
        core_ns = time_per_item(p.core_call);
      } else {
        core_ns = time_per_item(p.core_call);
        c_ns = time_per_item(p.c_call);
      }
      p.c_ns.push_back(c_ns);
      p.core_ns.push_back(core_ns);
      p.ratios.push_back(c_ns / core_ns);
    }
  }
  std::printf("| C call / core call | C ns per item | core ns per item | paired ratio |\n");
  std::printf("|---|---:|---:|---:|\n");
  for (const Pair& p : pairs) {
    std::printf("| %s | %.0f | %.0f | %.3f |\n", p.name, median(p.c_ns), median(p.core_ns),
                median(p.ratios));
  }
  tavik_scratch_free(scratch);
  tavik_codec_free(codec);
  return sink == 0 ? 1 : 0;
}
