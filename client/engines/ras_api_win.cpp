#include "client/engines/ras_api_win.h"

namespace veltrona::engines {
namespace {

class SystemRasApi final : public RasApi {
 public:
  DWORD DeleteEntry(const wchar_t* phonebook, const wchar_t* entry) override {
    return ::RasDeleteEntryW(phonebook, entry);
  }
  DWORD SetEntryProperties(const wchar_t* phonebook, const wchar_t* entry, RASENTRYW* properties, DWORD size,
                           BYTE* device_info, DWORD device_info_size) override {
    return ::RasSetEntryPropertiesW(phonebook, entry, properties, size, device_info, device_info_size);
  }
  DWORD Dial(RASDIALEXTENSIONS* extensions, const wchar_t* phonebook, RASDIALPARAMSW* parameters,
             DWORD notifier_type, void* notifier, HRASCONN* connection) override {
    return ::RasDialW(extensions, phonebook, parameters, notifier_type, notifier, connection);
  }
  DWORD HangUp(HRASCONN connection) override { return ::RasHangUpW(connection); }
  DWORD GetConnectStatus(HRASCONN connection, RASCONNSTATUSW* status) override {
    return ::RasGetConnectStatusW(connection, status);
  }
  DWORD GetConnectionStatistics(HRASCONN connection, RAS_STATS* statistics) override {
    return ::RasGetConnectionStatistics(connection, statistics);
  }
};

RasApi*& Replacement() {
  static RasApi* ras = nullptr;
  return ras;
}

}  // namespace

RasApi& SystemRas() {
  static SystemRasApi ras;
  return ras;
}

RasApi& EngineRas() { return Replacement() != nullptr ? *Replacement() : SystemRas(); }

void SetEngineRas(RasApi* ras) { Replacement() = ras; }

}  // namespace veltrona::engines
