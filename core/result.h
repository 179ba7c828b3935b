#ifndef TAVIK_CORE_RESULT_H_
#define TAVIK_CORE_RESULT_H_

#include <cstdint>
#include <string>
#include <utility>
#include <variant>

namespace tavik::core {

// ErrorCode tells the binding which exception an error becomes. kValue is every value check
// and every decode and recover failure; kDecodeAfterRecovery the one runtime failure of
// recover; kInternal a broken invariant that the checks rule out.
enum class ErrorCode : uint8_t { kValue, kDecodeAfterRecovery, kInternal };

struct Error {
  ErrorCode code;
  std::string message;  // for people; tests match on `code` and on the fixed texts
};

// Result holds a value or an Error. Core code returns these and never throws.
template <typename T>
class [[nodiscard]] Result {
 public:
  Result(T value) : v_(std::move(value)) {}  // implicit, so `return value;` works
  Result(Error error) : v_(std::move(error)) {}
  bool ok() const { return v_.index() == 0; }
  const T& value() const& { return std::get<0>(v_); }
  T&& value() && { return std::get<0>(std::move(v_)); }
  const Error& error() const { return std::get<1>(v_); }

 private:
  std::variant<T, Error> v_;
};

inline Error value_error(std::string message) { return Error{ErrorCode::kValue, std::move(message)}; }

}  // namespace tavik::core

#endif  // TAVIK_CORE_RESULT_H_
