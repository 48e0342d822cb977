#include "diag/result_name.h"

#include <gtest/gtest.h>

#include "platform/dshow.h"

namespace flvdmx {
namespace {

TEST(ResultNameTest, TableIsSortedForHalvingSearch) { EXPECT_TRUE(ResultNameTableIsSorted()); }

TEST(ResultNameTest, KnownAndUnknownCodes) {
  struct Case {
    HRESULT hr;
    const char* name;
  } cases[] = {
      {S_OK, "S_OK"},
      {S_FALSE, "S_FALSE"},
      {VFW_E_INVALID_FILE_FORMAT, "VFW_E_INVALID_FILE_FORMAT"},
      {E_UNEXPECTED, "E_UNEXPECTED"},
      {STG_E_INVALIDHEADER, "STG_E_INVALIDHEADER"},
      {static_cast<HRESULT>(0x80041234u), "0x80041234"},
  };
  for (const auto& c : cases) EXPECT_STREQ(LookupResultName(c.hr), c.name);
}

}  // namespace
}  // namespace flvdmx
