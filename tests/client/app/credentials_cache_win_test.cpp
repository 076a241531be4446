#include "client/app/credentials_cache_win.h"

#include <gtest/gtest.h>
#include <windows.h>
#include <wincrypt.h>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "base/unique_handle_win.h"
#include "client/resources/resource.h"
#include "tests/win_test_support/registry_sandbox_win.h"
#include "tests/win_test_support/registry_values_win.h"

namespace veltrona::app {
namespace {

constexpr wchar_t kCacheKey[] = L"Software\\VeltronaVPN\\CredCache";
constexpr const wchar_t* kOldKeys[] = {L"SOFTWARE\\VeltronaVPN\\CredCache\\Login",
                                       L"SOFTWARE\\VeltronaVPN\\CredCache\\Passw",
                                       L"SOFTWARE\\VeltronaVPN\\CredCache\\server"};

using Value = std::pair<DWORD, std::vector<BYTE>>;  // type and bytes

// The cache's default value as stored; REG_NONE when there is none.
Value Stored() {
  DWORD type = REG_NONE;
  DWORD size = 0;
  if (::RegGetValueW(HKEY_CURRENT_USER, kCacheKey, nullptr, RRF_RT_ANY, &type, nullptr, &size) != ERROR_SUCCESS) {
    return {REG_NONE, {}};
  }
  std::vector<BYTE> data(size);
  ::RegGetValueW(HKEY_CURRENT_USER, kCacheKey, nullptr, RRF_RT_ANY, &type, data.data(), &size);
  data.resize(size);
  return {type, data};
}

void SetDefaultValue(const wchar_t* key, const Value& value) {
  test_support::SetValue(HKEY_CURRENT_USER, key, nullptr, value.first, value.second.data(),
                         static_cast<DWORD>(value.second.size()));
}

bool KeyExists(const wchar_t* name) { return test_support::KeyExists(HKEY_CURRENT_USER, name); }

std::vector<BYTE> Utf16(std::wstring_view text, bool terminated = false) {
  std::vector<BYTE> bytes;
  for (const wchar_t c : text) bytes.insert(bytes.end(), {static_cast<BYTE>(c & 0xFF), static_cast<BYTE>(c >> 8)});
  if (terminated) bytes.insert(bytes.end(), {0, 0});
  return bytes;
}

// What this user's DPAPI makes of `blob` without entropy; nothing when it cannot open it.
std::vector<BYTE> Unprotected(std::vector<BYTE> blob) {
  DATA_BLOB in{static_cast<DWORD>(blob.size()), blob.data()};
  DATA_BLOB out{};
  if (!::CryptUnprotectData(&in, nullptr, nullptr, nullptr, nullptr, CRYPTPROTECT_UI_FORBIDDEN, &out)) return {};
  const UniqueLocalMemory owned(out.pbData);
  return std::vector<BYTE>(out.pbData, out.pbData + out.cbData);
}

// LoadCredentials' three texts as "user|pass|server".
std::wstring Load() {
  std::wstring vpn_id = L"stale", code = L"stale", server = L"stale";
  LoadCredentials(vpn_id, code, server);
  return vpn_id + L"|" + code + L"|" + server;
}

class CredentialsCache : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(sandbox_.Ready()); }
  void SetOldLayout() {
    const wchar_t* texts[] = {L"1001", L"a<b&c>d", L"VPN.example"};
    for (int i = 0; i < 3; ++i) SetDefaultValue(kOldKeys[i], {REG_SZ, Utf16(texts[i], true)});
  }
  test_support::UserHiveSandbox sandbox_{L"credentials"};
};

TEST_F(CredentialsCache, SavedTextsAreStoredProtectedAndLoadBackExactly) {
  ASSERT_TRUE(SaveCredentials(L"1001", L"X7-99", L"vpn.example"));
  ASSERT_TRUE(SaveCredentials(L"a<b&c>d", L"secret-code", L"a<b&c>d"));
  EXPECT_EQ(Load(), L"a<b&c>d|secret-code|a<b&c>d");
  const auto [type, blob] = Stored();
  EXPECT_EQ(type, DWORD{REG_BINARY});
  for (const wchar_t* plain : {L"a<b&c>d", L"secret-code", L"credentials"}) {
    EXPECT_TRUE(std::ranges::search(blob, Utf16(plain)).empty()) << "plain text in the value";
  }
  EXPECT_EQ(Unprotected(blob), Utf16(L"<credentials><user>a&lt;b&amp;c&gt;d</user><pass>secret-code</pass>"
                                     L"<server>a&lt;b&amp;c&gt;d</server></credentials>", true));
}

