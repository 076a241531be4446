#include "client/config/key_archive_win.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "base/unique_handle_win.h"
#include "client/config/openvpn_config.h"
#include "client/config/settings_store_win.h"
#include "service/openvpn_config_check.h"
#include "tests/win_test_support/config_host_win.h"
#include "tests/win_test_support/files_win.h"
#include "tests/win_test_support/process_win.h"
#include "tests/win_test_support/recorded_messages_win.h"
#include "tests/win_test_support/registry_sandbox_win.h"

namespace veltrona::config {
namespace {

// Only handed through to the recorded message boxes.
const HWND kMainWindow = reinterpret_cast<HWND>(static_cast<INT_PTR>(0x5a5a));

// A zip archive with stored (uncompressed) entries, written field by field.
class ZipBuilder {
 public:
  void Add(const std::string& name, const std::string& data, std::uint32_t external_attributes = 0) {
    const std::uint32_t crc = static_cast<std::uint32_t>(
        ::crc32(0, reinterpret_cast<const Bytef*>(data.data()), static_cast<uInt>(data.size())));
    const std::uint32_t offset = static_cast<std::uint32_t>(local_.size());
    Put32(local_, 0x04034b50);
    Put16(local_, 20);  // version needed
    Put16(local_, 0);   // flags
    Put16(local_, 0);   // stored
    Put16(local_, 0);   // time
    Put16(local_, 0x21);  // date: 1980-01-01
    Put32(local_, crc);
    Put32(local_, static_cast<std::uint32_t>(data.size()));
    Put32(local_, static_cast<std::uint32_t>(data.size()));
    Put16(local_, static_cast<std::uint16_t>(name.size()));
    Put16(local_, 0);
    local_ += name;
    local_ += data;

    Put32(central_, 0x02014b50);
    Put16(central_, 20);  // made by
    Put16(central_, 20);  // needed
    Put16(central_, 0);
    Put16(central_, 0);
    Put16(central_, 0);
    Put16(central_, 0x21);
    Put32(central_, crc);
    Put32(central_, static_cast<std::uint32_t>(data.size()));
    Put32(central_, static_cast<std::uint32_t>(data.size()));
    Put16(central_, static_cast<std::uint16_t>(name.size()));
    Put16(central_, 0);  // extra
    Put16(central_, 0);  // comment
    Put16(central_, 0);  // disk
    Put16(central_, 0);  // internal attributes
    Put32(central_, external_attributes);
    Put32(central_, offset);
    central_ += name;
    ++entries_;
  }

  std::string Bytes() const {
    std::string out = local_ + central_;
    Put32(out, 0x06054b50);
    Put16(out, 0);
    Put16(out, 0);
    Put16(out, entries_);
    Put16(out, entries_);
    Put32(out, static_cast<std::uint32_t>(central_.size()));
    Put32(out, static_cast<std::uint32_t>(local_.size()));
    Put16(out, 0);
    return out;
  }

 private:
  static void Put16(std::string& out, std::uint16_t value) {
    out.push_back(static_cast<char>(value & 0xFF));
    out.push_back(static_cast<char>(value >> 8));
  }
  static void Put32(std::string& out, std::uint32_t value) {
    Put16(out, static_cast<std::uint16_t>(value & 0xFFFF));
    Put16(out, static_cast<std::uint16_t>(value >> 16));
  }

