#include "service/service_folder_win.h"

#include <aclapi.h>
#include <shlobj.h>
#include <winternl.h>

#include <cstdio>
#include <map>

#include "base/known_folders_win.h"
#include "base/wide_text.h"
#include "service/folder_trust.h"
#include "service/security_win.h"

namespace veltrona::service {

namespace {

// Deeper trees than this are not the service's; their removal is refused
// rather than recursing without bound.
constexpr int kMaxRemovalDepth = 16;
constexpr size_t kMaxFolderEntries = 100000;
constexpr DWORD kListBufferBytes = 64 * 1024;
// Something that keeps reappearing while the service replaces it is given up
// on after this many rounds.
constexpr int kPrepareAttempts = 3;

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
// Held folders may be read and written in, never renamed or deleted.
constexpr DWORD kShareHeldFolder = FILE_SHARE_READ | FILE_SHARE_WRITE;
constexpr DWORD kOpenOptions = FILE_OPEN_REPARSE_POINT | FILE_SYNCHRONOUS_IO_NONALERT | FILE_OPEN_FOR_BACKUP_INTENT;
constexpr ACCESS_MASK kFolderAccess = READ_CONTROL | FILE_LIST_DIRECTORY | FILE_TRAVERSE | FILE_READ_ATTRIBUTES |
                                     FILE_ADD_FILE | FILE_ADD_SUBDIRECTORY | SYNCHRONIZE;

Principal PrincipalOf(PSID sid, PSID own_account) {
  if (sid == nullptr || !::IsValidSid(sid)) return Principal::kOther;
  if (::IsWellKnownSid(sid, WinLocalSystemSid)) return Principal::kSystem;
  if (::IsWellKnownSid(sid, WinBuiltinAdministratorsSid)) return Principal::kAdministrators;
  if (own_account != nullptr && ::EqualSid(sid, own_account)) return Principal::kServiceAccount;
  return Principal::kOther;
}

// The account the service runs as: SYSTEM on Windows, the one account Wine
// has.
struct OwnAccount {
  alignas(TOKEN_USER) unsigned char buffer[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE] = {};
  PSID sid = nullptr;

  OwnAccount() {
    HANDLE raw = nullptr;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &raw)) return;
    UniqueKernelHandle token(raw);
    DWORD size = 0;
    if (::GetTokenInformation(token.Get(), TokenUser, buffer, sizeof buffer, &size)) {
      sid = reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid;
    }
  }
};

// Reads the owner and access list of an open object into the portable form.
bool ReadSecurity(HANDLE object, ObjectSecurity* security) {
  PSID owner = nullptr;
  PACL dacl = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (::GetSecurityInfo(object, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &owner,
                        nullptr, &dacl, nullptr, &descriptor) != ERROR_SUCCESS) {
    return false;
  }
  UniqueSecurityDescriptor owned(descriptor);
  const OwnAccount own;
  security->owner = PrincipalOf(owner, own.sid);
  security->has_access_list = dacl != nullptr;
  for (DWORD i = 0; dacl != nullptr && i < dacl->AceCount; ++i) {
    ACE_HEADER* header = nullptr;
    if (!::GetAce(dacl, i, reinterpret_cast<void**>(&header))) return false;
    AccessEntry entry;
    switch (header->AceType) {
      case ACCESS_ALLOWED_ACE_TYPE: {
        auto* ace = reinterpret_cast<ACCESS_ALLOWED_ACE*>(header);
        entry = {true, PrincipalOf(&ace->SidStart, own.sid), ace->Mask};
        break;
      }
      case ACCESS_DENIED_ACE_TYPE:
      case ACCESS_DENIED_OBJECT_ACE_TYPE:
      case ACCESS_DENIED_CALLBACK_ACE_TYPE:
      case ACCESS_DENIED_CALLBACK_OBJECT_ACE_TYPE:
        entry = {false, Principal::kOther, reinterpret_cast<ACCESS_ALLOWED_ACE*>(header)->Mask};
        break;
      default:
        // Object and conditional entries are not told apart here: whatever
        // they might allow counts as allowed to others.
        entry = {true, Principal::kOther, reinterpret_cast<ACCESS_ALLOWED_ACE*>(header)->Mask};
        break;
    }
    security->entries.push_back(entry);
  }
  return true;
}

