#include "service/openvpn_config_check.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace veltrona::service {
namespace {

constexpr char16_t kFolder[] = u"C:\\Users\\bob\\AppData\\Local\\Veltrona VPN";

ConfigCheckResult Check(std::string_view text) { return CheckOpenVpnConfig(text, kFolder); }

std::string Accepted(std::string_view text) {
  const ConfigCheckResult result = Check(text);
  EXPECT_TRUE(result.accepted) << result.reason << " at line " << result.line;
  return result.text;
}

std::vector<std::pair<std::string, std::u16string>> Files(const ConfigCheckResult& result) {
  std::vector<std::pair<std::string, std::u16string>> out;
  for (const ConfigFileReference& file : result.files) out.emplace_back(file.directive, file.relative_path);
  return out;
}

// A vendor template with the server filled in and the route text appended.
constexpr char kTemplate[] =
    "# Veltrona client\r\n"
    "client\r\n"
    "dev tun\r\n"
    "proto udp\r\n"
    "remote 203.0.113.10 1194\r\n"
    "resolv-retry infinite\r\n"
    "nobind\r\n"
    "persist-key\r\n"
    "persist-tun\r\n"
    "ca ca.crt\r\n"
    "cert keys/client.crt\r\n"
    "key \"keys\\\\client.key\"  ; the private key\r\n"
    "tls-auth ta.key 1\r\n"
    "remote-cert-tls server\r\n"
    "cipher AES-256-CBC\r\n"
    "comp-lzo\r\n"
    "verb 3\r\n"
    "auth-user-pass\r\n"
    "\nroute-method exe\nroute-delay 30\nroute-metric 512\nroute 0.0.0.0 0.0.0.0";

constexpr char kTemplateRewritten[] =
    "# Veltrona client\n"
    "client\n"
    "dev tun\n"
    "proto udp\n"
    "remote 203.0.113.10 1194\n"
    "resolv-retry infinite\n"
    "nobind\n"
    "persist-key\n"
    "persist-tun\n"
    "ca \"ca.crt\"\n"
    "cert \"keys\\\\client.crt\"\n"
    "key \"keys\\\\client.key\"\n"
    "tls-auth \"ta.key\" 1\n"
    "remote-cert-tls server\n"
    "cipher AES-256-CBC\n"
    "comp-lzo\n"
    "verb 3\n"
    "auth-user-pass\n"
    "\n"
    "route-method exe\nroute-delay 30\nroute-metric 512\nroute 0.0.0.0 0.0.0.0\n";

TEST(OpenVpnConfigCheck, TypicalTemplateIsRewrittenWithItsFiles) {
  const ConfigCheckResult result = Check(kTemplate);
  ASSERT_TRUE(result.accepted) << result.reason;
  EXPECT_EQ(result.text, kTemplateRewritten);
  EXPECT_EQ(Files(result), (std::vector<std::pair<std::string, std::u16string>>{{"ca", u"ca.crt"},
                                                                                {"cert", u"keys\\client.crt"},
                                                                                {"key", u"keys\\client.key"},
                                                                                {"tls-auth", u"ta.key"}}));
  // The rewritten text is its own fixed point.
  EXPECT_EQ(Accepted(result.text), result.text);
}

TEST(OpenVpnConfigCheck, DangerousDirectivesAreRefusedByName) {
  const char* const lines[] = {
      "script-security 2", "up evil.bat", "down evil.bat", "route-up evil.bat", "route-pre-down evil.bat",
      "ipchange evil.bat", "tls-verify evil.bat", "client-connect evil.bat", "learn-address evil.bat",
      "auth-user-pass-verify evil.bat via-env", "plugin evil.dll", "engine evil", "providers evil",
      "pkcs11-providers evil.dll", "pkcs11-id x", "cryptoapicert SUBJ:machine", "win-sys C:/evil",
      "setenv opt up evil.bat", "setenv-safe A b", "config other.ovpn", "cd C:/", "chroot C:/", "daemon",
      "log C:/Windows/system.ini", "log-append x", "status C:/x 10", "writepid C:/x", "replay-persist x",
      "management 127.0.0.1 1", "management-hold", "management-query-passwords", "management-external-key",
      "service ev 0", "tls-exit", "tmp-dir C:/", "capath C:/certs", "ignore-unknown-option up",
      "dhcp-option DOMAIN x", "register-dns", "tls-export-cert C:/", "mode server", "echo x", "iproute x",
      "client-config-dir x", "auth-gen-token-secret x", "ifconfig-pool-persist x", "tls-crypt-v2-verify x"};
  for (const char* line : lines) {
    const std::string text = std::string("client\n") + line + "\n";
    const ConfigCheckResult result = Check(text);
    const std::string name = std::string(line).substr(0, std::string(line).find(' '));
    EXPECT_FALSE(result.accepted) << line;
    EXPECT_EQ(result.refused_directive, name) << line;
    EXPECT_EQ(result.reason, "directive not allowed: " + name);
    EXPECT_EQ(result.line, 2u) << line;
    EXPECT_TRUE(result.text.empty());
  }
}

TEST(OpenVpnConfigCheck, FileArgumentsWhereOnlyThePromptIsAllowedAreRefused) {
  EXPECT_EQ(Check("auth-user-pass creds.txt\n").reason, "file argument not allowed: auth-user-pass");
  EXPECT_EQ(Check("askpass pass.txt\n").reason, "file argument not allowed: askpass");
  EXPECT_EQ(Check("crl-verify crls dir\n").reason, "directory form not allowed: crl-verify");
  EXPECT_EQ(Check("dev-node C:/dev/x\n").reason, "argument not allowed: dev-node");
  EXPECT_EQ(Check("route-method shell\n").reason, "argument not allowed: route-method");
  EXPECT_EQ(Check("ca a.crt b.crt\n").reason, "wrong number of arguments: ca");
  EXPECT_TRUE(Check("dev-node \"OpenVPN TAP-Windows6\"\nauth-user-pass\naskpass\n").accepted);
}

TEST(OpenVpnConfigCheck, FileNamesOutsideTheFolderAreRefusedInEveryForm) {
  const char* const names[] = {
      "..\\ca.crt", "keys/../../ca.crt", "C:\\Windows\\win.ini", "c:ca.crt", "C:", "\\Windows\\win.ini",
      "\\\\server\\share\\ca.crt", "//server/share/ca.crt", "\\\\?\\C:\\ca.crt", "\\\\.\\pipe\\x",
      "ca.crt:stream", "CON", "nul.txt", "keys\\COM1.crt", "LPT9", "aux .crt", "conout$", "ca.crt.", "ca.crt ",
      "keys\\\\ca.crt", "keys\\", "", ".", "a*b", "a?b", "a|b", "a<b",
      "C:\\Users\\bob\\AppData\\Local\\Veltrona VPN2\\ca.crt", "C:\\Users\\bob\\AppData\\Local\\Veltrona VPN",
      "C:\\Users\\bob\\AppData\\Local\\Veltrona VPN\\..\\ca.crt", "[inline]"};
  for (const char* name : names) {
    std::string quoted;
    for (const char* c = name; *c != '\0'; ++c) {
      if (*c == '\\' || *c == '"') quoted.push_back('\\');
      quoted.push_back(*c);
    }
    const ConfigCheckResult result = Check("client\nca \"" + quoted + "\"\n");
    EXPECT_FALSE(result.accepted) << name;
    EXPECT_EQ(result.refused_directive, "ca") << name;
    EXPECT_EQ(result.line, 2u) << name;
  }
  EXPECT_EQ(Check("cert C:/Windows/x.crt\n").reason, "file outside the data folder: cert");
}

TEST(OpenVpnConfigCheck, AbsoluteNamesInsideTheFolderBecomeRelative) {
  const ConfigCheckResult result = Check("ca \"c:/users/BOB/appdata/local/veltrona vpn/./keys/ca.crt\"\n");
  ASSERT_TRUE(result.accepted) << result.reason;
  EXPECT_EQ(result.text, "ca \"keys\\\\ca.crt\"\n");
  // A folder given with a trailing separator compares the same.
  EXPECT_TRUE(CheckOpenVpnConfig("ca \"C:\\\\Data\\\\ca.crt\"\n", u"C:/Data/").accepted);
}

TEST(OpenVpnConfigCheck, ProxyAuthFilesAreConfinedLikeKeys) {
  EXPECT_EQ(Accepted("http-proxy proxy.example 8080 proxy-auth.txt basic\n"),
            "http-proxy proxy.example 8080 \"proxy-auth.txt\" basic\n");
  EXPECT_EQ(Accepted("http-proxy 10.0.0.1 3128 auto\nsocks-proxy 10.0.0.1 1080 stdin\n"),
            "http-proxy 10.0.0.1 3128 auto\nsocks-proxy 10.0.0.1 1080 stdin\n");
  EXPECT_EQ(Check("http-proxy p 8080 C:/Windows/auth.txt\n").reason, "file outside the data folder: http-proxy");
  EXPECT_EQ(Check("socks-proxy p 1080 ../auth.txt\n").refused_directive, "socks-proxy");
  EXPECT_EQ(Check("http-proxy-user-pass //host/auth\n").refused_directive, "http-proxy-user-pass");
}

TEST(OpenVpnConfigCheck, InlineBlocksAreKeptAndCheckedForTheirTag) {
  const char text[] =
      "<ca>\r\n-----BEGIN CERTIFICATE-----\r\nMIIB up evil.bat\r\n-----END CERTIFICATE-----\r\n  </ca>\r\n"
      "--<tls-auth>\n#\n</tls-auth>\nkey-direction 1\ntls-auth [inline] 1\n";
  const ConfigCheckResult result = Check(text);
  ASSERT_TRUE(result.accepted) << result.reason;
  EXPECT_EQ(result.text,
            "<ca>\n-----BEGIN CERTIFICATE-----\nMIIB up evil.bat\n-----END CERTIFICATE-----\n</ca>\n"
            "<tls-auth>\n#\n</tls-auth>\nkey-direction 1\ntls-auth [inline] 1\n");
  EXPECT_TRUE(result.files.empty());

  EXPECT_EQ(Check("<connection>\nremote a\n</connection>\n").reason, "inline block not allowed: connection");
  EXPECT_EQ(Check("<auth-user-pass>\nu\np\n</auth-user-pass>\n").refused_directive, "auth-user-pass");
  EXPECT_EQ(Check("<script-security>\n2\n</script-security>\n").refused_directive, "script-security");
  const ConfigCheckResult open = Check("client\n<key>\nabc\n</ke>\n");
  EXPECT_EQ(open.reason, "unterminated inline block: key");
  EXPECT_EQ(open.line, 2u);
  EXPECT_EQ(Check("<ca>\nx\n</ca> up evil.bat\n").refused_directive, "ca");
  EXPECT_EQ(Check("tls-crypt [inline]\n<ca>\nx\n</ca>\n").reason, "inline marker without an inline block: tls-crypt");
}

TEST(OpenVpnConfigCheck, QuotingFollowsOpenVpnAndIsWrittenBackSafely) {
  EXPECT_EQ(Accepted("ca 'my keys\\ca.crt'\n"), "ca \"my keys\\\\ca.crt\"\n");
  EXPECT_EQ(Accepted("ca my\\ keys/ca.crt\n"), "ca \"my keys\\\\ca.crt\"\n");
  EXPECT_EQ(Accepted("verify-x509-name \"CN=a \\\"b\\\"; #c\" name\n"),
            "verify-x509-name \"CN=a \\\"b\\\"; #c\" name\n");
  // A closing quote ends the token even without a blank after it.
  EXPECT_EQ(Accepted("remote \"a\"1194\n"), "remote a 1194\n");
  EXPECT_EQ(Accepted("remote host#x 1194 # port\n"), "remote \"host#x\" 1194\n");
  EXPECT_EQ(Check("ca \"ca.crt\n").reason, "no closing quotation mark");
  EXPECT_EQ(Check("ca 'ca.crt\n").reason, "no closing quotation mark");
  EXPECT_EQ(Check("ca c:\\keys\\ca.crt\n").reason, "backslash before a character that cannot be escaped");
  EXPECT_EQ(Check("ca ca.crt\\\n").reason, "backslash at the end of a line");
  EXPECT_EQ(Check("remote a b c d e f g h i j k l m n o p\n").reason, "too many arguments");
}

TEST(OpenVpnConfigCheck, CommentsPrefixesAndLineEnds) {
  EXPECT_EQ(Accepted("# one\n  ; two\n\t\n\\# three\n"), "# one\n  ; two\n\t\n\\# three\n");
  EXPECT_EQ(Accepted("\xEF\xBB\xBF--client\r\n--verb 3\r\n"), "client\nverb 3\n");
  EXPECT_EQ(Accepted("client\r\nverb 3"), Accepted("client\nverb 3\n"));
  EXPECT_EQ(Check("--up evil.bat\n").refused_directive, "up");
  EXPECT_EQ(Check("\"up\" evil.bat\n").refused_directive, "up");
  EXPECT_EQ(Check("# \xC3\xA9t\xC3\xA9\nremote h\xC3\xA9\n").reason, "non-ASCII character outside a comment");
}

TEST(OpenVpnConfigCheck, DirectiveNamesAreCaseSensitive) {
  EXPECT_EQ(Check("Client\n").reason, "directive not allowed: Client");
  EXPECT_EQ(Check("CA ca.crt\n").refused_directive, "CA");
}

TEST(OpenVpnConfigCheck, SizeAndCharacterLimits) {
  EXPECT_EQ(Check(std::string("client\nverb 3\0up x\n", 19)).reason, "NUL byte in the configuration");
  EXPECT_EQ(Check("client\n\x1A\n").reason, "control character in the configuration");
  EXPECT_EQ(Check("client\rup x\n").reason, "control character in the configuration");
  // 254 bytes and a line end fit OpenVPN's buffer; one more would be split.
  const std::string fits = "# " + std::string(252, 'x');
  EXPECT_TRUE(Check(fits + "\n").accepted);
  const ConfigCheckResult split = Check("client\n" + fits + "y\n");
  EXPECT_EQ(split.reason, "line too long");
  EXPECT_EQ(split.line, 2u);
  EXPECT_FALSE(Check("<ca>\n" + fits + "y\n</ca>\n").accepted);
  // Rewriting may lengthen a line; it must still fit.
  std::string deep = "ca ";
  for (int i = 0; i < 100; ++i) deep += "a/";
  EXPECT_EQ(Check(deep + "c\n").reason, "line too long after rewriting");
  std::string many;
  for (size_t i = 0; i < kMaxConfigFiles; ++i) many += "ca k" + std::to_string(i) + "\nca K0\n";
  EXPECT_EQ(Check(many).files.size(), kMaxConfigFiles);  // the same file twice counts once
  EXPECT_EQ(Check(many + "ca one-more\n").reason, "too many files: ca");
  std::string big;
  while (big.size() <= kMaxConfigBytes) big += "verb 3\n";
  EXPECT_EQ(Check(big).reason, "configuration larger than 1 MiB");
}

}  // namespace
}  // namespace veltrona::service
