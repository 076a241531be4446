#include "client/engines/browser_watch_win.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "base/unique_handle_win.h"
#include "client/common/user_messages_win.h"
#include "client/engines/browser_warning_dialog_win.h"
#include "client/resources/resource.h"
#include "tests/win_test_support/com_fake_win.h"
#include "tests/win_test_support/process_win.h"
#include "tests/win_test_support/recorded_messages_win.h"
#include "tests/win_test_support/registry_sandbox_win.h"
#include "tests/win_test_support/registry_values_win.h"

namespace veltrona::engines {
namespace {

// A WMI object with a few properties. A property may be missing: then Get
// fails and scribbles over the caller's VARIANT, so a caller that cleared
// it anyway would crash.
class FakeObject final : public test_support::ComFake<IWbemClassObject> {
 public:
  static FakeObject* Process(const wchar_t* name) {
    auto* process = new FakeObject;
    process->strings_[L"Name"] = name;
    return process;
  }
  // A creation event whose "TargetInstance" is `process` (taken over).
  static FakeObject* Event(FakeObject* process) {
    auto* event = new FakeObject;
    event->target_ = process;
    return event;
  }

  int gets = 0;
  std::map<std::wstring, std::wstring> strings_;
  std::map<std::wstring, LONG> numbers_;
  FakeObject* target_ = nullptr;

  HRESULT STDMETHODCALLTYPE Get(LPCWSTR name, LONG, VARIANT* value, CIMTYPE*, LONG*) override {
    ++gets;
    const std::wstring key(name);
    if (key == L"TargetInstance" && target_ != nullptr) {
      ::VariantInit(value);
      value->vt = VT_UNKNOWN;
      value->punkVal = static_cast<IWbemClassObject*>(target_);
      target_->AddRef();
      return WBEM_S_NO_ERROR;
    }
    if (auto text = strings_.find(key); text != strings_.end()) {
      ::VariantInit(value);
      value->vt = VT_BSTR;
      value->bstrVal = ::SysAllocString(text->second.c_str());
      return WBEM_S_NO_ERROR;
    }
    if (auto number = numbers_.find(key); number != numbers_.end()) {
      ::VariantInit(value);
      value->vt = VT_I4;
      value->lVal = number->second;
      return WBEM_S_NO_ERROR;
    }
    value->vt = VT_UNKNOWN;
    value->punkVal = reinterpret_cast<IUnknown*>(static_cast<UINT_PTR>(0xDEADBEE0));
    return WBEM_E_NOT_FOUND;
  }
  VELTRONA_COM_NOT_USED(GetQualifierSet(IWbemQualifierSet**))
  VELTRONA_COM_NOT_USED(Put(LPCWSTR, LONG, VARIANT*, CIMTYPE))
  VELTRONA_COM_NOT_USED(Delete(LPCWSTR))
  VELTRONA_COM_NOT_USED(GetNames(LPCWSTR, LONG, VARIANT*, SAFEARRAY**))
  VELTRONA_COM_NOT_USED(BeginEnumeration(LONG))
  VELTRONA_COM_NOT_USED(Next(LONG, BSTR*, VARIANT*, CIMTYPE*, LONG*))
  VELTRONA_COM_NOT_USED(EndEnumeration())
  VELTRONA_COM_NOT_USED(GetPropertyQualifierSet(LPCWSTR, IWbemQualifierSet**))
  VELTRONA_COM_NOT_USED(Clone(IWbemClassObject**))
  VELTRONA_COM_NOT_USED(GetObjectText(LONG, BSTR*))
  VELTRONA_COM_NOT_USED(SpawnDerivedClass(LONG, IWbemClassObject**))
  VELTRONA_COM_NOT_USED(SpawnInstance(LONG, IWbemClassObject**))
  VELTRONA_COM_NOT_USED(CompareTo(LONG, IWbemClassObject*))
  VELTRONA_COM_NOT_USED(GetPropertyOrigin(LPCWSTR, BSTR*))
  VELTRONA_COM_NOT_USED(InheritsFrom(LPCWSTR))
  VELTRONA_COM_NOT_USED(GetMethod(LPCWSTR, LONG, IWbemClassObject**, IWbemClassObject**))
  VELTRONA_COM_NOT_USED(PutMethod(LPCWSTR, LONG, IWbemClassObject*, IWbemClassObject*))
  VELTRONA_COM_NOT_USED(DeleteMethod(LPCWSTR))
  VELTRONA_COM_NOT_USED(BeginMethodEnumeration(LONG))
  VELTRONA_COM_NOT_USED(NextMethod(LONG, BSTR*, IWbemClassObject**, IWbemClassObject**))
  VELTRONA_COM_NOT_USED(EndMethodEnumeration())
  VELTRONA_COM_NOT_USED(GetMethodQualifierSet(LPCWSTR, IWbemQualifierSet**))
  VELTRONA_COM_NOT_USED(GetMethodOrigin(LPCWSTR, BSTR*))

