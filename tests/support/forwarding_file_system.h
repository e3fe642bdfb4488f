// A file system for fault-injection tests: forwards every call to the real
// one, so a test overrides only the call it breaks.
#pragma once

#include <functional>
#include <string>

#include "platform/platform.h"
#include "text/app_exception.h"

namespace orlenta::testing {

class ForwardingFileSystem : public platform::FileSystem {
 public:
  platform::FileSystem& real = platform::RealFileSystem();
  int sleeps = 0;  // pauses asked for; none is taken

  platform::PathKind QueryPath(std::u16string_view p) override { return real.QueryPath(p); }
  platform::CreateFolderResult CreateFolder(std::u16string_view p) override { return real.CreateFolder(p); }
  bool CopyFileReplacing(std::u16string_view f, std::u16string_view t) override {
    return real.CopyFileReplacing(f, t);
  }
  std::optional<platform::FileIdentity> QueryFileIdentity(std::u16string_view p) override {
    return real.QueryFileIdentity(p);
  }
  bool DeleteFileAt(std::u16string_view p) override { return real.DeleteFileAt(p); }
  platform::ReplaceResult ReplaceFileAtomically(std::u16string_view f, std::u16string_view t) override {
    return real.ReplaceFileAtomically(f, t);
  }
  std::optional<platform::File> OpenFile(std::u16string_view p, platform::File::Mode m) override {
    return real.OpenFile(p, m);
  }
  void SleepFor(unsigned) override { ++sleeps; }
};

/// The message of the AppException that `action` throws, or "(no exception)".
inline std::u16string MessageOf(const std::function<void()>& action) {
  try {
    action();
  } catch (const AppException& e) {
    return e.message();
  }
  return u"(no exception)";
}

}  // namespace orlenta::testing
