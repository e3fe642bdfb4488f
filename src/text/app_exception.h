// The program's one exception type.
#pragma once

#include <string>
#include <string_view>
#include <utility>

namespace orlenta {

/// The text shown or logged for any failure that is not an AppException.
inline constexpr std::u16string_view kUnexpectedErrorText = u"予期しないエラーが発生しました。";

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
