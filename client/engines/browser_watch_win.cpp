#include "client/engines/browser_watch_win.h"

#include <cwchar>
#include <system_error>
#include <new>
#include <string>
#include <utility>

#include "base/unique_handle_win.h"
#include "base/wide_text.h"
#include "client/common/texts.h"
#include "client/common/user_messages_win.h"
#include "client/config/settings_store_win.h"
#include "client/engines/browser_warning_dialog_win.h"
#include "client/engines/browser_watch.h"
#include "client/resources/resource.h"

namespace veltrona::engines {
namespace {

using Microsoft::WRL::ComPtr;

constexpr wchar_t kNamespace[] = L"ROOT\\CIMV2";
constexpr wchar_t kQueryLanguage[] = L"WQL";
constexpr wchar_t kProcessCreationQuery[] =
    L"SELECT * FROM __InstanceCreationEvent WITHIN 1 WHERE TargetInstance ISA 'Win32_Process'";

// "Can't <what>" and the failing code, as the user sees it.
void ShowSetUpFailure(const wchar_t* what, HRESULT result) noexcept {
  wchar_t text[260] = {};
  std::swprintf(text, std::size(text), L"Can't %ls\nError code is 0x%08x", what, static_cast<unsigned>(result));
  (void)common::ShowUserMessage(nullptr, text, ToWide(common::kMessageCaption), MB_ICONWARNING);
}

// Clears a VARIANT that a successful Get filled, on every path.
class ScopedVariant {
 public:
  ScopedVariant() noexcept { ::VariantInit(&value_); }
  ~ScopedVariant() { ::VariantClear(&value_); }
  ScopedVariant(const ScopedVariant&) = delete;
  ScopedVariant& operator=(const ScopedVariant&) = delete;
  VARIANT* get() noexcept { return &value_; }
  const VARIANT& operator*() const noexcept { return value_; }

