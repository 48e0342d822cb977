#include "flv/tag_link_fixups.h"

#include <gtest/gtest.h>

#include <utility>
#include <vector>

namespace flvdmx {
namespace {

struct LookupCase {
  const char* name;
  std::vector<std::pair<int64_t, int64_t>> added;  // (key, value) in the order added
  int64_t value;
  int64_t key;  // -1: not found
};

class FixupLookup : public ::testing::TestWithParam<LookupCase> {};

TEST_P(FixupLookup, FindsTheKeyOfAnExactValue) {
  CTagLinkFixups table;
  for (const auto& [k, v] : GetParam().added) ASSERT_EQ(table.Add(k, v), S_OK);
  int64_t key = -1;
  EXPECT_EQ(table.FindPredecessor(GetParam().value, &key), GetParam().key >= 0);
  EXPECT_EQ(key, GetParam().key);
}

INSTANTIATE_TEST_SUITE_P(
    Table, FixupLookup,
    ::testing::Values(LookupCase{"Empty", {}, 100, -1}, LookupCase{"Single", {{10, 100}}, 100, 10},
                      LookupCase{"ValueNoPairHolds", {{10, 100}, {200, 300}}, 150, -1},
                      LookupCase{"AddedOutOfOrder", {{200, 300}, {10, 100}, {100, 200}}, 200, 100},
                      // The walk from the smallest key stops at the first value above the
                      // one sought, even when a later pair holds it.
                      LookupCase{"StopsAtFirstHigherValue", {{10, 500}, {20, 50}}, 50, -1},
                      LookupCase{"LowerValuesWalkedPast", {{10, 40}, {20, 50}, {30, 45}}, 50, 20},
                      LookupCase{"InsertionBeforeHigherValue", {{20, 50}, {10, 500}}, 50, -1},
                      LookupCase{"DuplicateKeyKeepsFirst", {{10, 100}, {10, 120}}, 120, -1}),
    [](const auto& info) { return info.param.name; });

TEST(FixupTable, ManyPairsAddedBackwardsStayFindableUntilCleared) {
  CTagLinkFixups table;
  for (int64_t k = 1000; k > 0; --k) ASSERT_EQ(table.Add(k * 10, k * 10 + 7), S_OK);
  ASSERT_EQ(table.Add(10, 99), S_OK);
  EXPECT_EQ(table.Count(), 1000u);
  for (int64_t k = 1; k <= 1000; ++k) {
    int64_t key = 0;
    ASSERT_TRUE(table.FindPredecessor(k * 10 + 7, &key)) << k;
    EXPECT_EQ(key, k * 10);
  }
  table.Clear();
  EXPECT_FALSE(table.FindPredecessor(17, nullptr));
}

}  // namespace
}  // namespace flvdmx
