// The watch's set-up and tear-down against a WMI of the test's own: each step
// fails in turn, and what the user sees and what is released are checked.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "client/engines/browser_watch_win.h"
#include "tests/win_test_support/com_fake_win.h"
#include "tests/win_test_support/recorded_messages_win.h"

namespace veltrona::engines {
namespace {

// What the fake WMI saw: the calls it took and the objects that went away,
// in order, and how many of its objects are still alive.
struct Ledger {
  std::vector<std::wstring> events;
  int alive = 0;
  int failing_step = 0;  // 0: nothing fails
  HRESULT failure = S_OK;
  bool has_apartment = true;
  // What the notification query was given.
  std::wstring language, query;
  LONG flags = 0;
  IWbemObjectSink* query_sink = nullptr;
  IWbemObjectSink* cancelled_sink = nullptr;

  HRESULT Step(int step) const { return step == failing_step ? failure : S_OK; }
};

// The fakes tell the ledger when they go.
template <typename Interface>
class Fake : public test_support::ComFake<Interface> {
 public:
  Fake(Ledger& ledger, const wchar_t* name) : ledger_(ledger), name_(name) { ++ledger_.alive; }
  ~Fake() override {
    --ledger_.alive;
    ledger_.events.push_back(L"released " + name_);
  }

