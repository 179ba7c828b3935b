#include "tests/support/backend_swap.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <string_view>

namespace tavik {
namespace {

void print_names(std::FILE* out) {
  for (const fpe::Backend& b : fpe::available_backends()) {
    std::fprintf(out, "%.*s\n", static_cast<int>(b.name.size()), b.name.data());
  }
}

const fpe::Backend& initial_backend() {
  static const fpe::Backend chosen = [] {
    const char* name = std::getenv("TAVIK_TEST_BACKEND");
    if (name == nullptr || *name == '\0') { return fpe::detect_backend(); }
    for (const fpe::Backend& b : fpe::available_backends()) {
      if (b.name == name) { return b; }
    }
    std::fprintf(stderr, "TAVIK_TEST_BACKEND=%s is not a backend this processor runs; these are:\n",
                 name);
    print_names(stderr);
    std::exit(2);
  }();
  return chosen;
}

std::atomic<const fpe::Backend*> current{nullptr};

// Chooses at start, before any test runs: a wrong name stops the program at once.
const bool kChosenAtStart = [] {
  const char* name = std::getenv("TAVIK_TEST_BACKEND");
  if (name != nullptr && std::string_view(name) == "list") {
    print_names(stdout);
    std::exit(0);
  }
  current.store(&initial_backend());
  return true;
}();

}  // namespace

const fpe::Backend& fpe::backend() {
  const Backend* b = current.load(std::memory_order_acquire);
  return b != nullptr ? *b : initial_backend();
}

testing::ScopedBackend::ScopedBackend(const fpe::Backend& table) : saved_(&fpe::backend()) {
  current.store(&table, std::memory_order_release);
}

testing::ScopedBackend::~ScopedBackend() { current.store(saved_, std::memory_order_release); }

std::vector<fpe::Backend> testing::block_forms() {
  std::vector<fpe::Backend> forms;
  for (const fpe::Backend& b : fpe::available_backends()) {
    bool seen = false;
    for (const fpe::Backend& f : forms) { seen = seen || f.compress == b.compress; }
    if (!seen) { forms.push_back(b); }
  }
  return forms;
}

std::string testing::form_name(const fpe::Backend& b) {
  return std::string(b.name.substr(0, b.name.find('/')));
}

}  // namespace tavik
