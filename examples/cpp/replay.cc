// Replays the known answers of tests/vectors through tavik.hpp, as any C++ program would use
// tavik: every word encodes, decodes and recovers as recorded, the bulk forms give each item
// the same, and every recorded failure throws tavik::StatusError with the Python exception's
// text. Once the codecs and the scratch exist, none of these calls allocates: a counting
// operator new shows it.
//   replay VECTORS_DIR
#include <tavik.hpp>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <new>
#include <optional>
#include <sstream>
#include <thread>
#include <string>
#include <vector>

namespace {

std::atomic<long> allocations{0};

int failures = 0;
void expect(bool ok, const std::string& what) {
  if (!ok) {
    std::fprintf(stderr, "FAILED: %s\n", what.c_str());
    ++failures;
  }
}

std::vector<std::string> fields_of(const std::string& line) {
  std::vector<std::string> fields;
  std::stringstream in(line);
  std::string field;
  while (std::getline(in, field, '\t')) { fields.push_back(field); }
  if (!line.empty() && line.back() == '\t') { fields.emplace_back(); }
  return fields;
}

// A hex field: nullopt for "-".
std::optional<std::vector<uint8_t>> hex(const std::string& text) {
  if (text == "-") { return std::nullopt; }
  std::vector<uint8_t> bytes;
  for (size_t i = 0; i + 1 < text.size(); i += 2) {
    bytes.push_back(static_cast<uint8_t>(std::stoi(text.substr(i, 2), nullptr, 16)));
  }
  return bytes;
}

std::string text_of(const std::vector<uint8_t>& bytes) { return {bytes.begin(), bytes.end()}; }

std::span<const uint8_t> key_span(const std::optional<std::vector<uint8_t>>& key) {
  static const uint8_t kEmpty[1] = {0};
  if (!key) { return {}; }
  return key->empty() ? std::span<const uint8_t>(kEmpty, 0) : std::span<const uint8_t>(*key);
}

std::vector<std::vector<std::string>> read_lines(const std::string& path) {
  std::ifstream in(path);
  if (!in) {
    std::fprintf(stderr, "cannot open %s\n", path.c_str());
    std::exit(2);
  }
  std::vector<std::vector<std::string>> lines;
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line[0] != '#') { lines.push_back(fields_of(line)); }
  }
  return lines;
}

constexpr size_t kMaxInput = 1024;  // the longest input a known word may have here

struct Known {
  tavik::Codec codec;
  std::string settings;
  std::vector<uint8_t> input;
  std::string word;
  std::optional<std::string> typo;
  std::optional<std::vector<uint8_t>> recovered;
  bool plain;
};

}  // namespace

