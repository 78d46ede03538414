#include "screen/route_texts.h"

#include <gtest/gtest.h>

namespace dg::screen {
namespace {

std::vector<std::string> Stops(int n) {
  std::vector<std::string> out;
  for (int k = 1; k <= n; ++k) out.push_back("A" + std::to_string(k));
  return out;
}

std::string Chain(int from, int to) {
  std::string out;
  for (int k = from; k <= to; ++k) out += " to: A" + std::to_string(k);
  return out;
}

TEST(RouteTextsTest, SplitsStopsIntoTextsOfTwenty) {
  const struct {
    int stops;
    RouteTexts want;
  } cases[] = {
      {0, {"from: B", "", "", "", ""}},
      {20, {"from: B" + Chain(1, 20), "", "", "", ""}},
      {21, {"from: B" + Chain(1, 20), "to: A20 to: A21", "", "", ""}},
      {45,
       {"from: B" + Chain(1, 20), "to: A20" + Chain(21, 40), "to: A40" + Chain(41, 45), "", ""}},
      {100,
       {"from: B" + Chain(1, 20), "to: A20" + Chain(21, 40), "to: A40" + Chain(41, 60),
        "to: A60" + Chain(61, 80), "to: A80" + Chain(81, 100)}},
  };
  for (const auto& c : cases)
    EXPECT_EQ(BuildRouteTexts("B", Stops(c.stops), std::nullopt), c.want) << c.stops << " stops";
}

TEST(RouteTextsTest, ReturnLegEndsTheFirstText) {
  const RouteTexts r = BuildRouteTexts("B", Stops(21), std::string("T"));
  EXPECT_EQ(r[0], "from: B" + Chain(1, 20) + " to: T");
  EXPECT_EQ(r[1], "to: A20 to: A21");
  EXPECT_EQ(BuildRouteTexts("B", {"X"}, std::string("B"))[0], "from: B to: X to: B");
}

TEST(RouteTextsTest, EmptyAddressStillAddsItsPiece) {
  EXPECT_EQ(BuildRouteTexts("B", {"", "Y"}, std::nullopt)[0], "from: B to:  to: Y");
}

}  // namespace
}  // namespace dg::screen
