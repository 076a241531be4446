#include "client/config/key_archive_win.h"

// unzip.h first: it brings the zlib declarations iowin32.h relies on.
#include <unzip.h>
// clang-format off
#include <iowin32.h>
// clang-format on

#include <algorithm>
#include <new>
#include <optional>
#include <vector>

#include "base/unique_handle_win.h"
#include "base/wide_text.h"
#include "client/common/user_messages_win.h"
#include "client/config/archive_names.h"
#include "client/config/http_client_win.h"
#include "client/config/openvpn_config.h"
#include "client/config/settings_store_win.h"

namespace veltrona::config {

using common::ShowWarning;

namespace {

// The archive path in the message is cut to this many characters.
constexpr std::size_t kMessagePathChars = 100;
// Entry names longer than this cannot name a file in the data folder.
constexpr uLong kEntryNameBytes = 260;

class ZipArchive {
 public:
  explicit ZipArchive(const std::wstring& path) {
    zlib_filefunc64_def functions{};
    // The wide file functions, so a data folder outside the ANSI code page
    // still opens.
    fill_win32_filefunc64W(&functions);
    file_ = ::unzOpen2_64(path.c_str(), &functions);
  }
  ZipArchive(const ZipArchive&) = delete;
  ZipArchive& operator=(const ZipArchive&) = delete;
  ~ZipArchive() {
    if (file_ != nullptr) ::unzClose(file_);
  }
  unzFile Get() const { return file_; }