 protected:
  Ledger& ledger_;
  std::wstring name_;
};

class FakeServices final : public Fake<IWbemServices> {
 public:
  explicit FakeServices(Ledger& ledger) : Fake(ledger, L"services") {}
  HRESULT STDMETHODCALLTYPE CancelAsyncCall(IWbemObjectSink* sink) override {
    ledger_.events.push_back(L"CancelAsyncCall");
    ledger_.cancelled_sink = sink;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE ExecNotificationQueryAsync(const BSTR language, const BSTR query, LONG flags,
                                                       IWbemContext*, IWbemObjectSink* sink) override {
    ledger_.language = language;
    ledger_.query = query;
    ledger_.flags = flags;
    ledger_.query_sink = sink;
    return ledger_.Step(9);
  }
  VELTRONA_COM_NOT_USED(OpenNamespace(const BSTR, LONG, IWbemContext*, IWbemServices**, IWbemCallResult**))
  VELTRONA_COM_NOT_USED(QueryObjectSink(LONG, IWbemObjectSink**))
  VELTRONA_COM_NOT_USED(GetObject(const BSTR, LONG, IWbemContext*, IWbemClassObject**, IWbemCallResult**))
  VELTRONA_COM_NOT_USED(GetObjectAsync(const BSTR, LONG, IWbemContext*, IWbemObjectSink*))
  VELTRONA_COM_NOT_USED(PutClass(IWbemClassObject*, LONG, IWbemContext*, IWbemCallResult**))
  VELTRONA_COM_NOT_USED(PutClassAsync(IWbemClassObject*, LONG, IWbemContext*, IWbemObjectSink*))
  VELTRONA_COM_NOT_USED(DeleteClass(const BSTR, LONG, IWbemContext*, IWbemCallResult**))
  VELTRONA_COM_NOT_USED(DeleteClassAsync(const BSTR, LONG, IWbemContext*, IWbemObjectSink*))
  VELTRONA_COM_NOT_USED(CreateClassEnum(const BSTR, LONG, IWbemContext*, IEnumWbemClassObject**))
  VELTRONA_COM_NOT_USED(CreateClassEnumAsync(const BSTR, LONG, IWbemContext*, IWbemObjectSink*))
  VELTRONA_COM_NOT_USED(PutInstance(IWbemClassObject*, LONG, IWbemContext*, IWbemCallResult**))
  VELTRONA_COM_NOT_USED(PutInstanceAsync(IWbemClassObject*, LONG, IWbemContext*, IWbemObjectSink*))
  VELTRONA_COM_NOT_USED(DeleteInstance(const BSTR, LONG, IWbemContext*, IWbemCallResult**))
  VELTRONA_COM_NOT_USED(DeleteInstanceAsync(const BSTR, LONG, IWbemContext*, IWbemObjectSink*))
  VELTRONA_COM_NOT_USED(CreateInstanceEnum(const BSTR, LONG, IWbemContext*, IEnumWbemClassObject**))
  VELTRONA_COM_NOT_USED(CreateInstanceEnumAsync(const BSTR, LONG, IWbemContext*, IWbemObjectSink*))
  VELTRONA_COM_NOT_USED(ExecQuery(const BSTR, const BSTR, LONG, IWbemContext*, IEnumWbemClassObject**))
  VELTRONA_COM_NOT_USED(ExecQueryAsync(const BSTR, const BSTR, LONG, IWbemContext*, IWbemObjectSink*))
  VELTRONA_COM_NOT_USED(ExecNotificationQuery(const BSTR, const BSTR, LONG, IWbemContext*, IEnumWbemClassObject**))
  VELTRONA_COM_NOT_USED(ExecMethod(const BSTR, const BSTR, LONG, IWbemContext*, IWbemClassObject*, IWbemClassObject**,
                               IWbemCallResult**))
  VELTRONA_COM_NOT_USED(ExecMethodAsync(const BSTR, const BSTR, LONG, IWbemContext*, IWbemClassObject*,
                                    IWbemObjectSink*))
};

class FakeLocator final : public Fake<IWbemLocator> {
 public:
  explicit FakeLocator(Ledger& ledger) : Fake(ledger, L"locator") {}
  HRESULT STDMETHODCALLTYPE ConnectServer(const BSTR name_space, const BSTR user, const BSTR password,
                                          const BSTR locale, LONG flags, const BSTR authority, IWbemContext* context,
                                          IWbemServices** services) override {
    ledger_.events.push_back(std::wstring(L"ConnectServer ") + name_space);
    EXPECT_TRUE(user == nullptr && password == nullptr && locale == nullptr && authority == nullptr &&
                context == nullptr && flags == 0);
    if (FAILED(ledger_.Step(4))) return ledger_.Step(4);
    *services = new FakeServices(ledger_);
    return S_OK;
  }
};

// The stub WMI would call: it hands each delivery on to the object it wraps.
class FakeStub final : public Fake<IWbemObjectSink> {
 public:
  FakeStub(Ledger& ledger, IWbemObjectSink* target) : Fake(ledger, L"stub"), target_(target) { target_->AddRef(); }
  ~FakeStub() override { target_->Release(); }
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
    if (iid == IID_IWbemObjectSink && FAILED(ledger_.Step(8))) {
      *object = nullptr;
      return ledger_.Step(8);
    }
    return Fake::QueryInterface(iid, object);
  }
  HRESULT STDMETHODCALLTYPE Indicate(long count, IWbemClassObject** objects) override {
    return target_->Indicate(count, objects);
  }
  HRESULT STDMETHODCALLTYPE SetStatus(long flags, HRESULT result, BSTR text, IWbemClassObject* object) override {
    return target_->SetStatus(flags, result, text, object);
  }