  std::string local_;
  std::string central_;
  std::uint16_t entries_ = 0;
};

using test_support::FileExists;
using test_support::ReadWholeFile;
using test_support::TempFolder;

void WriteFile(const std::wstring& path, const std::string& bytes) {
  ASSERT_TRUE(test_support::WriteWholeFile(path, bytes)) << std::string(path.begin(), path.end());
}

bool IsFolder(const std::wstring& path) {
  const DWORD attributes = ::GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

class ConfigKeyArchive : public ::testing::Test {
 protected:
  void SetUp() override { data_ = tree_.Make(L"data"); }
  void PutArchive(const std::string& bytes) { WriteFile(data_ + L"\\keys.zip", bytes); }

  TempFolder tree_{L"veltrona-keys-"};
  std::wstring data_;
  test_support::RecordedMessages messages_;
};

TEST_F(ConfigKeyArchive, EntriesAreUnpackedAndTheArchiveDeleted) {
  ZipBuilder zip;
  zip.Add("ca.crt", "-----BEGIN CERTIFICATE-----\nca\n");
  zip.Add("ta.key", "static key");
  PutArchive(zip.Bytes());
  ASSERT_TRUE(ExtractKeyArchive(data_, L"keys.zip", kMainWindow));
  EXPECT_EQ(ReadWholeFile(data_ + L"\\ca.crt"), "-----BEGIN CERTIFICATE-----\nca\n");
  EXPECT_EQ(ReadWholeFile(data_ + L"\\ta.key"), "static key");
  EXPECT_FALSE(FileExists(data_ + L"\\keys.zip"));
  EXPECT_TRUE(messages_.Texts().empty());
}

TEST_F(ConfigKeyArchive, FolderEntryIsCreatedAndFilesAfterItGoInside) {
  ZipBuilder zip;
  zip.Add("certs/", "", 0x10);
  zip.Add("certs/client.crt", "client certificate");
  zip.Add("empty/", "", 0x10);
  PutArchive(zip.Bytes());
  ASSERT_TRUE(ExtractKeyArchive(data_, L"keys.zip", kMainWindow));
  EXPECT_TRUE(IsFolder(data_ + L"\\certs"));
  EXPECT_TRUE(IsFolder(data_ + L"\\empty"));
  EXPECT_EQ(ReadWholeFile(data_ + L"\\certs\\client.crt"), "client certificate");
}

TEST_F(ConfigKeyArchive, EntriesLeadingOutsideTheFolderAreNeverWritten) {
  ZipBuilder zip;
  zip.Add("../escaped1.txt", "x");
  zip.Add("..\\escaped2.txt", "x");
  zip.Add("certs/../../escaped3.txt", "x");
  zip.Add("/escaped4.txt", "x");
  zip.Add("C:escaped5.txt", "x");
  zip.Add("ca.crt:stream", "x");
  zip.Add("../outside/", "", 0x10);
  zip.Add("inside.key", "kept");
  PutArchive(zip.Bytes());
  ASSERT_TRUE(ExtractKeyArchive(data_, L"keys.zip", kMainWindow));
  EXPECT_EQ(ReadWholeFile(data_ + L"\\inside.key"), "kept");
  for (const wchar_t* name : {L"escaped1.txt", L"escaped2.txt", L"escaped3.txt", L"outside"}) {
    EXPECT_FALSE(FileExists(tree_.Path() + L"\\" + name)) << name;
  }
  EXPECT_FALSE(FileExists(L"C:\\escaped4.txt"));
  EXPECT_FALSE(FileExists(data_ + L"\\escaped5.txt"));
  EXPECT_FALSE(FileExists(data_ + L"\\ca.crt"));
}

TEST_F(ConfigKeyArchive, EntryLargerThanTheBudgetIsSkipped) {
  ZipBuilder zip;
  zip.Add("huge.bin", std::string((4u << 20) + 1, 'z'));
  zip.Add("small.key", "fits");
  PutArchive(zip.Bytes());
  ASSERT_TRUE(ExtractKeyArchive(data_, L"keys.zip", kMainWindow));
  EXPECT_FALSE(FileExists(data_ + L"\\huge.bin"));
  EXPECT_EQ(ReadWholeFile(data_ + L"\\small.key"), "fits");
}

TEST_F(ConfigKeyArchive, FileThatIsNotAZipIsReportedAndKept) {
  PutArchive("<html>not a zip</html>");
  EXPECT_FALSE(ExtractKeyArchive(data_, L"keys.zip", kMainWindow));
  ASSERT_EQ(messages_.Texts().size(), 1u);
  EXPECT_EQ(messages_.Texts()[0], L"Can't open zip file " + data_ + L"\\keys.zip");
  EXPECT_EQ(messages_.All()[0].caption, L"Veltrona VPN Free Trial");
  EXPECT_EQ(messages_.All()[0].style, static_cast<UINT>(MB_ICONWARNING));
  EXPECT_EQ(messages_.All()[0].owner, kMainWindow);
  EXPECT_TRUE(FileExists(data_ + L"\\keys.zip"));
}

TEST_F(ConfigKeyArchive, ArchiveWithoutEntriesFailsSilently) {
  // Behind a self-extractor style stub: minizip never finds an end record
  // that starts the file, so a bare 22-byte archive reads as not a zip.
  PutArchive("stub" + ZipBuilder().Bytes());
  EXPECT_FALSE(ExtractKeyArchive(data_, L"keys.zip", kMainWindow));
  EXPECT_TRUE(messages_.Texts().empty());
  EXPECT_TRUE(FileExists(data_ + L"\\keys.zip"));
}

TEST_F(ConfigKeyArchive, SavedFileReplacesAnOlderOne) {
  WriteFile(data_ + L"\\Veltrona.ovpn", "older and longer text");
  ASSERT_TRUE(SaveDownloadedFile(data_, L"Veltrona.ovpn", "new", kMainWindow));
  EXPECT_EQ(ReadWholeFile(data_ + L"\\Veltrona.ovpn"), "new");
  EXPECT_FALSE(SaveDownloadedFile(data_, L"empty.bin", "", kMainWindow));
  EXPECT_FALSE(FileExists(data_ + L"\\empty.bin"));
  EXPECT_TRUE(messages_.Texts().empty());
}

TEST_F(ConfigKeyArchive, UncreatableFileIsReported) {
  const std::wstring missing = data_ + L"\\no-such-folder";
  EXPECT_FALSE(SaveDownloadedFile(missing, L"Veltrona.ovpn", "text", kMainWindow));
  ASSERT_EQ(messages_.Texts().size(), 1u);
  EXPECT_EQ(messages_.Texts()[0], L"Can't create file " + missing + L"\\Veltrona.ovpn");
}

TEST_F(ConfigKeyArchive, PathPastTheBufferIsRefusedUnwritten) {
  // folder + "\" + name at 260 units does not fit with its terminator.
  const std::wstring name(259 - data_.size(), L'k');
  EXPECT_FALSE(SaveDownloadedFile(data_, name, "text", kMainWindow));
  EXPECT_TRUE(SaveDownloadedFile(data_, name.substr(1), "text", kMainWindow));
  EXPECT_TRUE(FileExists(data_ + L"\\" + name.substr(1)));
}

// --- The configuration file, fetched from the configuration host stand-in. ---

using test_support::UserHiveSandbox;

using test_support::ConfigHost;

constexpr char kTemplate[] = "client\nremote %ADDRESS% 1194\nhttp-proxy %PROXY_IP% 8080\n# %ADDRESS%\nca ca.crt";

class ConfigOpenVpnFile : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(sandbox_.Ready());
    data_ = tree_.Make(L"data");
    served_ = tree_.Make(L"served");
    tree_.Make(L"served\\ovpn");
    ZipBuilder zip;
    zip.Add("ca.crt", "authority");
    zip.Add("keys/", "", 0x10);
    zip.Add("keys/client.key", "private");
    WriteFile(served_ + L"\\ovpn\\keys.zip", zip.Bytes());
    WriteFile(served_ + L"\\ovpn\\template.ovpn", kTemplate);
  }
  void Cache(const std::wstring& document) { ASSERT_TRUE(WriteStringSetting(SettingId::kConfigCache, document)); }
  void StartHost(unsigned short port) {
    port_ = port;
    host_ = std::make_unique<ConfigHost>(port, served_);
    ASSERT_TRUE(host_->Listening());
  }
  bool Write(std::wstring_view address, std::wstring_view proxy) {
    return WriteOpenVpnConfig(HostAddress{u"127.0.0.1", port_}, data_, address, proxy, kMainWindow);
  }
  std::wstring ConfigPath() const { return data_ + L"\\Veltrona.ovpn"; }

