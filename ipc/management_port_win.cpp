#include "ipc/management_port_win.h"

#include <winsock2.h>
#include <windows.h>
#include <iphlpapi.h>

#include <array>
#include <cstddef>
#include <type_traits>

#include "base/unique_handle_win.h"
#include "base/wide_text.h"

namespace veltrona::ipc {
namespace {

// The table grows between asking for its size and reading it.
constexpr int kTableReadAttempts = 4;
constexpr int kRowLookups = 3;
constexpr DWORD kRowLookupPauseMs = 20;
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

namespace {

// Reads one kind of table into `rows`. The owner tables carry the process
// id; the basic ones do not, and leave it 0.
template <typename Table, typename Row>
std::optional<std::vector<TcpRow>> ReadTable(TCP_TABLE_CLASS table_class) {
  // DWORDs, so that the table is aligned as its rows need.
  std::vector<DWORD> buffer(1024);
  for (int attempt = 0; attempt < kTableReadAttempts; ++attempt) {
    DWORD size = static_cast<DWORD>(buffer.size() * sizeof(DWORD));
    const DWORD status = ::GetExtendedTcpTable(buffer.data(), &size, FALSE, AF_INET, table_class, 0);
    if (status == ERROR_INSUFFICIENT_BUFFER) {
      // Room for rows that come while the table is read again.
      buffer.resize(size / sizeof(DWORD) + size / sizeof(DWORD) / 4 + 64);
      continue;
    }
    if (status != NO_ERROR) return std::nullopt;
    const auto* table = reinterpret_cast<const Table*>(buffer.data());
    const size_t capacity = (buffer.size() * sizeof(DWORD) - offsetof(Table, table)) / sizeof(Row);
    if (table->dwNumEntries > capacity) return std::nullopt;
    std::vector<TcpRow> rows;
    rows.reserve(table->dwNumEntries);
    for (DWORD i = 0; i < table->dwNumEntries; ++i) {
      const Row& row = table->table[i];
      TcpRow converted{row.dwState,
                       {HostAddress(row.dwLocalAddr), HostPort(row.dwLocalPort)},
                       {HostAddress(row.dwRemoteAddr), HostPort(row.dwRemotePort)},
                       0};
      if constexpr (std::is_same_v<Row, MIB_TCPROW_OWNER_PID>) converted.pid = row.dwOwningPid;
      rows.push_back(converted);
    }
    return rows;
  }
  return std::nullopt;
}

}  // namespace

std::optional<std::vector<TcpRow>> ReadTcpTable(TcpRows which) {
  // Wine cannot tell owners (it reports 0 for every socket) and spends long
  // looking for them, seconds with a few hundred rows: there the basic
  // table serves, whose rows have no owner either.
  const bool owners = which == TcpRows::kConnectionsWithOwners && !RunningUnderWine();
  if (owners) return ReadTable<MIB_TCPTABLE_OWNER_PID, MIB_TCPROW_OWNER_PID>(TCP_TABLE_OWNER_PID_CONNECTIONS);
  return ReadTable<MIB_TCPTABLE, MIB_TCPROW>(which == TcpRows::kListeners ? TCP_TABLE_BASIC_LISTENER
                                                                         : TCP_TABLE_BASIC_ALL);
}

bool RunningUnderWine() noexcept {
  const HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
  return ntdll != nullptr && ::GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

bool ManagementPortTaken(uint16_t port) {
  const std::optional<std::vector<TcpRow>> rows = ReadTcpTable(TcpRows::kListeners);
  return rows && FindLoopbackListener(*rows, port).has_value();
}

PortOwner ServerEndOwner(const TcpEndpoint& client_end, uint16_t port) {
  PortOwner owner;
  std::optional<std::vector<TcpRow>> rows;
  std::optional<TcpRow> row;
  // Under Wine the table is read from /proc/net/tcp, which is no snapshot: a
  // row may be missed while other connections come and go, so a missing row
  // is looked for again before it counts as missing.
  for (int attempt = 0; attempt < kRowLookups && !row; ++attempt) {
    if (attempt != 0) ::Sleep(kRowLookupPauseMs);
    rows = ReadTcpTable(TcpRows::kConnectionsWithOwners);
    row = rows ? FindServerEnd(*rows, port, client_end) : std::nullopt;
  }
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
  rows = ReadTcpTable(TcpRows::kConnectionsWithOwners);
  row = rows ? FindServerEnd(*rows, port, client_end) : std::nullopt;
  if (!row || row->pid != owner.pid) {
    owner.row_found = false;
    return owner;
  }
  owner.image = std::move(image);
  return owner;
}

}  // namespace veltrona::ipc
