// The browser-launch watch: a WMI subscription to process creation whose
// sink warns when the user's default browser starts while the tunnel is not
// up. Started once at start-up (on a thread of its own), stopped at exit.
#pragma once

#include <windows.h>
#include <wbemcli.h>
#include <wrl/client.h>

#include <atomic>
#include <functional>
#include <memory>
#include <thread>

#include "base/unique_handle_win.h"
#include "client/engines/engine_state.h"

namespace veltrona::engines {

// What the sink reaches from COM's threads. Everything in it is safe to use
// from any thread: the engine's state is atomic (VpnInterface::GetState).
struct WatchContext {
  HINSTANCE instance = nullptr;
  // Null until the main window exists, and again once the watch stops.
  std::atomic<HWND> main_window{nullptr};

  // The engine's state while the watch runs; "disconnected" once it has
  // stopped, when the engine may already be gone.
  EngineState ReadEngineState();
  // After this returns no thread reads the engine's state any more. A
  // warning that is open stays open; only its "Yes" finds no window.
  void Close();

  std::function<EngineState()> engine_state;
  std::atomic<bool> closed{false};
  std::atomic<int> readers{0};
};

// The object WMI calls for each batch of new processes. Its only state of
// its own is the reference count, changed with interlocked operations.
class EventSink final : public IWbemObjectSink {
 public:
  explicit EventSink(std::shared_ptr<WatchContext> context) noexcept;
  EventSink(const EventSink&) = delete;
  EventSink& operator=(const EventSink&) = delete;

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override;
  ULONG STDMETHODCALLTYPE AddRef() override;
  ULONG STDMETHODCALLTYPE Release() override;
  // At most one warning per delivery; always WBEM_S_NO_ERROR.
  HRESULT STDMETHODCALLTYPE Indicate(long count, IWbemClassObject** objects) override;
  HRESULT STDMETHODCALLTYPE SetStatus(long flags, HRESULT result, BSTR text, IWbemClassObject* object) override;

 private:
  ~EventSink() = default;
  void Warn();

  volatile LONG references_ = 0;
  std::shared_ptr<WatchContext> context_;
};

// The COM calls the set-up makes before it holds an object to ask. The real
// ones by default; tests fail each step in turn and hand out their own
// locator and apartment.
struct ComCalls {
  std::function<HRESULT(DWORD model)> initialize = [](DWORD model) { return ::CoInitializeEx(nullptr, model); };
  std::function<HRESULT()> initialize_security = [] {
    return ::CoInitializeSecurity(nullptr, -1, nullptr, nullptr, RPC_C_AUTHN_LEVEL_DEFAULT,
                                  RPC_C_IMP_LEVEL_IMPERSONATE, nullptr, EOAC_NONE, nullptr);
  };
  std::function<HRESULT(REFCLSID, DWORD context, REFIID, void**)> create_instance =
      [](REFCLSID type, DWORD context, REFIID iid, void** object) {
        return ::CoCreateInstance(type, nullptr, context, iid, object);
      };
  std::function<HRESULT(IUnknown*)> set_proxy_blanket = [](IUnknown* proxy) {
    return ::CoSetProxyBlanket(proxy, RPC_C_AUTHN_WINNT, RPC_C_AUTHZ_NONE, nullptr, RPC_C_AUTHN_LEVEL_CALL,
                               RPC_C_IMP_LEVEL_IMPERSONATE, nullptr, EOAC_NONE);
  };
  std::function<void()> uninitialize = [] { ::CoUninitialize(); };
};

class BrowserWatch {
 public:
  BrowserWatch(HINSTANCE instance, std::function<EngineState()> engine_state, ComCalls com = {});
  ~BrowserWatch();
  BrowserWatch(const BrowserWatch&) = delete;
  BrowserWatch& operator=(const BrowserWatch&) = delete;

  // 1 when the watch is active; 0 after a failure, which it has shown to
  // the user (caption "Veltrona VPN Free Trial", warning icon, no owner).
  // The watch lives on a thread of its own in the multithreaded apartment,
  // so the calling (window) thread's COM state stays as it was.
  [[nodiscard]] int Start() noexcept;
  // Cancels the subscription, releases the objects and ends COM for the
  // watch's thread. Only after a Start() that returned 1; a second call does
  // nothing.
  void Stop() noexcept;
  // "Yes, Protect Me Now" brings this window forward.
  void SetMainWindow(HWND window) noexcept;
  // Whether WMI calls the sink through the unsecured apartment's stub (false
  // when the apartment is not registered and WMI is handed the sink itself).
  bool uses_apartment() const noexcept { return apartment_ != nullptr; }

 private:
  [[nodiscard]] int SetUp() noexcept;
  void TearDown() noexcept;
  void ReleaseAll() noexcept;

  std::shared_ptr<WatchContext> context_;
  ComCalls com_;
  bool com_initialised_ = false;
  bool active_ = false;
  std::thread thread_;
  UniqueEvent stop_;  // set by Stop(); the watch's thread then tears down
  Microsoft::WRL::ComPtr<IWbemLocator> locator_;
  Microsoft::WRL::ComPtr<IWbemServices> services_;
  Microsoft::WRL::ComPtr<IUnsecuredApartment> apartment_;
  Microsoft::WRL::ComPtr<IUnknown> stub_;
  Microsoft::WRL::ComPtr<EventSink> sink_;
  Microsoft::WRL::ComPtr<IWbemObjectSink> stub_sink_;
};

}  // namespace veltrona::engines
