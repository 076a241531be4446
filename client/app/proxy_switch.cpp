#include "client/app/proxy_switch.h"

namespace veltrona::app {

void ProxySwitch::Apply(std::u16string_view address) {
  if (saved_) return;
  saved_settings_ = store_.Read();
  // The copy on disk comes first: whatever happens after the replacement,
  // the user's settings can be found again.
  (void)store_.KeepSavedCopy(saved_settings_);
  (void)store_.Write(ProxySettings{address.empty() ? 0u : 1u, std::u16string(address)});
  saved_ = true;
}

void ProxySwitch::Restore() {
  // Only a restore that reached the registry may forget the copy on disk.
  if (store_.Write(saved_settings_)) store_.DropSavedCopy();
  saved_ = false;
}

void ProxySwitch::ClearStale(const config::ServerMap& servers) {
  const ProxySettings current = store_.Read();
  if (current.enable == 0) return;
  for (const auto& [host, address] : servers) {
    if (address == current.server) {
      (void)store_.Write(ProxySettings{0, u""});
      return;
    }
  }
}

bool ProxySwitch::RecoverLeftCopy() {
  const std::optional<ProxySettings> left = store_.SavedCopy();
  if (!left) return false;
  if (store_.Write(*left)) store_.DropSavedCopy();
  return true;
}

}  // namespace veltrona::app
