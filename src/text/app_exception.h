// The program's one exception type.
#pragma once

#include <string>
#include <utility>

namespace orlenta {

/// A failure with a complete, user-readable message, shown unchanged in an
/// error box or a log entry. Thrown by value, caught by const reference.
class AppException {
 public:
  explicit AppException(std::u16string message) : message_(std::move(message)) {}
  const std::u16string& message() const noexcept { return message_; }

 private:
  std::u16string message_;
};

}  // namespace orlenta
