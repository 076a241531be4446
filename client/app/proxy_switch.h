// Pixelguard's take-over of the user's system proxy settings: saved once,
// replaced with the server's proxy address, and written back. The decisions
// live here; SystemProxyStore is the registry.
//
// The saved copy is also kept on disk from before the first replacement until
// the restore has been written, so a client that dies while connected does
// not leave the user's proxy switched off: the next start writes it back.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "client/config/server_list.h"

namespace veltrona::app {

struct ProxySettings {
  uint32_t enable = 0;     // "ProxyEnable"
  std::u16string server;   // "ProxyServer", without its terminator

  bool operator==(const ProxySettings&) const = default;
};

class SystemProxyStore {
 public:
  virtual ~SystemProxyStore() = default;
  // A value that cannot be read gives 0 or an empty text.
  virtual ProxySettings Read() = 0;
  // Writes both values and tells running Internet clients; false when the
  // settings key cannot be opened (then nothing is written).
  [[nodiscard]] virtual bool Write(const ProxySettings& settings) = 0;
  // The user's own settings, kept while Pixelguard's replace them.
  [[nodiscard]] virtual bool KeepSavedCopy(const ProxySettings& settings) = 0;
  [[nodiscard]] virtual std::optional<ProxySettings> SavedCopy() = 0;
  virtual void DropSavedCopy() = 0;
};

class ProxySwitch {
 public:
  explicit ProxySwitch(SystemProxyStore& store) : store_(store) {}

  // Saves the user's settings unless they are saved already, then writes
  // `address` (enabled when not empty).
  void Apply(std::u16string_view address);
  // Writes the saved settings back and forgets them.
  void Restore();
  // Switches off a system proxy that still points at a listed server's
  // proxy address: a take-over that an earlier run left in place.
  void ClearStale(const config::ServerMap& servers);
  // At start-up, before ClearStale: writes back the copy a run that ended
  // while it held the settings left behind. True when there was one.
  [[nodiscard]] bool RecoverLeftCopy();

  bool saved() const { return saved_; }
  const ProxySettings& saved_settings() const { return saved_settings_; }

 private:
  SystemProxyStore& store_;
  bool saved_ = false;
  ProxySettings saved_settings_;
};

}  // namespace veltrona::app
