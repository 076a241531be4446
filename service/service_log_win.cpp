#include "service/service_log_win.h"

#include <windows.h>

#include <limits>

#include "base/known_folders_win.h"
#include "base/unique_handle_win.h"
#include "service/openvpn_launch_win.h"

namespace veltrona::service {

namespace {

class FileLogSink final : public LogSink {
 public:
  explicit FileLogSink(UniqueFile file) : file_(std::move(file)) {}

  void WriteAll(std::string_view bytes) override {
    if (bytes.size() > std::numeric_limits<DWORD>::max()) return;
    DWORD written = 0;
    // Write-through file: one call per line, nothing buffered here. A failed
    // write is dropped; the log must never stop the service.
    (void)::WriteFile(file_.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
  }

 private:
  UniqueFile file_;
};

}  // namespace

std::string ServiceLogPath() {
  const auto folder = ServiceDataFolderAnsi();
  return folder ? *folder + "\\service.log" : std::string();
}

ServiceLog OpenServiceLog() {
  const std::string path = ServiceLogPath();
  // The folder belongs to the installation; one that a user made (or linked
  // elsewhere) would let that user choose what SYSTEM truncates.
  if (path.empty() || TrustedServiceFolder().empty()) return ServiceLog();
  // Others may read the log while the service writes it (the problem report
  // does); nobody else may write or delete it.
  UniqueFile file(::CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL | FILE_FLAG_WRITE_THROUGH, nullptr));
  if (!file) return ServiceLog();
  return ServiceLog(std::make_unique<FileLogSink>(std::move(file)));
}

}  // namespace veltrona::service