TEST_F(CredentialsCache, ValueThisUserCannotOpenIsLeftAsItIs) {
  // Protected with entropy the cache does not use, it stands in for another user's blob.
  std::vector<BYTE> plain = Utf16(L"<credentials><user>x</user></credentials>", true);
  char entropy_bytes[] = "another program";
  DATA_BLOB in{static_cast<DWORD>(plain.size()), plain.data()};
  DATA_BLOB entropy{sizeof entropy_bytes, reinterpret_cast<BYTE*>(entropy_bytes)};
  DATA_BLOB out{};
  ASSERT_TRUE(::CryptProtectData(&in, nullptr, &entropy, nullptr, nullptr, CRYPTPROTECT_UI_FORBIDDEN, &out));
  const UniqueLocalMemory owned(out.pbData);
  SetOldLayout();
  for (const Value& value : {Value{REG_BINARY, {out.pbData, out.pbData + out.cbData}},
                             Value{REG_BINARY, {0x01, 0x00, 0x00, 0x00, 0xD0, 0x8C, 0x9D, 0xDF, 0x01}},
                             Value{REG_SZ, Utf16(L"1001", true)}}) {
    SetDefaultValue(kCacheKey, value);
    EXPECT_EQ(Load(), L"||");
    EXPECT_EQ(Stored(), value);
    for (const wchar_t* old : kOldKeys) EXPECT_TRUE(KeyExists(old)) << "nothing is migrated";
  }
}

TEST_F(CredentialsCache, OlderLayoutIsConvertedAndDeleted) {
  SetOldLayout();
  EXPECT_EQ(Load(), L"1001|a<b&c>d|VPN.example");
  for (const wchar_t* old : kOldKeys) EXPECT_FALSE(KeyExists(old));
  EXPECT_EQ(Stored().first, DWORD{REG_BINARY});
  EXPECT_EQ(Load(), L"1001|a<b&c>d|VPN.example");  // now from the converted value
}

TEST_F(CredentialsCache, NoCacheAtAllLeavesAValueOfThreeEmptyTexts) {
  EXPECT_EQ(Load(), L"||");
  const auto [type, blob] = Stored();
  EXPECT_EQ(type, DWORD{REG_BINARY});
  EXPECT_EQ(Unprotected(blob), Utf16(L"<credentials><user></user><pass></pass><server></server></credentials>", true));
}

TEST_F(CredentialsCache, LoadedTextsStopAt65535Characters) {
  const std::wstring longest(65535, L'7');
  const std::wstring one_more(65536, L'8');
  ASSERT_TRUE(SaveCredentials(one_more, longest, L""));
  EXPECT_EQ(Load(), one_more.substr(0, 65535) + L"|" + longest + L"|");
}

// A hidden window with the main window's two text fields and its sorted
// drop-down server box, listing two hosts that differ only in case.
class CredentialsFields : public CredentialsCache {
 protected:
  void SetUp() override {
    CredentialsCache::SetUp();
    window_ = ::CreateWindowExW(0, L"STATIC", L"", WS_OVERLAPPED, 0, 0, 300, 200, nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(window_, nullptr) << "windows need a display";
    for (const int id : {IDC_VPN_ID, IDC_ACTIVATION_CODE}) {
      ::CreateWindowExW(0, L"EDIT", L"typed", WS_CHILD | ES_AUTOHSCROLL, 0, 0, 200, 20, window_,
                        reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), nullptr, nullptr);
    }
    ::CreateWindowExW(0, L"COMBOBOX", L"", WS_CHILD | CBS_DROPDOWNLIST | CBS_SORT, 0, 0, 200, 100, window_,
                      reinterpret_cast<HMENU>(static_cast<INT_PTR>(IDC_SERVER)), nullptr, nullptr);
    for (const wchar_t* host : {L"vpn.example", L"other.example", L"VPN.example"}) {
      ::SendDlgItemMessageW(window_, IDC_SERVER, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(host));
    }
    ASSERT_EQ(::SendDlgItemMessageW(window_, IDC_SERVER, CB_GETCOUNT, 0, 0), 3);
    ::SendDlgItemMessageW(window_, IDC_SERVER, CB_SELECTSTRING, static_cast<WPARAM>(-1),
                          reinterpret_cast<LPARAM>(L"other.example"));
  }
  void TearDown() override { ::DestroyWindow(window_); }

  // What the user sees: "VPN ID|activation code|selected server".
  std::wstring Shown() const {
    wchar_t text[3][260] = {};
    ::GetDlgItemTextW(window_, IDC_VPN_ID, text[0], 260);
    ::GetDlgItemTextW(window_, IDC_ACTIVATION_CODE, text[1], 260);
    const LRESULT index = ::SendDlgItemMessageW(window_, IDC_SERVER, CB_GETCURSEL, 0, 0);
    ::SendDlgItemMessageW(window_, IDC_SERVER, CB_GETLBTEXT, static_cast<WPARAM>(index),
                          reinterpret_cast<LPARAM>(text[2]));
    return std::wstring(text[0]) + L"|" + text[1] + L"|" + text[2];
  }

  HWND window_ = nullptr;
};

TEST_F(CredentialsFields, CachedServerIsSelectedByItsExactName) {
  // The box's own search finds the same entry for both spellings.
  for (const std::wstring host : {L"vpn.example", L"VPN.example"}) {
    ASSERT_TRUE(SaveCredentials(L"1001", L"a<b&c>d", host));
    FillCredentialFields(window_);
    EXPECT_EQ(Shown(), L"1001|a<b&c>d|" + host);
  }
}

TEST_F(CredentialsFields, EmptyOrUnlistedServerLeavesTheSelection) {
  for (const wchar_t* host : {L"", L"Vpn.Example"}) {
    ASSERT_TRUE(SaveCredentials(L"1001", L"X7-99", host));
    FillCredentialFields(window_);
    EXPECT_EQ(Shown(), L"1001|X7-99|other.example");
  }
}

}  // namespace
}  // namespace veltrona::app