 private:
  IWbemObjectSink* target_;
};

class FakeApartment final : public Fake<IUnsecuredApartment> {
 public:
  explicit FakeApartment(Ledger& ledger) : Fake(ledger, L"apartment") {}
  HRESULT STDMETHODCALLTYPE CreateObjectStub(IUnknown* object, IUnknown** stub) override {
    if (FAILED(ledger_.Step(7))) return ledger_.Step(7);
    IWbemObjectSink* sink = nullptr;
    if (FAILED(object->QueryInterface(IID_PPV_ARGS(&sink)))) return E_NOINTERFACE;
    *stub = new FakeStub(ledger_, sink);
    sink->Release();
    return S_OK;
  }
};


ComCalls FakeCom(Ledger& ledger) {
  ComCalls com;
  com.initialize = [&ledger](DWORD model) {
    EXPECT_EQ(model, static_cast<DWORD>(COINIT_MULTITHREADED));
    return ledger.Step(1);
  };
  com.initialize_security = [&ledger] { return ledger.Step(2); };
  com.create_instance = [&ledger](REFCLSID type, DWORD context, REFIID iid, void** object) -> HRESULT {
    if (type == CLSID_WbemLocator) {
      EXPECT_EQ(context, static_cast<DWORD>(CLSCTX_INPROC_SERVER));
      if (FAILED(ledger.Step(3))) return ledger.Step(3);
      auto* locator = new FakeLocator(ledger);
      const HRESULT result = locator->QueryInterface(iid, object);
      locator->Release();
      return result;
    }
    if (type == CLSID_UnsecuredApartment) {
      EXPECT_EQ(context, static_cast<DWORD>(CLSCTX_LOCAL_SERVER));
      if (!ledger.has_apartment) return REGDB_E_CLASSNOTREG;
      if (FAILED(ledger.Step(6))) return ledger.Step(6);
      auto* apartment = new FakeApartment(ledger);
      const HRESULT result = apartment->QueryInterface(iid, object);
      apartment->Release();
      return result;
    }
    return REGDB_E_CLASSNOTREG;
  };
  com.set_proxy_blanket = [&ledger](IUnknown* proxy) {
    EXPECT_NE(proxy, nullptr);
    ledger.events.push_back(L"CoSetProxyBlanket");
    return ledger.Step(5);
  };
  com.uninitialize = [&ledger] { ledger.events.push_back(L"CoUninitialize"); };
  return com;
}

std::wstring Message(const wchar_t* what, HRESULT result) {
  wchar_t code[16];
  std::swprintf(code, std::size(code), L"%08x", static_cast<unsigned>(result));
  return std::wstring(L"Can't ") + what + L"\nError code is 0x" + code;
}

// Steps 7 and 8 are the apartment's stub and its sink interface; the sink of
// our own (the step between them) cannot fail but for want of memory.
TEST(BrowserWatchSetUp, EachFailingStepSaysWhichAndReleasesEverythingItHeld) {
  const struct {
    int step;
    const wchar_t* what;
  } steps[] = {{1, L"CoInitializeEx"},    {2, L"CoInitializeSecurity"},
               {3, L"CoCreateInstance"},  {4, L"pLoc->ConnectServer"},
               {5, L"CoSetProxyBlanket"}, {6, L"CoCreateInstance"},
               {7, L"CreateObjectStub"},  {8, L"QueryInterface"},
               {9, L"ExecNotificationQueryAsync"}};
  for (const auto& step : steps) {
    SCOPED_TRACE(step.step);
    Ledger ledger;
    ledger.failing_step = step.step;
    ledger.failure = static_cast<HRESULT>(0x80041000u + step.step);
    test_support::RecordedMessages messages;
    {
      BrowserWatch watch(::GetModuleHandleW(nullptr), [] { return ENGINE_DISCONNECTED; }, FakeCom(ledger));
      EXPECT_EQ(watch.Start(), 0);
      ASSERT_EQ(messages.All().size(), 1u);
      const common::MessageRequest& shown = messages.All()[0];
      EXPECT_EQ(shown.text, Message(step.what, ledger.failure));
      EXPECT_EQ(shown.caption, L"Veltrona VPN Free Trial");
      EXPECT_EQ(shown.style, static_cast<UINT>(MB_ICONWARNING));
      EXPECT_EQ(shown.owner, nullptr);
      EXPECT_EQ(ledger.alive, 0) << "every object obtained before the failure is released";
      // COM is ended only where this thread's initialisation succeeded, and last.
      if (step.step == 1) {
        EXPECT_TRUE(ledger.events.empty() || ledger.events.back() != L"CoUninitialize");
      } else {
        ASSERT_FALSE(ledger.events.empty());
        EXPECT_EQ(ledger.events.back(), L"CoUninitialize");
      }
    }
    EXPECT_EQ(ledger.events.end() - std::find(ledger.events.begin(), ledger.events.end(), L"CancelAsyncCall"), 0)
        << "a watch that never started cancels nothing";
  }
}

TEST(BrowserWatchSetUp, TheAcceptedFailuresOfTheFirstStepsAreNoFailures) {
  for (const HRESULT accepted : {RPC_E_CHANGED_MODE, RPC_E_TOO_LATE}) {
    Ledger ledger;
    ledger.failing_step = accepted == RPC_E_CHANGED_MODE ? 1 : 2;
    ledger.failure = accepted;
    test_support::RecordedMessages messages;
    {
      BrowserWatch watch(::GetModuleHandleW(nullptr), [] { return ENGINE_DISCONNECTED; }, FakeCom(ledger));
      EXPECT_EQ(watch.Start(), 1);
      watch.Stop();
    }
    EXPECT_TRUE(messages.All().empty());
    EXPECT_EQ(ledger.alive, 0);
    const bool uninitialised =
        std::find(ledger.events.begin(), ledger.events.end(), L"CoUninitialize") != ledger.events.end();
    // An apartment someone else made is not ended by the watch.
    EXPECT_EQ(uninitialised, accepted != RPC_E_CHANGED_MODE);
  }
}

TEST(BrowserWatchSetUp, TheQueryWatchesNewProcessesThroughTheStubAndStopUndoesItInOrder) {
  Ledger ledger;
  test_support::RecordedMessages messages;
  BrowserWatch watch(::GetModuleHandleW(nullptr), [] { return ENGINE_DISCONNECTED; }, FakeCom(ledger));
  ASSERT_EQ(watch.Start(), 1);
  EXPECT_TRUE(messages.All().empty());
  EXPECT_TRUE(watch.uses_apartment());
  EXPECT_EQ(ledger.language, L"WQL");
  EXPECT_EQ(ledger.query,
            L"SELECT * FROM __InstanceCreationEvent WITHIN 1 WHERE TargetInstance ISA 'Win32_Process'");
  EXPECT_EQ(ledger.flags, WBEM_FLAG_SEND_STATUS);
  ASSERT_NE(ledger.query_sink, nullptr);
  EXPECT_NE(dynamic_cast<FakeStub*>(ledger.query_sink), nullptr) << "WMI calls the apartment's stub";
  EXPECT_EQ(ledger.query_sink->SetStatus(0, S_OK, nullptr, nullptr), WBEM_S_NO_ERROR);
  ledger.events.clear();

  watch.Stop();
  EXPECT_EQ(ledger.cancelled_sink, ledger.query_sink);
  const std::vector<std::wstring> expected = {L"CancelAsyncCall",    L"released services", L"released locator",
                                              L"released apartment", L"released stub",     L"CoUninitialize"};
  EXPECT_EQ(ledger.events, expected);
  EXPECT_EQ(ledger.alive, 0);
}

TEST(BrowserWatchSetUp, WithoutTheUnsecuredApartmentWmiIsHandedTheSinkItself) {
  Ledger ledger;
  ledger.has_apartment = false;
  test_support::RecordedMessages messages;
  BrowserWatch watch(::GetModuleHandleW(nullptr), [] { return ENGINE_DISCONNECTED; }, FakeCom(ledger));
  ASSERT_EQ(watch.Start(), 1);
  EXPECT_TRUE(messages.All().empty());
  EXPECT_FALSE(watch.uses_apartment());
  ASSERT_NE(ledger.query_sink, nullptr);
  EXPECT_NE(dynamic_cast<EventSink*>(ledger.query_sink), nullptr);
  watch.Stop();
  EXPECT_EQ(ledger.cancelled_sink, ledger.query_sink);
  EXPECT_EQ(ledger.alive, 0);
}

}  // namespace
}  // namespace veltrona::engines