bool SetDeleteDisposition(HANDLE object) {
  FILE_DISPOSITION_INFO disposition{};
  disposition.DeleteFile = TRUE;
  return ::SetFileInformationByHandle(object, FileDispositionInfo, &disposition, sizeof disposition) != FALSE;
}

// A read-only file cannot be deleted until the attribute is cleared.
void ClearReadOnly(HANDLE object, DWORD attributes) {
  if (!(attributes & FILE_ATTRIBUTE_READONLY)) return;
  FILE_BASIC_INFO basic{};
  basic.FileAttributes = (attributes & ~FILE_ATTRIBUTE_READONLY) | FILE_ATTRIBUTE_NORMAL;
  ::SetFileInformationByHandle(object, FileBasicInfo, &basic, sizeof basic);
}

// The names in an open folder, "." and ".." left out.
bool ListFolder(HANDLE folder, std::vector<std::wstring>* names) {
  std::vector<unsigned char> buffer(kListBufferBytes);
  for (FILE_INFO_BY_HANDLE_CLASS info_class = FileIdBothDirectoryRestartInfo;;
       info_class = FileIdBothDirectoryInfo) {
    if (!::GetFileInformationByHandleEx(folder, info_class, buffer.data(), static_cast<DWORD>(buffer.size()))) {
      return ::GetLastError() == ERROR_NO_MORE_FILES;
    }
    for (size_t offset = 0;;) {
      const auto* entry = reinterpret_cast<const FILE_ID_BOTH_DIR_INFO*>(buffer.data() + offset);
      std::wstring name(entry->FileName, entry->FileNameLength / sizeof(wchar_t));
      if (name != L"." && name != L"..") names->push_back(std::move(name));
      if (names->size() > kMaxFolderEntries) return false;
      if (entry->NextEntryOffset == 0) break;
      offset += entry->NextEntryOffset;
    }
  }
}

bool RemoveOpened(HANDLE object, const std::wstring& path, int depth, std::string* why_not);

bool RemoveChildAt(HANDLE parent, const std::wstring& parent_path, const std::wstring& name, int depth,
                   std::string* why_not) {
  DWORD error = 0;
  UniqueFile child = OpenChild(parent, name,
                               DELETE | FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES | SYNCHRONIZE,
                               kShareAll, FILE_OPEN, kOpenOptions, nullptr, &error);
  const std::wstring path = parent_path + L"\\" + name;
  if (!child) {
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return true;
    *why_not = AnsiText(path) + " cannot be opened for removal (" + ErrorText(error) + ")";
    return false;
  }
  return RemoveOpened(child.Get(), path, depth, why_not);
}

