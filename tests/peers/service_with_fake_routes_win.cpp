// The service program with a route table kept in a file instead of the
// machine's, so that tests can watch the guard delete and restore routes
// across service runs without touching real routes.
//   table file: C:\ProgramData\Veltrona Test Routes\table.txt, one row a line
#include <windows.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <shellapi.h>
#include <shlobj.h>
#include <string>
#include <vector>

#include "base/known_folders_win.h"
#include "base/unique_handle_win.h"
#include "service/route_guard.h"
#include "service/route_guard_win.h"
#include "service/route_table_win.h"
#include "service/service_control_win.h"
#include "tests/route_rows.h"

namespace {

using veltrona::service::RouteRow;

std::wstring TablePath() {
  return veltrona::KnownFolder(CSIDL_COMMON_APPDATA).value_or(std::wstring()) + L"\\Veltrona Test Routes\\table.txt";
}

class FileRouteTable final : public veltrona::service::RouteTableApi {
 public:
  DWORD GetIpForwardTable(MIB_IPFORWARDTABLE* table, ULONG* size, BOOL) override {
    std::vector<MIB_IPFORWARDROW> rows;
    for (const RouteRow& row : Load()) rows.push_back(veltrona::service::ToPlatformRow(row));
    return veltrona::test_support::CopyForwardTable(rows, table, size);
  }
  DWORD DeleteIpForwardEntry(MIB_IPFORWARDROW* row) override {
    std::vector<RouteRow> rows = Load();
    const RouteRow target = veltrona::service::FromPlatformRow(*row);
    for (auto it = rows.begin(); it != rows.end(); ++it) {
      if (*it == target) {
        rows.erase(it);
        Save(rows);
        return NO_ERROR;
      }
    }
    return ERROR_NOT_FOUND;
  }
  DWORD CreateIpForwardEntry(MIB_IPFORWARDROW* row) override {
    std::vector<RouteRow> rows = Load();
    const RouteRow added = veltrona::service::FromPlatformRow(*row);
    for (const RouteRow& existing : rows) {
      if (existing == added) return ERROR_OBJECT_ALREADY_EXISTS;
    }
    rows.push_back(added);
    Save(rows);
    return NO_ERROR;
  }

 private:
  static std::vector<RouteRow> Load() {
    std::ifstream file(std::filesystem::path(TablePath()), std::ios::binary);
    const std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    return veltrona::service::DecodeRouteJournal(text);
  }
  static void Save(const std::vector<RouteRow>& rows) {
    std::ofstream file(std::filesystem::path(TablePath()), std::ios::binary | std::ios::trunc);
    file << veltrona::service::EncodeRouteJournal(rows);
  }
};

}  // namespace

int wmain(int, wchar_t**) {
  static FileRouteTable table;
  veltrona::service::SetServiceRouteTable(&table);
  // The service's own command line, as narrow arguments.
  int argc = 0;
  LPWSTR* wide = ::CommandLineToArgvW(::GetCommandLineW(), &argc);
  const veltrona::UniqueLocalMemory wide_memory(wide);
  std::vector<std::string> arguments;
  for (int i = 0; i < argc; ++i) {
    const int size = ::WideCharToMultiByte(CP_ACP, 0, wide[i], -1, nullptr, 0, nullptr, nullptr);
    std::string narrow(static_cast<size_t>(size > 0 ? size - 1 : 0), '\0');
    if (size > 1) ::WideCharToMultiByte(CP_ACP, 0, wide[i], -1, narrow.data(), size, nullptr, nullptr);
    arguments.push_back(narrow);
  }
  std::vector<char*> argv;
  for (std::string& argument : arguments) argv.push_back(argument.data());
  argv.push_back(nullptr);
  return veltrona::service::ServiceProgramMain(argc, argv.data());
}
