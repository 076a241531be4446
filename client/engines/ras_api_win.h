// Remote Access Service as the PPTP engine uses it: the phonebook entry, the
// dial with a window notifier, the connection's status and statistics, and
// the hang-up. Behind an interface because Wine only stubs RAS; the test
// build of the client puts a recording one in its place.
#pragma once

#include <windows.h>
#include <ras.h>

namespace veltrona::engines {

class RasApi {
 public:
  virtual ~RasApi() = default;
  [[nodiscard]] virtual DWORD DeleteEntry(const wchar_t* phonebook, const wchar_t* entry) = 0;
  [[nodiscard]] virtual DWORD SetEntryProperties(const wchar_t* phonebook, const wchar_t* entry, RASENTRYW* properties,
                                                 DWORD size, BYTE* device_info, DWORD device_info_size) = 0;
  [[nodiscard]] virtual DWORD Dial(RASDIALEXTENSIONS* extensions, const wchar_t* phonebook, RASDIALPARAMSW* parameters,
                                   DWORD notifier_type, void* notifier, HRASCONN* connection) = 0;
  [[nodiscard]] virtual DWORD HangUp(HRASCONN connection) = 0;
  [[nodiscard]] virtual DWORD GetConnectStatus(HRASCONN connection, RASCONNSTATUSW* status) = 0;
  [[nodiscard]] virtual DWORD GetConnectionStatistics(HRASCONN connection, RAS_STATS* statistics) = 0;
};

// rasapi32 itself.
RasApi& SystemRas();

// The RAS the engine uses: the system's unless replaced before the engine
// is made.
RasApi& EngineRas();
void SetEngineRas(RasApi* ras);

}  // namespace veltrona::engines