 private:
  VARIANT value_;
};

// The image name of the new process that `event` announces, if it has one.
bool NewProcessName(IWbemClassObject* event, std::wstring& name) {
  if (event == nullptr) return false;
  VARIANT target_value;
  // A failed Get leaves the VARIANT as it was: nothing of it is read or cleared.
  if (FAILED(event->Get(L"TargetInstance", 0, &target_value, nullptr, nullptr))) return false;
  ScopedVariant target;
  *target.get() = target_value;
  if ((*target).vt != VT_UNKNOWN || (*target).punkVal == nullptr) return false;
  ComPtr<IWbemClassObject> process;
  if (FAILED((*target).punkVal->QueryInterface(IID_PPV_ARGS(&process)))) return false;
  VARIANT name_value;
  if (FAILED(process->Get(L"Name", 0, &name_value, nullptr, nullptr))) return false;
  ScopedVariant process_name;
  *process_name.get() = name_value;
  if ((*process_name).vt != VT_BSTR || (*process_name).bstrVal == nullptr) return false;
  name.assign((*process_name).bstrVal, ::SysStringLen((*process_name).bstrVal));
  return true;
}

std::wstring DefaultBrowserSetting() {
  std::wstring setting;
  // Missing key or value: an empty setting, which names Internet Explorer.
  if (!config::ReadStringSetting(config::SettingId::kDefaultBrowser, setting)) setting.clear();
  return setting;
}

}  // namespace

// --- WatchContext ---------------------------------------------------------------

EngineState WatchContext::ReadEngineState() {
  readers.fetch_add(1);
  EngineState state = ENGINE_DISCONNECTED;
  if (!closed.load() && engine_state) state = engine_state();
  readers.fetch_sub(1);
  return state;
}

void WatchContext::Close() {
  main_window.store(nullptr);
  closed.store(true);
  // A reader that came in before the flag finishes its one short call.
  while (readers.load() != 0) ::Sleep(1);
}

// --- EventSink -----------------------------------------------------------------

EventSink::EventSink(std::shared_ptr<WatchContext> context) noexcept : context_(std::move(context)) {}

HRESULT EventSink::QueryInterface(REFIID iid, void** object) {
  if (object == nullptr) return E_POINTER;
  if (iid == IID_IUnknown || iid == IID_IWbemObjectSink) {
    *object = static_cast<IWbemObjectSink*>(this);
    AddRef();
    return S_OK;
  }
  *object = nullptr;
  return E_NOINTERFACE;
}

ULONG EventSink::AddRef() { return static_cast<ULONG>(::InterlockedIncrement(&references_)); }

ULONG EventSink::Release() {
  const LONG left = ::InterlockedDecrement(&references_);
  if (left == 0) delete this;
  return static_cast<ULONG>(left);
}

HRESULT EventSink::Indicate(long count, IWbemClassObject** objects) {
  if (context_->closed.load()) return WBEM_S_NO_ERROR;
  // The settings are read afresh for every delivery.
  const DWORD dont_warn_me = config::DwordSetting(config::SettingId::kDontWarnMe);
  const DWORD warning_flag = config::DwordSetting(config::SettingId::kWarningFlag);
  const EngineState state = context_->ReadEngineState();
  if (!ShouldLookForBrowser(dont_warn_me, warning_flag, state) || objects == nullptr) return WBEM_S_NO_ERROR;
  try {
    for (long i = 0; i < count; ++i) {
      std::wstring name;
      if (!NewProcessName(objects[i], name)) continue;
      if (!IsDefaultBrowser(ToU16(name), ToU16(DefaultBrowserSetting()))) continue;
      Warn();
      break;  // one warning per delivery
    }
  } catch (const std::bad_alloc&) {
    // A delivery that cannot be looked at is let go; the next one is read.
  }
  return WBEM_S_NO_ERROR;
}

HRESULT EventSink::SetStatus(long /*flags*/, HRESULT /*result*/, BSTR /*text*/, IWbemClassObject* /*object*/) {
  return WBEM_S_NO_ERROR;
}

void EventSink::Warn() {
  common::DialogRequest request;
  request.instance = context_->instance;
  request.template_id = IDD_BROWSER_WARNING;
  request.owner = ::GetDesktopWindow();
  request.procedure = BrowserWarningProcedure;
  if (common::ShowModalDialog(request) != IDOK) return;
  const HWND main_window = context_->main_window.load();
  if (main_window == nullptr) return;
  ::ShowWindow(main_window, SW_SHOW);
  ::ShowWindow(main_window, SW_RESTORE);
}

// --- BrowserWatch --------------------------------------------------------------

BrowserWatch::BrowserWatch(HINSTANCE instance, std::function<EngineState()> engine_state, ComCalls com)
    : context_(std::make_shared<WatchContext>()), com_(std::move(com)) {
  context_->instance = instance;
  context_->engine_state = std::move(engine_state);
}

BrowserWatch::~BrowserWatch() { Stop(); }

void BrowserWatch::SetMainWindow(HWND window) noexcept { context_->main_window.store(window); }

int BrowserWatch::Start() noexcept {
  if (active_ || thread_.joinable()) return 0;
  const UniqueEvent ready(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
  UniqueEvent stop(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
  if (!ready || !stop) return 0;
  int result = 0;
  try {
    thread_ = std::thread([this, &result, ready = ready.Get(), stop = stop.Get()] {
      // `result` lives in Start(), which may return as soon as `ready` is
      // set: after that only the thread's own copy is read.
      const int outcome = SetUp();
      result = outcome;
      ::SetEvent(ready);
      if (outcome != 1) return;
      ::WaitForSingleObject(stop, INFINITE);
      TearDown();
    });
  } catch (const std::system_error&) {
    return 0;
  }
  ::WaitForSingleObject(ready.Get(), INFINITE);
  if (result != 1) {
    thread_.join();
    return 0;
  }
  stop_ = std::move(stop);
  active_ = true;
  return 1;
}

int BrowserWatch::SetUp() noexcept {
  auto fail = [this](const wchar_t* what, HRESULT result) {
    ShowSetUpFailure(what, result);
    ReleaseAll();
    return 0;
  };
  HRESULT result = com_.initialize(COINIT_MULTITHREADED);
  if (FAILED(result) && result != RPC_E_CHANGED_MODE) return fail(L"CoInitializeEx", result);
  // A thread that is already a single-threaded apartment stays one; only our
  // own initialisation is undone later.
  com_initialised_ = SUCCEEDED(result);

  result = com_.initialize_security();
  if (FAILED(result) && result != RPC_E_TOO_LATE) return fail(L"CoInitializeSecurity", result);

  result = com_.create_instance(CLSID_WbemLocator, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&locator_));
  if (FAILED(result)) return fail(L"CoCreateInstance", result);

  const UniqueBstr name_space(::SysAllocString(kNamespace));
  result = name_space ? locator_->ConnectServer(name_space.Get(), nullptr, nullptr, nullptr, 0, nullptr, nullptr,
                                                &services_)
                      : E_OUTOFMEMORY;
  if (FAILED(result)) return fail(L"pLoc->ConnectServer", result);

  result = com_.set_proxy_blanket(services_.Get());
  if (FAILED(result)) return fail(L"CoSetProxyBlanket", result);

  result = com_.create_instance(CLSID_UnsecuredApartment, CLSCTX_LOCAL_SERVER, IID_PPV_ARGS(&apartment_));
  // Without the unsecured apartment WMI is handed the sink itself, which
  // works where the process's COM security lets WMI call back.
  if (FAILED(result) && result != REGDB_E_CLASSNOTREG) return fail(L"CoCreateInstance", result);

  EventSink* sink = new (std::nothrow) EventSink(context_);
  if (sink == nullptr) return fail(L"create EventSink", E_OUTOFMEMORY);
  sink_ = sink;  // the one reference of our own

  if (apartment_) {
    result = apartment_->CreateObjectStub(sink_.Get(), &stub_);
    if (FAILED(result)) return fail(L"CreateObjectStub", result);
    result = stub_.As(&stub_sink_);
  } else {
    result = sink_.As(&stub_sink_);
  }
  if (FAILED(result)) return fail(L"QueryInterface", result);

  const UniqueBstr language(::SysAllocString(kQueryLanguage));
  const UniqueBstr query(::SysAllocString(kProcessCreationQuery));
  result = language && query ? services_->ExecNotificationQueryAsync(language.Get(), query.Get(),
                                                                     WBEM_FLAG_SEND_STATUS, nullptr, stub_sink_.Get())
                             : E_OUTOFMEMORY;
  if (FAILED(result)) return fail(L"ExecNotificationQueryAsync", result);
  return 1;
}

void BrowserWatch::Stop() noexcept {
  if (!active_) return;
  active_ = false;
  ::SetEvent(stop_.Get());
  thread_.join();
  stop_.Reset();
}

void BrowserWatch::TearDown() noexcept {
  (void)services_->CancelAsyncCall(stub_sink_.Get());
  context_->Close();
  ReleaseAll();
}

void BrowserWatch::ReleaseAll() noexcept {
  services_.Reset();
  locator_.Reset();
  apartment_.Reset();
  stub_.Reset();
  sink_.Reset();
  stub_sink_.Reset();
  if (com_initialised_) com_.uninitialize();
  com_initialised_ = false;
}

}  // namespace veltrona::engines
