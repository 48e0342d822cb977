#include "flv/tag_link_fixups.h"

#include <gtest/gtest.h>

#include <utility>
#include <vector>

namespace flvdmx {
namespace {

TEST(FixupTable, FindsTheKeyOfAnExactValue) {
  const struct {
    const char* name;
    std::vector<std::pair<int64_t, int64_t>> added;  // (key, value) in the order added
    int64_t value;
    int64_t key;  // -1: not found
  } cases[] = {
      {"Empty", {}, 100, -1},
      {"ValueNoPairHolds", {{10, 100}, {200, 300}}, 150, -1},
      {"AddedOutOfOrder", {{200, 300}, {10, 100}, {100, 200}}, 200, 100},
      // A long tag's link over a second chain must not hide that chain's links.
      {"FoundBehindAnEarlierHigherValue", {{10, 500}, {20, 50}}, 50, 20},
      {"LowerValuesWalkedPast", {{10, 40}, {20, 50}, {30, 45}}, 50, 20},
      {"SameFollowerKeepsTheFirstLink", {{30, 50}, {20, 50}, {40, 60}}, 50, 30},
      // A tag before a resynchronisation can lead to its natural follower and to the resumed tag.
      {"KeyWithTwoFollowers", {{10, 100}, {10, 120}}, 120, 10},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    CTagLinkFixups table;
    for (const auto& [k, v] : c.added) ASSERT_EQ(table.Add(k, v), S_OK);
    int64_t key = -1;
    EXPECT_EQ(table.FindPredecessor(c.value, &key), c.key >= 0);
    EXPECT_EQ(key, c.key);
  }
}

}  // namespace
}  // namespace flvdmx
