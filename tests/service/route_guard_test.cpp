#include "service/route_guard.h"

#include <gtest/gtest.h>

#include <vector>

#include "tests/route_rows.h"

namespace veltrona::service {
namespace {

using test_support::Ip;
using test_support::Route;

TEST(ChooseRoutes, TunnelGatewayIsTenDotTwoThreeFiveDotZeroDotOne) {
  EXPECT_EQ(kTunnelGateway, Ip(10, 235, 0, 1));
}

TEST(ChooseRoutes, OtherDefaultRoutesAreExtraOnlyBesideTheTunnelRoute) {
  const RouteRow local = Route(0, 0, Ip(192, 168, 1, 1), 7);
  const RouteRow tunnel = Route(0, 0, kTunnelGateway, 12);
  const RouteRow lan = Route(Ip(192, 168, 1, 0), Ip(255, 255, 255, 0), 0, 7);
  const std::vector<RouteRow> table = {lan, local, tunnel};
  const RouteDecision decision = ChooseRoutes(table);
  EXPECT_TRUE(decision.tunnel_route_found);
  EXPECT_EQ(decision.extra_routes, std::vector<RouteRow>{local});

  const std::vector<RouteRow> without_tunnel = {lan, local};
  EXPECT_FALSE(ChooseRoutes(without_tunnel).tunnel_route_found);
}

TEST(ChooseRoutes, AnyMaskCountsAndOnlyDestinationZeroIsConsidered) {
  const RouteRow half_default = Route(0, Ip(128, 0, 0, 0), Ip(192, 168, 1, 1));
  const RouteRow tunnel_half = Route(0, Ip(128, 0, 0, 0), kTunnelGateway);
  const RouteRow tunnel_full = Route(0, 0, kTunnelGateway);
  const RouteRow upper_half = Route(Ip(128, 0, 0, 0), Ip(128, 0, 0, 0), Ip(192, 168, 1, 1));
  const RouteRow second_default = Route(0, 0, Ip(172, 16, 0, 1), 9);
  const std::vector<RouteRow> table = {half_default, tunnel_half, upper_half, tunnel_full, second_default};
  const RouteDecision decision = ChooseRoutes(table);
  EXPECT_TRUE(decision.tunnel_route_found);
  // Table order is kept; routes through the tunnel are never extra.
  EXPECT_EQ(decision.extra_routes, (std::vector<RouteRow>{half_default, second_default}));
}

TEST(RouteJournal, RowsSurviveTheRoundTripFieldForField) {
  RouteRow odd = Route(0, 0, 0xFFFFFFFF, 0x80000001);
  odd.policy = 1;
  odd.age = 12345;
  odd.next_hop_as = 7;
  for (uint32_t i = 0; i < 5; ++i) odd.metric[i] = 0xFFFFFFF0 + i;
  const std::vector<RouteRow> rows = {Route(0, 0, Ip(192, 168, 1, 1), 7), odd};
  EXPECT_EQ(DecodeRouteJournal(EncodeRouteJournal(rows)), rows);
  EXPECT_TRUE(DecodeRouteJournal("").empty());
}

TEST(RouteJournal, DamagedLinesAreSkippedAndGoodOnesKept) {
  const std::vector<RouteRow> rows = {Route(0, 0, Ip(192, 168, 1, 1), 7)};
  const std::string good = EncodeRouteJournal(rows);
  const std::string text = "garbage\r\n" + good.substr(0, 20) + "\n" + good + "00000000 zz\n" +
                           "0 0 0 0 0 0 0 0 0 0 0 0 0 0\n" + "100000000" + good.substr(8);
  EXPECT_EQ(DecodeRouteJournal(text), rows);
  // A journal cut in the middle of its last line keeps the complete ones.
  EXPECT_EQ(DecodeRouteJournal(good + good.substr(0, good.size() - 5)), rows);
}

TEST(RouteJournal, DescribesRoutesForTheLog) {
  EXPECT_EQ(DescribeRoute(Route(0, 0, Ip(192, 168, 1, 1), 7)), "0.0.0.0 mask 0.0.0.0 via 192.168.1.1 on interface 7");
}

}  // namespace
}  // namespace veltrona::service
