#ifndef TAVIK_TESTS_SUPPORT_BACKEND_SWAP_H_
#define TAVIK_TESTS_SUPPORT_BACKEND_SWAP_H_

// The test program's own backend() (tests/support/backend_swap.cc), linked in place of the
// library's, so that tests run every backend the processor has:
// - At start the program runs on the backend named by the environment variable
//   TAVIK_TEST_BACKEND (one of available_backends(): the program stops with the list when the
//   name is not among them), or, unset, on detect_backend() as the library would.
//   TAVIK_TEST_BACKEND=list prints the names, one a line, and exits.
// - ScopedBackend swaps the table for the rest of a scope.

#include <string>
#include <vector>

#include "fpe/backend.h"

namespace tavik::testing {

// ScopedBackend makes fpe::backend() return `table` while it lives. Not while another thread
// hashes.
class ScopedBackend {
 public:
  explicit ScopedBackend(const fpe::Backend& table);
  ScopedBackend(const ScopedBackend&) = delete;
  ScopedBackend& operator=(const ScopedBackend&) = delete;
  ~ScopedBackend();

 private:
  const fpe::Backend* saved_;
};

// block_forms gives one backend for each form of the block functions this processor runs
// ("sha", "bmi2", "generic"), and form_name that form's name.
std::vector<fpe::Backend> block_forms();
std::string form_name(const fpe::Backend& b);

}  // namespace tavik::testing

#endif  // TAVIK_TESTS_SUPPORT_BACKEND_SWAP_H_