  UserHiveSandbox sandbox_{L"ovpn"};
  TempFolder tree_{L"veltrona-keys-"};
  std::wstring data_;
  std::wstring served_;
  unsigned short port_ = 18090;
  std::unique_ptr<ConfigHost> host_;
  test_support::RecordedMessages messages_;
};

const wchar_t kFullDocument[] =
    L"<config><servers><host hostname=\"vpn1.example.net\" default=\"True\"/></servers>"
    L"<ovpn><keys file=\"/ovpn/keys.zip\"/><template file=\"ovpn/template.ovpn\"/></ovpn></config>";

TEST_F(ConfigOpenVpnFile, KeysAndConfigurationAreWrittenWithTheServerFilledIn) {
  Cache(kFullDocument);
  StartHost(18091);
  ASSERT_TRUE(Write(L"vpn1.example.net", L"10.8.0.1"));
  EXPECT_EQ(ReadWholeFile(ConfigPath()),
            std::string("client\nremote vpn1.example.net 1194\nhttp-proxy 10.8.0.1 8080\n# %ADDRESS%\nca ca.crt") +
                std::string(kRouteText));
  EXPECT_EQ(ReadWholeFile(data_ + L"\\ca.crt"), "authority");
  EXPECT_EQ(ReadWholeFile(data_ + L"\\keys\\client.key"), "private");
  EXPECT_FALSE(FileExists(data_ + L"\\keys.zip"));
  EXPECT_TRUE(messages_.Texts().empty());
}

TEST_F(ConfigOpenVpnFile, EmptyProxyRemovesItsPlaceholder) {
  Cache(L"<config><ovpn><template file=\"/ovpn/template.ovpn\"/></ovpn></config>");
  StartHost(18092);
  ASSERT_TRUE(Write(L"10.0.0.7", L""));
  EXPECT_EQ(ReadWholeFile(ConfigPath()),
            std::string("client\nremote 10.0.0.7 1194\nhttp-proxy  8080\n# %ADDRESS%\nca ca.crt") +
                std::string(kRouteText));
}

TEST_F(ConfigOpenVpnFile, OfflineWithAnEarlierConfigurationKeepsItUnchanged) {
  Cache(kFullDocument);
  WriteFile(ConfigPath(), "earlier configuration");
  port_ = 18093;  // nothing listens here
  EXPECT_TRUE(Write(L"vpn1.example.net", L""));
  EXPECT_EQ(ReadWholeFile(ConfigPath()), "earlier configuration");
}

TEST_F(ConfigOpenVpnFile, OfflineWithoutAnEarlierConfigurationFails) {
  Cache(kFullDocument);
  port_ = 18094;
  EXPECT_FALSE(Write(L"vpn1.example.net", L""));
  EXPECT_FALSE(FileExists(ConfigPath()));
}

TEST_F(ConfigOpenVpnFile, NoCacheFailsAndNoOvpnElementWritesNothing) {
  StartHost(18095);
  EXPECT_FALSE(Write(L"vpn1.example.net", L""));
  Cache(L"<config><servers/></config>");
  EXPECT_TRUE(Write(L"vpn1.example.net", L""));
  EXPECT_FALSE(FileExists(ConfigPath()));
  EXPECT_TRUE(messages_.Texts().empty());
}

TEST_F(ConfigOpenVpnFile, ArchiveThatIsNotAZipStopsBeforeTheTemplate) {
  Cache(L"<config><ovpn><keys file=\"/ovpn/template.ovpn\"/><template file=\"/ovpn/template.ovpn\"/></ovpn>"
        L"</config>");
  StartHost(18096);
  EXPECT_FALSE(Write(L"vpn1.example.net", L""));
  ASSERT_EQ(messages_.Texts().size(), 1u);
  EXPECT_EQ(messages_.Texts()[0], L"Can't open zip file " + data_ + L"\\template.ovpn");
  EXPECT_FALSE(FileExists(ConfigPath()));
}

TEST_F(ConfigOpenVpnFile, AddressThatWouldAddDirectivesIsRefused) {
  Cache(L"<config><ovpn><template file=\"/ovpn/template.ovpn\"/></ovpn></config>");
  StartHost(18097);
  EXPECT_FALSE(Write(L"vpn1\nscript-security 2", L""));
  EXPECT_FALSE(Write(L"vpn1.example.net", L"10.0.0.1 8080\nup evil"));
  EXPECT_FALSE(FileExists(ConfigPath()));
  // Each refusal says what could not be used, instead of the generic error.
  EXPECT_EQ(messages_.Texts(), (std::vector<std::wstring>{L"Can't use server address vpn1\nscript-security 2",
                                                          L"Can't use proxy address 10.0.0.1 8080\nup evil"}));
}

TEST_F(ConfigOpenVpnFile, FileNamesThatCannotBeUsedAreNamedToTheUser) {
  StartHost(18099);
  Cache(L"<config><ovpn><keys file=\"/dl/keys.zip?v=2\"/></ovpn></config>");
  EXPECT_FALSE(Write(L"vpn1.example.net", L""));
  Cache(L"<config><ovpn><keys file=\"/dl/Veltrona.ovpn\"/></ovpn></config>");
  EXPECT_FALSE(Write(L"vpn1.example.net", L""));
  Cache(L"<config><ovpn><template file=\"/t/a b.ovpn\"/></ovpn></config>");
  EXPECT_FALSE(Write(L"vpn1.example.net", L""));
  EXPECT_EQ(messages_.Texts(), (std::vector<std::wstring>{L"Can't save file keys.zip?v=2", L"Can't save file Veltrona.ovpn",
                                                          L"Can't download file /t/a b.ovpn"}));
  EXPECT_FALSE(FileExists(ConfigPath()));
}

// The demo host's own content: what the demo serves must come out as a
// configuration the service agrees to run.
TEST_F(ConfigOpenVpnFile, DemoContentGivesAConfigurationTheServiceAccepts) {
  const std::wstring demo = test_support::BinFolder() + L"..\\..\\..\\data\\config-host";
  const std::string document = ReadWholeFile(demo + L"\\servers.win.xml");
  ASSERT_FALSE(document.empty());
  Cache(std::wstring(document.begin(), document.end()));
  host_ = std::make_unique<ConfigHost>(18098, demo);
  ASSERT_TRUE(host_->Listening());
  port_ = 18098;
  ASSERT_TRUE(Write(L"vpn-demo.example", L""));
  EXPECT_FALSE(FileExists(data_ + L"\\keys.zip"));
  for (const wchar_t* name : {L"ca.crt", L"client.crt", L"client.key"}) {
    EXPECT_FALSE(ReadWholeFile(data_ + L"\\" + name).empty()) << name;
  }
  const std::string config = ReadWholeFile(ConfigPath());
  EXPECT_NE(config.find("remote vpn-demo.example 1194\n"), std::string::npos);
  const service::ConfigCheckResult check = service::CheckOpenVpnConfig(config, std::u16string(data_.begin(), data_.end()));
  EXPECT_TRUE(check.accepted) << check.reason << " at line " << check.line;
}

}  // namespace
}  // namespace veltrona::config
