#include "service/service_log_win.h"

#include <windows.h>

#include <limits>

#include "base/known_folders_win.h"
#include "base/unique_handle_win.h"
#include "service/event_log_win.h"
#include "service/security_win.h"

namespace veltrona::service {

namespace {

constexpr wchar_t kLogName[] = L"service.log";

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

ServiceLog OpenServiceLog(const ServiceFolder& folder) {
  if (!folder.usable()) {
    ReportErrorEvent(kEventServiceFolderUnusable,
                     "The Veltrona VPN service cannot use its folder " + AnsiText(folder.wanted_path()) + ": " +
                         folder.failure() + ". It keeps no log and starts no OpenVPN until the folder is fixed.");
    return ServiceLog();
  }
  const std::wstring path = folder.path() + L"\\" + kLogName;
  std::string why_not;
  UniqueFile file;
  DWORD error = 0;
  if (RemoveChild(folder.handle(), folder.path(), kLogName, &why_not)) {
    UniqueSecurityDescriptor descriptor = DescriptorFromSddl(kServiceLogSddl);
    // Created new, never opened: nothing that was there can be written
    // through. Others may read it while the service writes (the problem
    // report does); nobody else may write or delete it.
    file = OpenChild(folder.handle(), kLogName, GENERIC_WRITE, FILE_SHARE_READ, FILE_CREATE,
                     FILE_NON_DIRECTORY_FILE | FILE_WRITE_THROUGH | FILE_SYNCHRONOUS_IO_NONALERT, descriptor.Get(),
                     &error);
    if (!file) why_not = "it cannot be created (" + ErrorText(error) + ")";
  }
  if (!file) {
    ReportErrorEvent(kEventLogUnavailable,
                     "The Veltrona VPN service cannot write its log " + AnsiText(path) + ": " + why_not + ".");
    return ServiceLog();
  }
  ServiceLog log(std::make_unique<FileLogSink>(std::move(file)));
  return log;
}

}  // namespace veltrona::service