bool RemoveOpened(HANDLE object, const std::wstring& path, int depth, std::string* why_not) {
  FILE_ATTRIBUTE_TAG_INFO tag{};
  if (!::GetFileInformationByHandleEx(object, FileAttributeTagInfo, &tag, sizeof tag)) {
    *why_not = AnsiText(path) + " cannot be examined (" + ErrorText(::GetLastError()) + ")";
    return false;
  }
  const bool is_link = (tag.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
  if (!is_link && !IsPathOf(ToU16(OpenedPath(object)), ToU16(path))) {
    // Opened through a link that the system followed: deleting this handle
    // would delete what the link points to.
    *why_not = AnsiText(path) + " is a link that cannot be removed as itself";
    return false;
  }
  // A link is removed as itself, never entered.
  if (!is_link && (tag.FileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
    if (depth >= kMaxRemovalDepth) {
      *why_not = AnsiText(path) + " is nested too deeply to be removed";
      return false;
    }
    std::vector<std::wstring> names;
    if (!ListFolder(object, &names)) {
      *why_not = AnsiText(path) + " cannot be listed (" + ErrorText(::GetLastError()) + ")";
      return false;
    }
    for (const std::wstring& name : names) {
      if (!RemoveChildAt(object, path, name, depth + 1, why_not)) return false;
    }
  }
  ClearReadOnly(object, tag.FileAttributes);
  if (!SetDeleteDisposition(object)) {
    *why_not = AnsiText(path) + " cannot be deleted (" + ErrorText(::GetLastError()) + ")";
    return false;
  }
  return true;
}

// Opens `name` in `parent` as a folder to keep, or creates it; the result is
// checked either way.
// With `reuse` false an existing folder is always removed first, so that only
// a folder this call created is returned.
UniqueFile OpenOrCreateHeldFolder(HANDLE parent, const std::wstring& parent_path, const std::wstring& name,
                                  const wchar_t* sddl, bool reuse, std::vector<std::string>* notes,
                                  std::string* failure) {
  const std::wstring path = parent_path + L"\\" + name;
  UniqueSecurityDescriptor descriptor = DescriptorFromSddl(sddl);
  if (!descriptor) {
    *failure = "its access list cannot be built (" + ErrorText(::GetLastError()) + ")";
    return UniqueFile();
  }
  for (int attempt = 0; attempt < kPrepareAttempts; ++attempt) {
    DWORD error = 0;
    UniqueFile folder =
        reuse ? OpenChild(parent, name, kFolderAccess, kShareHeldFolder, FILE_OPEN, kOpenOptions, nullptr, &error)
              : UniqueFile();
    if (!reuse) {
      std::string why_not;
      if (!RemoveChild(parent, parent_path, name, &why_not)) {
        *failure = why_not;
        return UniqueFile();
      }
    } else if (folder) {
      const std::string problem = CheckOpened(folder.Get(), path, true);
      if (problem.empty()) return folder;
      folder.Reset();
      notes->push_back("Service folder " + AnsiText(path) + " was not safe to use (" + problem +
                       "); it is removed and made anew");
      std::string why_not;
      if (!RemoveChild(parent, parent_path, name, &why_not)) {
        *failure = "it was not safe to use (" + problem + ") and cannot be removed: " + why_not;
        return UniqueFile();
      }
    } else if (error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND) {
      *failure = "it cannot be opened (" + ErrorText(error) + ")";
      return UniqueFile();
    }
    folder = OpenChild(parent, name, kFolderAccess, kShareHeldFolder, FILE_CREATE,
                       FILE_DIRECTORY_FILE | kOpenOptions, descriptor.Get(), &error);
    if (folder) {
      const std::string problem = CheckOpened(folder.Get(), path, true);
      if (problem.empty()) return folder;
      *failure = "the new folder is not safe to use (" + problem + ")";
      return UniqueFile();
    }
    // Anything else than something that appeared in between is final.
    if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) {
      *failure = "it cannot be created (" + ErrorText(error) + ")";
      return UniqueFile();
    }
  }
  *failure = "something else keeps taking its place";
  return UniqueFile();
}

// Creates every folder on the way to a file of the copy, below `root`.
HANDLE HeldSubfolder(HANDLE root, const std::wstring& root_path, const std::wstring& relative_folder,
                     PSECURITY_DESCRIPTOR descriptor, std::map<std::wstring, UniqueFile>* folders,
                     std::string* why_not) {
  HANDLE parent = root;
  std::wstring path = root_path;
  std::wstring so_far;
  size_t start = 0;
  while (start < relative_folder.size()) {
    size_t end = relative_folder.find(L'\\', start);
    if (end == std::wstring::npos) end = relative_folder.size();
    const std::wstring part = relative_folder.substr(start, end - start);
    so_far += (so_far.empty() ? L"" : L"\\") + part;
    path += L"\\" + part;
    auto found = folders->find(so_far);
    if (found == folders->end()) {
      DWORD error = 0;
      UniqueFile created = OpenChild(parent, part, kFolderAccess, kShareHeldFolder, FILE_CREATE,
                                     FILE_DIRECTORY_FILE | kOpenOptions, descriptor, &error);
      if (!created) {
        *why_not = AnsiText(path) + " cannot be created (" + ErrorText(error) + ")";
        return nullptr;
      }
      found = folders->emplace(so_far, std::move(created)).first;
    }
    parent = found->second.Get();
    start = end + 1;
  }
  return parent;
}

}  // namespace

