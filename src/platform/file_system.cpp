// RealFileSystem(): the FileSystem interface bound to the machine's own
// operations, identical on every OS because it only forwards.
#include "platform/platform.h"

namespace orlenta::platform {
namespace {

/// Forwards every call to the free functions of platform.h.
class MachineFileSystem final : public FileSystem {
 public:
  PathKind QueryPath(std::u16string_view path) override { return platform::QueryPath(path); }
  CreateFolderResult CreateFolder(std::u16string_view path) override {
    return platform::CreateFolder(path);
  }
  bool CopyFileReplacing(std::u16string_view from, std::u16string_view to) override {
    return platform::CopyFileReplacing(from, to);
  }
  std::optional<FileIdentity> QueryFileIdentity(std::u16string_view path) override {
    return platform::QueryFileIdentity(path);
  }
  bool DeleteFileAt(std::u16string_view path) override { return platform::DeleteFileAt(path); }
  ReplaceResult ReplaceFileAtomically(std::u16string_view from, std::u16string_view to) override {
    return platform::ReplaceFileAtomically(from, to);
  }
  std::optional<File> OpenFile(std::u16string_view path, File::Mode mode) override {
    return File::Open(path, mode);
  }
  void SleepFor(unsigned milliseconds) override { platform::SleepFor(milliseconds); }
};

}  // namespace

FileSystem& RealFileSystem() {
  static MachineFileSystem file_system;
  return file_system;
}

}  // namespace orlenta::platform