 private:
  FakeObject() = default;
  ~FakeObject() override {
    if (target_ != nullptr) target_->Release();
  }
};

// One delivery: events owned here, handed to Indicate as WMI would.
class Delivery {
 public:
  Delivery& Add(FakeObject* event) {
    events_.push_back(event);
    return *this;
  }
  Delivery& Browser(const wchar_t* process_name) { return Add(FakeObject::Event(FakeObject::Process(process_name))); }
  ~Delivery() {
    for (FakeObject* event : events_) event->Release();
  }
  long count() const { return static_cast<long>(events_.size()); }
  IWbemClassObject** objects() { return reinterpret_cast<IWbemClassObject**>(events_.data()); }
  FakeObject* operator[](size_t i) const { return events_[i]; }

 private:
  std::vector<FakeObject*> events_;
};

void SetDword(HKEY hive, const wchar_t* name, DWORD value) {
  test_support::SetDword(hive, test_support::kMachineKey, name, value);
}

void SetDefaultBrowser(const wchar_t* text) {
  test_support::SetString(HKEY_CURRENT_USER, test_support::kDefaultBrowserKey, nullptr, text);
}

class EventSinkTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(registry_.Ready());
    SetDword(HKEY_LOCAL_MACHINE, L"Warning Flag", 1);
    main_window_ = ::CreateWindowExW(0, L"STATIC", L"main", WS_POPUP, 0, 0, 50, 50, nullptr, nullptr, nullptr, nullptr);
    context_ = std::make_shared<WatchContext>();
    context_->instance = ::GetModuleHandleW(nullptr);
    context_->engine_state = [this] { return state_; };
    context_->main_window.store(main_window_);
    sink_ = new EventSink(context_);
    sink_->AddRef();
    previous_ = common::SetDialogPresenter([this](const common::DialogRequest& request) {
      warnings_.push_back(request);
      return answer_;
    });
  }
  void TearDown() override {
    common::SetDialogPresenter(previous_);
    sink_->Release();
    ::DestroyWindow(main_window_);
  }

  size_t WarningsFor(Delivery& delivery) {
    warnings_.clear();
    EXPECT_EQ(sink_->Indicate(delivery.count(), delivery.objects()), WBEM_S_NO_ERROR);
    return warnings_.size();
  }
  size_t WarningsForBrowser(const wchar_t* process_name) {
    Delivery delivery;
    delivery.Browser(process_name);
    return WarningsFor(delivery);
  }

  test_support::RegistrySandbox registry_{L"watch"};
  HWND main_window_ = nullptr;
  EngineState state_ = ENGINE_DISCONNECTED;
  INT_PTR answer_ = IDCANCEL;
  std::shared_ptr<WatchContext> context_;
  EventSink* sink_ = nullptr;
  std::vector<common::DialogRequest> warnings_;
  common::DialogPresenter previous_;
};