std::string AnsiText(const std::wstring& text) {
  if (text.empty()) return {};
  const int size =
      ::WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
  if (size <= 0) return {};
  std::string bytes(static_cast<size_t>(size), '\0');
  ::WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()), bytes.data(), size, nullptr, nullptr);
  return bytes;
}

std::string ErrorText(DWORD code) {
  char text[32];
  std::snprintf(text, sizeof text, "error 0x%08lx", static_cast<unsigned long>(code));
  return text;
}

UniqueFile OpenChild(HANDLE parent, const std::wstring& name, ACCESS_MASK access, DWORD share, DWORD disposition,
                     DWORD options, PSECURITY_DESCRIPTOR descriptor, DWORD* error) noexcept {
  *error = ERROR_SUCCESS;
  // One component only: anything else would leave the folder held.
  if (name.empty() || name.size() > 255 || name == L"." || name == L".." ||
      name.find_first_of(L"\\/:") != std::wstring::npos) {
    *error = ERROR_INVALID_NAME;
    return UniqueFile();
  }
  UNICODE_STRING unicode_name;
  unicode_name.Buffer = const_cast<wchar_t*>(name.c_str());
  unicode_name.Length = static_cast<USHORT>(name.size() * sizeof(wchar_t));
  unicode_name.MaximumLength = unicode_name.Length;
  OBJECT_ATTRIBUTES attributes;
  InitializeObjectAttributes(&attributes, &unicode_name, OBJ_CASE_INSENSITIVE, parent, descriptor);
  IO_STATUS_BLOCK status_block{};
  HANDLE handle = nullptr;
  const NTSTATUS status = ::NtCreateFile(&handle, access | SYNCHRONIZE, &attributes, &status_block, nullptr,
                                         FILE_ATTRIBUTE_NORMAL, share, disposition, options, nullptr, 0);
  if (status < 0) {
    *error = ::RtlNtStatusToDosError(status);
    return UniqueFile();
  }
  return UniqueFile(handle);
}

std::wstring OpenedPath(HANDLE object) {
  std::wstring path(MAX_PATH, L'\0');
  for (int attempt = 0; attempt < 2; ++attempt) {
    const DWORD size =
        ::GetFinalPathNameByHandleW(object, path.data(), static_cast<DWORD>(path.size()), VOLUME_NAME_DOS);
    if (size == 0) return {};
    if (size < path.size()) {
      path.resize(size);
      if (path.rfind(L"\\\\?\\", 0) == 0 && path.rfind(L"\\\\?\\UNC\\", 0) != 0) path.erase(0, 4);
      return path;
    }
    path.resize(size);
  }
  return {};
}

