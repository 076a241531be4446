#include "client/app/proxy_switch.h"

#include <gtest/gtest.h>

#include <vector>

namespace veltrona::app {
namespace {

// The registry as the switch sees it, with a copy that survives a "crash"
// (a new switch over the same store).
class FakeStore : public SystemProxyStore {
 public:
  ProxySettings Read() override { return system; }
  bool Write(const ProxySettings& settings) override {
    if (!writable) return false;
    system = settings;
    writes.push_back(settings);
    return true;
  }
  bool KeepSavedCopy(const ProxySettings& settings) override {
    copy = settings;
    return true;
  }
  std::optional<ProxySettings> SavedCopy() override { return copy; }
  void DropSavedCopy() override { copy.reset(); }

  ProxySettings system;
  std::optional<ProxySettings> copy;
  bool writable = true;
  std::vector<ProxySettings> writes;
};

const ProxySettings kUsers{1, u"proxy.example:8080"};

TEST(ProxySwitch, TheUsersSettingsAreSavedOnceReplacedAndRestoredExactly) {
  FakeStore store;
  store.system = kUsers;
  ProxySwitch proxy(store);
  proxy.Apply(u"");
  EXPECT_EQ(store.system, (ProxySettings{0, u""}));
  EXPECT_EQ(store.copy, kUsers);
  // A second take-over in the same connection keeps the user's copy.
  proxy.Apply(u"10.0.0.1:3128");
  EXPECT_EQ(store.system, (ProxySettings{0, u""}));
  EXPECT_EQ(proxy.saved_settings(), kUsers);
  proxy.Restore();
  EXPECT_EQ(store.system, kUsers);
  EXPECT_FALSE(store.copy);
  EXPECT_FALSE(proxy.saved());

  // Twice more round, and the last character of the text is still there.
  for (int round = 0; round < 2; ++round) {
    proxy.Apply(u"10.0.0.1:3128");
    EXPECT_EQ(store.system, (ProxySettings{1, u"10.0.0.1:3128"}));
    proxy.Restore();
    EXPECT_EQ(store.system, kUsers);
  }
}

TEST(ProxySwitch, ARunThatDiedWhileHoldingTheSettingsIsUndoneAtTheNextStart) {
  FakeStore store;
  store.system = kUsers;
  {
    ProxySwitch dying(store);
    dying.Apply(u"");
  }
  EXPECT_EQ(store.system.enable, 0u);
  ProxySwitch next(store);
  EXPECT_TRUE(next.RecoverLeftCopy());
  EXPECT_EQ(store.system, kUsers);
  EXPECT_FALSE(store.copy);
  EXPECT_FALSE(next.RecoverLeftCopy());
}

TEST(ProxySwitch, ACopyIsKeptUntilARestoreReachesTheRegistry) {
  FakeStore store;
  store.system = kUsers;
  ProxySwitch proxy(store);
  proxy.Apply(u"");
  store.writable = false;
  proxy.Restore();
  EXPECT_FALSE(proxy.saved());
  EXPECT_EQ(store.copy, kUsers);
  store.writable = true;
  EXPECT_TRUE(ProxySwitch(store).RecoverLeftCopy());
  EXPECT_EQ(store.system, kUsers);
}

TEST(ProxySwitch, OnlyAnEnabledProxyThatIsAListedServersAddressIsSwitchedOff) {
  const config::ServerMap servers{{u"a.example", u""}, {u"b.example", u"10.0.0.2:3128"}};
  for (const auto& [found, cleared] : {std::pair{ProxySettings{1, u""}, true},
                                       std::pair{ProxySettings{1, u"10.0.0.2:3128"}, true},
                                       std::pair{ProxySettings{1, u"10.0.0.2:312"}, false},
                                       std::pair{ProxySettings{0, u"10.0.0.2:3128"}, false},
                                       std::pair{kUsers, false}}) {
    FakeStore store;
    store.system = found;
    ProxySwitch(store).ClearStale(servers);
    EXPECT_EQ(store.system, (cleared ? ProxySettings{0, u""} : found));
    EXPECT_EQ(store.writes.size(), cleared ? 1u : 0u);
  }
  FakeStore none;
  none.system = ProxySettings{1, u""};
  ProxySwitch(none).ClearStale({});
  EXPECT_EQ(none.system.enable, 1u);
}

}  // namespace
}  // namespace veltrona::app
