// The native side of bench/js_bench.mjs: one round of the same blocks of calls that the
// benchmark times in Node through the package, on this processor's own code, printed as one
// line of JSON (CPU nanoseconds per item). Kinds: the C interface's encode, decode and bulk
// forms (best SHA path of this processor), and the hashing alone on the portable SHA-256 and
// on the best path (lanes_wasm_bench.cc, the same functions the WebAssembly build exports).
//   native_rounds ITEMS
#include <time.h>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "fpe/backend.h"
#include "include/tavik.h"
#include "tests/support/backend_swap.h"

extern "C" uint32_t bench_compress(uint32_t n);
extern "C" uint32_t bench_hmac_blocks(uint32_t n, uint32_t lanes);
extern "C" uint32_t bench_encrypt_many(uint32_t n, uint32_t lanes);

namespace {

constexpr char kSettings[] =
    "tavik/1 level=universal mode=sealed bits=128 cipher=feistel8:key check=1 case=upper "
    "chunk=balanced sep=U+002D";
constexpr uint8_t kKey[] = {'b', 'e', 'n', 'c', 'h', ' ', 'k', 'e', 'y'};

double cpu_ns() {
  timespec ts{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) * 1e9 + static_cast<double>(ts.tv_nsec);
}

double per_item(size_t n, const std::function<void()>& block) {
  const double start = cpu_ns();
  block();
  return (cpu_ns() - start) / static_cast<double>(n);
}

volatile uint32_t sink = 0;

}  // namespace

int main(int argc, char** argv) {
  const size_t n = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 2048;
  tavik_codec* codec = nullptr;
  tavik_scratch* scratch = nullptr;
  if (tavik_codec_new(kSettings, kKey, sizeof(kKey), nullptr, 0, &codec) != TAVIK_OK ||
      tavik_scratch_new(&scratch) != TAVIK_OK) {
    std::fprintf(stderr, "no codec\n");
    return 1;
  }
  std::vector<uint8_t> ids(16 * n);
  for (size_t i = 0; i < ids.size(); ++i) { ids[i] = static_cast<uint8_t>(i * 2654435761u >> 13); }
  std::vector<char> words(TAVIK_MAX_WORD_LEN * n);
  std::vector<size_t> lens(n);
  std::vector<int> statuses(n);
  std::vector<uint8_t> out(16 * n);
  const double encode = per_item(n, [&] {
    for (size_t i = 0; i < n; ++i) {
      tavik_encode(codec, &ids[16 * i], 16, &words[TAVIK_MAX_WORD_LEN * i], TAVIK_MAX_WORD_LEN,
                   &lens[i]);
    }
  });
  const double decode = per_item(n, [&] {
    for (size_t i = 0; i < n; ++i) {
      tavik_decode(codec, &words[TAVIK_MAX_WORD_LEN * i], lens[i], &out[16 * i]);
    }
  });
  const double encode_many = per_item(n, [&] {
    tavik_encode_many(codec, scratch, ids.data(), 16, n, words.data(), TAVIK_MAX_WORD_LEN,
                      lens.data(), statuses.data());
  });
  const double decode_many = per_item(n, [&] {
    tavik_decode_many(codec, scratch, words.data(), TAVIK_MAX_WORD_LEN, lens.data(), n,
                      out.data(), statuses.data());
  });
  const uint32_t hashes = 20000;
  const double compress = per_item(hashes, [&] { sink = bench_compress(hashes); });
  const double hmac_lanes = per_item(hashes, [&] { sink = bench_hmac_blocks(hashes, 1); });
  double compress_portable = 0;
  double hmac_portable = 0;
  {
    // Our own SHA-256 in plain C++, through the test program's way to swap the backend table.
    const tavik::fpe::Backend* generic = &tavik::fpe::backend();
    for (const tavik::fpe::Backend& b : tavik::fpe::available_backends()) {
      if (b.name == "generic/single") { generic = &b; }
    }
    const tavik::testing::ScopedBackend portable(*generic);
    compress_portable = per_item(hashes, [&] { sink = bench_compress(hashes); });
    hmac_portable = per_item(hashes, [&] { sink = bench_hmac_blocks(hashes, 0); });
  }
  std::printf("{\"encode\": %.1f, \"decode\": %.1f, \"encodeMany\": %.1f, \"decodeMany\": %.1f, "
              "\"compress\": %.1f, \"hmacLanes\": %.1f, \"compressPortable\": %.1f, "
              "\"hmacPortable\": %.1f}\n",
              encode, decode, encode_many, decode_many, compress, hmac_lanes, compress_portable,
              hmac_portable);
  tavik_scratch_free(scratch);
  tavik_codec_free(codec);
  return 0;
}