std::string CheckOpened(HANDLE object, const std::wstring& expected_path, bool directory) {
  FILE_ATTRIBUTE_TAG_INFO tag{};
  BY_HANDLE_FILE_INFORMATION info{};
  if (!::GetFileInformationByHandleEx(object, FileAttributeTagInfo, &tag, sizeof tag) ||
      !::GetFileInformationByHandle(object, &info)) {
    return "its attributes cannot be read (" + ErrorText(::GetLastError()) + ")";
  }
  if (tag.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) return "it is a link";
  if (!IsPathOf(ToU16(OpenedPath(object)), ToU16(expected_path))) return "it is reached through a link";
  const bool is_directory = (tag.FileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  if (directory && !is_directory) return "it is not a folder";
  if (!directory && (is_directory || ::GetFileType(object) != FILE_TYPE_DISK)) return "it is not a plain file";
  if (!directory && info.nNumberOfLinks != 1) return "it has other names (hard links)";
  ObjectSecurity security;
  if (!ReadSecurity(object, &security)) return "its owner and access list cannot be read";
  return WhyNotTrusted(security);
}

bool RemoveChild(HANDLE parent, const std::wstring& parent_path, const std::wstring& name, std::string* why_not) {
  try {
    return RemoveChildAt(parent, parent_path, name, 0, why_not);
  } catch (...) {
    *why_not = "out of memory";
    return false;
  }
}

ServiceFolder ServiceFolder::Prepare() {
  const std::optional<std::wstring> common = KnownFolder(CSIDL_COMMON_APPDATA);
  if (!common) {
    ServiceFolder folder;
    folder.wanted_path_ = std::wstring(L"<common application data>\\") + kProductFolderName;
    folder.failure_ = "the machine-wide application-data folder is not known";
    return folder;
  }
  return Prepare(*common, kProductFolderName);
}

ServiceFolder ServiceFolder::Prepare(const std::wstring& parent, const std::wstring& name) {
  ServiceFolder folder;
  folder.wanted_path_ = parent + L"\\" + name;
  try {
    // The application-data folder itself belongs to the system.
    UniqueFile parent_handle(::CreateFileW(parent.c_str(), FILE_TRAVERSE | FILE_LIST_DIRECTORY | SYNCHRONIZE, kShareAll,
                                           nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!parent_handle) {
      folder.failure_ = "its parent folder cannot be opened (" + ErrorText(::GetLastError()) + ")";
      return folder;
    }
    const std::wstring parent_path = OpenedPath(parent_handle.Get());
    if (parent_path.empty()) {
      folder.failure_ = "its parent folder's path cannot be read (" + ErrorText(::GetLastError()) + ")";
      return folder;
    }
    folder.handle_ = OpenOrCreateHeldFolder(parent_handle.Get(), parent_path, name, kServiceFolderSddl, true,
                                            &folder.notes_, &folder.failure_);
    if (folder.handle_) folder.path_ = parent_path + L"\\" + name;
  } catch (...) {
    folder.handle_.Reset();
    folder.failure_ = "out of memory";
  }
  return folder;
}

bool WriteHeldCopy(const ServiceFolder& service_folder, const std::wstring& name,
                   const std::vector<std::pair<std::wstring, std::string>>& files, HeldCopy* copy,
                   std::string* why_not) {
  try {
    *copy = HeldCopy();
    if (!service_folder.usable()) {
      *why_not = "the service folder cannot be used";
      return false;
    }
    UniqueSecurityDescriptor folder_descriptor = DescriptorFromSddl(kPrivateFolderSddl);
    UniqueSecurityDescriptor file_descriptor = DescriptorFromSddl(kPrivateFileSddl);
    if (!folder_descriptor || !file_descriptor) {
      *why_not = "the access lists cannot be built";
      return false;
    }
    // Whatever an earlier session left, or anyone else put there, goes; only
    // what is created new below may run.
    std::vector<std::string> notes;
    UniqueFile root = OpenOrCreateHeldFolder(service_folder.handle(), service_folder.path(), name,
                                             kPrivateFolderSddl, false, &notes, why_not);
    if (!root) return false;
    const std::wstring root_path = service_folder.path() + L"\\" + name;
    std::map<std::wstring, UniqueFile> folders;
    std::vector<UniqueFile> held_files;
    for (const auto& [relative, bytes] : files) {
      const size_t slash = relative.rfind(L'\\');
      HANDLE parent = root.Get();
      if (slash != std::wstring::npos) {
        parent = HeldSubfolder(root.Get(), root_path, relative.substr(0, slash), folder_descriptor.Get(), &folders,
                               why_not);
        if (parent == nullptr) return false;
      }
      const std::wstring file_name = slash == std::wstring::npos ? relative : relative.substr(slash + 1);
      DWORD error = 0;
      // Kept open with write access and read sharing only: OpenVPN may read
      // it, nobody may change, delete or rename it.
      UniqueFile file = OpenChild(parent, file_name, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, FILE_CREATE,
                                  FILE_NON_DIRECTORY_FILE | kOpenOptions, file_descriptor.Get(), &error);
      DWORD written = 0;
      if (!file || bytes.size() > MAXDWORD ||
          !::WriteFile(file.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) ||
          written != bytes.size()) {
        if (file) error = ::GetLastError();
        *why_not = AnsiText(root_path + L"\\" + relative) + " cannot be written (" + ErrorText(error) + ")";
        return false;
      }
      held_files.push_back(std::move(file));
    }
    copy->folder_ = root_path;
    copy->handles_.push_back(std::move(root));
    for (auto& [relative, handle] : folders) copy->handles_.push_back(std::move(handle));
    for (UniqueFile& file : held_files) copy->handles_.push_back(std::move(file));
    return true;
  } catch (...) {
    *why_not = "out of memory";
    return false;
  }
}

}  // namespace veltrona::service
