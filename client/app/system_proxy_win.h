// The user's system proxy settings (the WinInet values browsers use) in the
// registry, and the client's own copy of them while Pixelguard replaces them.
#pragma once

#include <windows.h>

#include "client/app/proxy_switch.h"

namespace veltrona::app {

// Both values; one that cannot be read gives 0 or an empty text.
void ReadSystemProxy(DWORD& enable, std::wstring& server) noexcept;
// Writes both values into the existing settings key and tells running
// WinInet clients. Returns the registry error when the key cannot be opened
// for writing; then nothing is written and nobody is told.
[[nodiscard]] LSTATUS WriteSystemProxy(DWORD enable, std::wstring_view server) noexcept;

class RegistrySystemProxyStore final : public SystemProxyStore {
 public:
  ProxySettings Read() override;
  [[nodiscard]] bool Write(const ProxySettings& settings) override;
  [[nodiscard]] bool KeepSavedCopy(const ProxySettings& settings) override;
  [[nodiscard]] std::optional<ProxySettings> SavedCopy() override;
  void DropSavedCopy() override;
};

}  // namespace veltrona::app
