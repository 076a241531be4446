#include "ipc/management_port_win.h"

#include <winsock2.h>
#include <windows.h>
#include <iphlpapi.h>

#include <array>
#include <cstddef>

#include "base/unique_handle_win.h"
#include "base/wide_text.h"

namespace veltrona::ipc {
namespace {

// The table grows between asking for its size and reading it.
constexpr int kTableReadAttempts = 4;
// Longer than any program path that could equal the installed one.
constexpr DWORD kImagePathChars = 1024;

// The table holds addresses and ports in network byte order.
uint32_t HostAddress(DWORD network) {
  const auto* bytes = reinterpret_cast<const uint8_t*>(&network);
  return static_cast<uint32_t>(bytes[0]) << 24 | static_cast<uint32_t>(bytes[1]) << 16 |
         static_cast<uint32_t>(bytes[2]) << 8 | bytes[3];
}

uint16_t HostPort(DWORD network) {
  const auto* bytes = reinterpret_cast<const uint8_t*>(&network);
  return static_cast<uint16_t>(bytes[0] << 8 | bytes[1]);
}

// The full path of the program `process` runs; empty when it cannot be asked.
std::u16string ImageOf(HANDLE process) {
  std::array<wchar_t, kImagePathChars> path{};
  DWORD size = kImagePathChars;
  if (!::QueryFullProcessImageNameW(process, 0, path.data(), &size) || size >= kImagePathChars) return {};
  return ToU16(std::wstring_view(path.data(), size));
}

}  // namespace

std::optional<std::vector<TcpRow>> ReadTcpTable() {
  // DWORDs, so that the table is aligned as its rows need.
  std::vector<DWORD> buffer(1024);
  for (int attempt = 0; attempt < kTableReadAttempts; ++attempt) {
    DWORD size = static_cast<DWORD>(buffer.size() * sizeof(DWORD));
    const DWORD status = ::GetExtendedTcpTable(buffer.data(), &size, FALSE, AF_INET, TCP_TABLE_OWNER_PID_ALL, 0);
    if (status == ERROR_INSUFFICIENT_BUFFER) {
      buffer.resize(size / sizeof(DWORD) + 64);
      continue;
    }
    if (status != NO_ERROR) return std::nullopt;
    const auto* table = reinterpret_cast<const MIB_TCPTABLE_OWNER_PID*>(buffer.data());
    const size_t capacity =
        (buffer.size() * sizeof(DWORD) - offsetof(MIB_TCPTABLE_OWNER_PID, table)) / sizeof(MIB_TCPROW_OWNER_PID);
    if (table->dwNumEntries > capacity) return std::nullopt;
    std::vector<TcpRow> rows;
    rows.reserve(table->dwNumEntries);
    for (DWORD i = 0; i < table->dwNumEntries; ++i) {
      const MIB_TCPROW_OWNER_PID& row = table->table[i];
      rows.push_back(TcpRow{row.dwState,
                            {HostAddress(row.dwLocalAddr), HostPort(row.dwLocalPort)},
                            {HostAddress(row.dwRemoteAddr), HostPort(row.dwRemotePort)},
                            row.dwOwningPid});
    }
    return rows;
  }
  return std::nullopt;
}

bool RunningUnderWine() noexcept {
  const HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
  return ntdll != nullptr && ::GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

bool ManagementPortTaken(uint16_t port) {
  const std::optional<std::vector<TcpRow>> rows = ReadTcpTable();
  return rows && FindLoopbackListener(*rows, port).has_value();
}

PortOwner ServerEndOwner(const TcpEndpoint& client_end, uint16_t port) {
  PortOwner owner;
  std::optional<std::vector<TcpRow>> rows = ReadTcpTable();
  std::optional<TcpRow> row = rows ? FindServerEnd(*rows, port, client_end) : std::nullopt;
  if (!row) return owner;
  owner.row_found = true;
  owner.pid = row->pid;
  if (owner.pid == 0) return owner;
  // The open handle keeps the pid from going to another process; reading
  // the row again shows the connection is still that process's, and not of
  // one that ended and left its pid to be reused before the handle was open.
  UniqueProcess process(::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, owner.pid));
  if (!process) return owner;
  std::u16string image = ImageOf(process.Get());
  rows = ReadTcpTable();
  row = rows ? FindServerEnd(*rows, port, client_end) : std::nullopt;
  if (!row || row->pid != owner.pid) {
    owner.row_found = false;
    return owner;
  }
  owner.image = std::move(image);
  return owner;
}

}  // namespace veltrona::ipc