TEST_F(EventSinkTest, TheWarningIsDialog137OwnedByTheDesktop) {
  ASSERT_EQ(WarningsForBrowser(L"iexplore.exe"), 1u);
  EXPECT_EQ(warnings_[0].template_id, IDD_BROWSER_WARNING);
  EXPECT_EQ(warnings_[0].owner, ::GetDesktopWindow());
  EXPECT_EQ(warnings_[0].procedure, &BrowserWarningProcedure);
  EXPECT_EQ(warnings_[0].instance, ::GetModuleHandleW(nullptr));
}

TEST_F(EventSinkTest, NothingWhenDisabledOptedOutOrConnectedReadAfreshEachTime) {
  test_support::DeleteValue(HKEY_LOCAL_MACHINE, test_support::kMachineKey, L"Warning Flag");
  EXPECT_EQ(WarningsForBrowser(L"iexplore.exe"), 0u) << "flag missing";
  SetDword(HKEY_LOCAL_MACHINE, L"Warning Flag", 0);
  EXPECT_EQ(WarningsForBrowser(L"iexplore.exe"), 0u) << "flag 0";
  SetDword(HKEY_LOCAL_MACHINE, L"Warning Flag", 1);
  EXPECT_EQ(WarningsForBrowser(L"iexplore.exe"), 1u);

  state_ = ENGINE_CONNECTED;
  EXPECT_EQ(WarningsForBrowser(L"iexplore.exe"), 0u) << "protected";
  state_ = ENGINE_CONNECTING;
  EXPECT_EQ(WarningsForBrowser(L"iexplore.exe"), 1u);

  SetDword(HKEY_CURRENT_USER, L"Dont Warn Me", 1);
  EXPECT_EQ(WarningsForBrowser(L"iexplore.exe"), 0u) << "this user said no";
  SetDword(HKEY_CURRENT_USER, L"Dont Warn Me", 0);
  EXPECT_EQ(WarningsForBrowser(L"iexplore.exe"), 1u);
}

TEST_F(EventSinkTest, TheDefaultBrowserSettingDecidesWhichProcessCounts) {
  struct Case {
    std::optional<const wchar_t*> setting;  // nullopt: no value at all
    const wchar_t* process;
    size_t warnings;
  };
  const Case cases[] = {
      {std::nullopt, L"IEXPLORE.EXE", 1},     {std::nullopt, L"chrome.exe", 0},
      {L"", L"iexplore.exe", 1},              {L"Google Chrome", L"chrome.exe", 1},
      {L"Google Chrome.XYZ", L"Chrome.exe", 1}, {L"Google Chrome", L"iexplore.exe", 0},
      {L"FIREFOX.EXE", L"firefox.exe", 1},    {L"FIREFOX.EXE", L"FireFox.EXE", 1},
      {L"Mozilla Firefox", L"firefox.exe", 0}, {L"FIREFOX.EXE", L"notepad.exe", 0},
  };
  for (const Case& c : cases) {
    ::RegDeleteTreeW(HKEY_CURRENT_USER, L"SOFTWARE\\Clients");
    if (c.setting) SetDefaultBrowser(*c.setting);
    const std::wstring setting = c.setting.value_or(L"(no value)");
    EXPECT_EQ(WarningsForBrowser(c.process), c.warnings)
        << "setting " << std::string(setting.begin(), setting.end()) << ", process "
        << std::string(c.process, c.process + wcslen(c.process));
  }
}

TEST_F(EventSinkTest, OneWarningPerDeliveryAndTheRestIsNotLookedAt) {
  Delivery delivery;
  delivery.Browser(L"notepad.exe").Browser(L"iexplore.exe").Browser(L"iexplore.exe");
  EXPECT_EQ(WarningsFor(delivery), 1u);
  EXPECT_GT(delivery[1]->gets, 0);
  EXPECT_EQ(delivery[2]->gets, 0);
}