void* operator new(size_t size) {
  allocations.fetch_add(1, std::memory_order_relaxed);
  if (void* p = std::malloc(size == 0 ? 1 : size)) { return p; }
  throw std::bad_alloc();
}
void* operator new[](size_t size) { return operator new(size); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, size_t) noexcept { std::free(p); }
void operator delete[](void* p, size_t) noexcept { std::free(p); }

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: replay VECTORS_DIR\n");
    return 2;
  }
  const std::string dir = argv[1];
  std::vector<Known> known;
  for (const auto& f : read_lines(dir + "/codewords.tsv")) {
    const auto key = hex(f[1]);
    const auto cipher_key = hex(f[2]);
    const auto typo = hex(f[5]);
    if (hex(f[3])->size() > kMaxInput) {
      std::fprintf(stderr, "an input longer than %zu bytes\n", kMaxInput);
      return 2;
    }
    known.push_back(Known{tavik::Codec(f[0], key_span(key), key_span(cipher_key)), f[0],
                          *hex(f[3]), text_of(*hex(f[4])),
                          typo ? std::optional<std::string>(text_of(*typo)) : std::nullopt,
                          hex(f[6]), f[0].find("mode=plain") != std::string::npos});
  }
  tavik::Scratch main_scratch;
  // replay_all checks every known word with the single calls and the bulk forms, and returns
  // how many answers differ; it reports nothing, so that it allocates nothing.
  auto replay_all = [&known](tavik::Scratch& scratch) {
    std::array<char, 3 * TAVIK_MAX_WORD_LEN> words{};
    std::array<size_t, 3> lens{};
    std::array<int, 3> statuses{};
    std::array<tavik::Id, 3> ids{};
    std::array<uint8_t, 3 * kMaxInput> inputs{};
    size_t mismatches = 0;
    for (const Known& k : known) {
      std::array<char, TAVIK_MAX_SETTINGS_LEN> settings;
      const size_t settings_len = k.codec.settings_into(settings);
      mismatches += std::string_view(settings.data(), settings_len) != k.settings;
      std::array<char, TAVIK_MAX_WORD_LEN> word;
      const size_t len = k.codec.encode_into(k.input, word);
      mismatches += std::string_view(word.data(), len) != k.word;
      const tavik::Id decoded = k.codec.decode(k.word);
      if (!k.plain) { mismatches += k.codec.recover(k.word) != decoded; }
      if (k.typo) {
        mismatches += !std::equal(decoded.begin(), decoded.end(), k.recovered->begin());
        mismatches += k.codec.recover(*k.typo) != decoded;
      }
      // Three items through the bulk forms: the word twice and the typo (or the word).
      for (size_t i = 0; i < 3 && !k.input.empty(); ++i) {
        std::memcpy(inputs.data() + i * k.input.size(), k.input.data(), k.input.size());
      }
      k.codec.encode_many(scratch, {inputs.data(), 3 * k.input.size()}, k.input.size(), words,
                          TAVIK_MAX_WORD_LEN, lens, statuses);
      for (size_t i = 0; i < 3; ++i) {
        mismatches += statuses[i] != TAVIK_OK ||
                      std::string_view(words.data() + i * TAVIK_MAX_WORD_LEN, lens[i]) != k.word;
      }
      k.codec.decode_many(scratch, words, TAVIK_MAX_WORD_LEN, lens, ids, statuses);
      mismatches += statuses[0] != TAVIK_OK || ids[0] != decoded;
      if (k.typo) {
        std::memcpy(words.data() + 2 * TAVIK_MAX_WORD_LEN, k.typo->data(), k.typo->size());
        lens[2] = k.typo->size();
        k.codec.recover_many(scratch, words, TAVIK_MAX_WORD_LEN, lens, ids, statuses);
        mismatches += statuses[2] != TAVIK_OK || ids[2] != decoded;
      }
    }
    return mismatches;
  };

  const long before = allocations.load();
  const size_t mismatches = replay_all(main_scratch);
  const long during = allocations.load() - before;
  expect(mismatches == 0, std::to_string(mismatches) + " known answers differ");
  expect(during == 0, "the calls allocated " + std::to_string(during) + " times");

  // Two threads share every codec, each with its own scratch.
  std::array<size_t, 2> thread_mismatches{};
  {
    tavik::Scratch other;
    std::thread first([&] { thread_mismatches[0] = replay_all(main_scratch); });
    std::thread second([&] { thread_mismatches[1] = replay_all(other); });
    first.join();
    second.join();
  }
  expect(thread_mismatches[0] + thread_mismatches[1] == 0, "answers differ with two threads");

  size_t refused = 0;
  for (const auto& f : read_lines(dir + "/failures.tsv")) {
    const std::string settings = text_of(*hex(f[1]));
    const auto key = hex(f[2]);
    const auto cipher_key = hex(f[3]);
    const auto argument = *hex(f[4]);
    const std::string& message = f[5];
    try {
      tavik::Codec codec(settings, key_span(key), key_span(cipher_key));
      if (f[0] == "encode") {
        (void)codec.encode(argument);
      } else if (f[0] == "decode") {
        (void)codec.decode(text_of(argument));
      } else if (f[0] == "recover") {
        (void)codec.recover(text_of(argument));
      }
      expect(false, f[0] + " did not fail: " + message);
    } catch (const tavik::StatusError& e) {
      expect(e.what() == message, f[0] + ": \"" + e.what() + "\", not \"" + message + "\"");
      ++refused;
    }
  }
  std::printf("C++ example (tavik %s): %zu known words, %zu failures, %ld allocations in the "
              "calls: %s\n",
              tavik_version(), known.size(), refused, during, failures == 0 ? "ok" : "FAILED");
  return failures == 0 ? 0 : 1;
}