 private:
  unzFile file_ = nullptr;
};

bool FileExists(const std::wstring& path) {
  const DWORD attributes = ::GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

// Creates every folder of `relative` below `folder` (the last component
// too when `include_last`).
void CreateFolders(const std::wstring& folder, const std::wstring& relative, bool include_last) {
  std::size_t pos = 0;
  for (;;) {
    const std::size_t separator = relative.find(L'\\', pos);
    if (separator == std::wstring::npos) break;
    ::CreateDirectoryW((folder + L"\\" + relative.substr(0, separator)).c_str(), nullptr);
    pos = separator + 1;
  }
  if (include_last) ::CreateDirectoryW((folder + L"\\" + relative).c_str(), nullptr);
}

// The whole entry, or nothing when it is shorter than it claims or fails its
// check sum.
std::optional<std::vector<char>> ReadEntry(unzFile zip, std::uint64_t size) {
  if (::unzOpenCurrentFile(zip) != UNZ_OK) return std::nullopt;
  std::vector<char> data(static_cast<std::size_t>(size));
  std::size_t total = 0;
  while (total < data.size()) {
    const std::size_t want = std::min<std::size_t>(data.size() - total, 1u << 20);
    const int read = ::unzReadCurrentFile(zip, data.data() + total, static_cast<unsigned>(want));
    if (read <= 0) break;
    total += static_cast<std::size_t>(read);
  }
  // Closing checks the CRC once the entry has been read to its end.
  const int closed = ::unzCloseCurrentFile(zip);
  if (total != data.size() || closed != UNZ_OK) return std::nullopt;
  return data;
}

void WriteEntryFile(const std::wstring& path, const std::vector<char>& data) {
  UniqueFile file(::CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return;
  DWORD written = 0;
  if (!data.empty()) {
    (void)::WriteFile(file.Get(), data.data(), static_cast<DWORD>(data.size()), &written, nullptr);
  }
}

void ExtractCurrentEntry(unzFile zip, const std::wstring& folder, ExtractionBudget& budget) {
  unz_file_info64 info{};
  char raw_name[kEntryNameBytes + 1] = {};
  if (::unzGetCurrentFileInfo64(zip, &info, raw_name, sizeof raw_name, nullptr, 0, nullptr, 0) != UNZ_OK) return;
  // A name cut to the buffer would name another file.
  if (info.size_filename > kEntryNameBytes) return;
  const std::u16string name = DecodeEntryName(std::string_view(raw_name, info.size_filename),
                                              (info.flag & kZipUtf8NameFlag) != 0, xml::XmlDefaultDecoder());
  if (name.empty()) return;
  const std::optional<ConfinedEntry> entry =
      ConfineArchiveEntry(name, (info.external_fa & kZipDirectoryAttribute) != 0);
  if (!entry) return;
  const std::optional<std::u16string> target = JoinDataPath(ToU16(folder), entry->relative_path);
  if (!target) return;
  const std::wstring relative = ToWide(entry->relative_path);
  if (entry->is_folder) {
    CreateFolders(folder, relative, true);
    return;
  }
  if (!budget.AdmitFile(info.uncompressed_size)) return;
  const std::optional<std::vector<char>> data = ReadEntry(zip, info.uncompressed_size);
  if (!data) return;
  CreateFolders(folder, relative, false);
  WriteEntryFile(ToWide(*target), *data);
}

}  // namespace

bool SaveDownloadedFile(std::wstring_view folder, std::wstring_view name, std::string_view bytes,
                        HWND owner) noexcept {
  try {
    if (bytes.empty() || bytes.size() > MAXDWORD) return false;
    const std::optional<std::u16string> joined = JoinDataPath(ToU16(folder), ToU16(name));
    if (!joined) return false;
    const std::wstring path = ToWide(*joined);
    UniqueFile file(::CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
      ShowWarning(owner, L"Can't create file " + path);
      return false;
    }
    DWORD written = 0;
    if (!::WriteFile(file.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) ||
        written != bytes.size()) {
      ShowWarning(owner, L"Can't save file " + path);
      return false;
    }
    return true;
  } catch (const std::bad_alloc&) {
    return false;
  }
}

bool ExtractKeyArchive(std::wstring_view folder, std::wstring_view archive_name,
                       HWND owner) noexcept {
  try {
    const std::optional<std::u16string> joined = JoinDataPath(ToU16(folder), ToU16(archive_name));
    if (!joined) return false;
    const std::wstring path = ToWide(*joined);
    const std::wstring folder_text(folder);
    {
      const ZipArchive zip(path);
      if (zip.Get() == nullptr) {
        ShowWarning(owner, L"Can't open zip file " + path.substr(0, kMessagePathChars));
        return false;
      }
      // Without entries the archive stays on disk, as it came.
      if (::unzGoToFirstFile(zip.Get()) != UNZ_OK) return false;
      ExtractionBudget budget;
      do {
        if (!budget.AdmitEntry()) break;
        ExtractCurrentEntry(zip.Get(), folder_text, budget);
      } while (::unzGoToNextFile(zip.Get()) == UNZ_OK);
    }
    ::DeleteFileW(path.c_str());
    return true;
  } catch (const std::bad_alloc&) {
    return false;
  }
}

bool WriteOpenVpnConfig(const HostAddress& config_host, std::wstring_view data_folder, std::wstring_view address,
                        std::wstring_view proxy, HWND owner) noexcept {
  try {
    std::wstring cached;
    // An absent cache reads as empty text, which the plan finds unusable.
    (void)ReadStringSetting(SettingId::kConfigCache, cached);
    const OvpnPlan plan = PlanOpenVpnConfig(ToU16(cached), ToU16(data_folder));
    if (plan.status == OvpnPlanStatus::kNothingToDo) return true;
    if (plan.status == OvpnPlanStatus::kRefused) {
      ShowWarning(owner, ToWide(plan.refusal));
      return false;
    }
    if (plan.status != OvpnPlanStatus::kReady) return false;

    if (!plan.keys_request.empty()) {
      std::string archive;
      if (HttpGet(config_host, ToWide(plan.keys_request), archive) == 0) {
        return FileExists(ToWide(plan.keys_fallback_path));
      }
      const std::wstring archive_name = ToWide(plan.archive_name);
      if (!SaveDownloadedFile(data_folder, archive_name, archive, owner)) return false;
      if (!ExtractKeyArchive(data_folder, archive_name, owner)) return false;
    }

    if (!plan.template_request.empty()) {
      std::string downloaded;
      if (HttpGet(config_host, ToWide(plan.template_request), downloaded) == 0) {
        return FileExists(ToWide(plan.config_path));
      }
      const std::optional<std::string> config = FillTemplate(downloaded, ToU16(address), ToU16(proxy));
      if (!config) {
        ShowWarning(owner, ToWide(TemplateRefusal(ToU16(address), ToU16(proxy))));
        return false;
      }
      return SaveDownloadedFile(data_folder, ToWide(kConfigFileName), *config, owner);
    }
    return true;
  } catch (const std::bad_alloc&) {
    return false;
  }
}

}  // namespace veltrona::config