TEST_F(EventSinkTest, ObjectsWithoutAProcessNameAreSkipped) {
  FakeObject* no_target = FakeObject::Event(nullptr);
  FakeObject* number_name = FakeObject::Event(FakeObject::Process(L"x"));
  number_name->target_->strings_.clear();
  number_name->target_->numbers_[L"Name"] = 7;
  FakeObject* no_name = FakeObject::Event(FakeObject::Process(L"x"));
  no_name->target_->strings_.clear();
  Delivery delivery;
  delivery.Add(no_target).Add(number_name).Add(no_name).Browser(L"iexplore.exe");
  // The missing values hold a pointer that must never be released.
  EXPECT_EQ(WarningsFor(delivery), 1u);
}

TEST_F(EventSinkTest, YesBringsTheMainWindowUpAndNoLeavesItHidden) {
  answer_ = IDCANCEL;
  ASSERT_EQ(WarningsForBrowser(L"iexplore.exe"), 1u);
  EXPECT_FALSE(::IsWindowVisible(main_window_));
  answer_ = IDOK;
  ASSERT_EQ(WarningsForBrowser(L"iexplore.exe"), 1u);
  EXPECT_TRUE(::IsWindowVisible(main_window_));
}

TEST_F(EventSinkTest, AClosedWatchNeitherReadsTheEngineNorWarns) {
  bool read = false;
  context_->engine_state = [&] {
    read = true;
    return ENGINE_DISCONNECTED;
  };
  context_->Close();
  EXPECT_EQ(WarningsForBrowser(L"iexplore.exe"), 0u);
  EXPECT_FALSE(read);
  EXPECT_EQ(context_->main_window.load(), nullptr);
}

TEST(EventSink, HandsOutItselfForItsTwoInterfacesAndCountsItsReferences) {
  auto context = std::make_shared<WatchContext>();
  auto* sink = new EventSink(context);
  EXPECT_EQ(sink->AddRef(), 1u);
  void* object = nullptr;
  ASSERT_EQ(sink->QueryInterface(IID_IWbemObjectSink, &object), S_OK);
  EXPECT_EQ(object, static_cast<IWbemObjectSink*>(sink));
  ASSERT_EQ(sink->QueryInterface(IID_IUnknown, &object), S_OK);
  EXPECT_EQ(sink->QueryInterface(IID_IDispatch, &object), E_NOINTERFACE);
  EXPECT_EQ(object, nullptr);
  EXPECT_EQ(sink->SetStatus(0, S_OK, nullptr, nullptr), WBEM_S_NO_ERROR);
  EXPECT_EQ(sink->Release(), 2u);
  EXPECT_EQ(sink->Release(), 1u);
  EXPECT_EQ(context.use_count(), 2);
  EXPECT_EQ(sink->Release(), 0u);
  EXPECT_EQ(context.use_count(), 1) << "the last release destroys the sink";
}

// The real set-up on this machine. Wine registers no unsecured apartment;
// the watch then hands WMI its sink and starts without bothering the user.
// It runs on a thread of its own: the caller's thread can still become a
// single-threaded apartment, as the shell's calls on the window thread want.
TEST(BrowserWatch, StartsWithoutAMessageAndLeavesTheCallersApartmentAlone) {
  test_support::RecordedMessages messages;
  BrowserWatch watch(::GetModuleHandleW(nullptr), [] { return ENGINE_DISCONNECTED; });
  ASSERT_EQ(watch.Start(), 1);
  for (const std::wstring& text : messages.Texts()) ADD_FAILURE() << std::string(text.begin(), text.end());
  std::printf("the watch calls its sink %s\n",
              watch.uses_apartment() ? "through the unsecured apartment" : "directly");
  {
    const ScopedComInitialize apartment(COINIT_APARTMENTTHREADED);
    EXPECT_EQ(apartment.result(), S_OK);
  }
  EXPECT_EQ(watch.Start(), 0) << "one watch at a time";
  watch.Stop();
  watch.Stop();
}

}  // namespace
}  // namespace veltrona::engines
