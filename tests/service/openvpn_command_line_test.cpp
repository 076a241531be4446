#include "service/openvpn_command_line.h"

#include <gtest/gtest.h>

namespace veltrona::service {
namespace {

TEST(OpenVpnCommandLine, IsTheFixedOptionsAroundTheQuotedConfigPath) {
  EXPECT_EQ(BuildOpenVpnCommandLine(u"C:\\ProgramData\\Veltrona VPN\\session\\Veltrona.ovpn"),
            u" --config \"C:\\ProgramData\\Veltrona VPN\\session\\Veltrona.ovpn\" --service Global\\VTOpenVPNExit 0 "
            u"--management 127.0.0.1 13247 --management-hold --management-query-passwords --tls-exit");
}

TEST(OpenVpnCommandLine, RefusesPathsThatWouldBreakTheQuotingOrTheLimit) {
  EXPECT_FALSE(BuildOpenVpnCommandLine(u"C:\\a\" --up evil.exe \"").has_value());
  EXPECT_FALSE(BuildOpenVpnCommandLine(u"C:\\folder\\").has_value());
  EXPECT_FALSE(BuildOpenVpnCommandLine(u"").has_value());
  const size_t fixed = BuildOpenVpnCommandLine(u"x")->size() - 1;
  EXPECT_TRUE(BuildOpenVpnCommandLine(std::u16string(1023 - fixed, u'x')).has_value());
  EXPECT_FALSE(BuildOpenVpnCommandLine(std::u16string(1024 - fixed, u'x')).has_value());
}

}  // namespace
}  // namespace veltrona::service
