#include "diag/result_name.h"

#include <gtest/gtest.h>

#include <string>

#include "diag/trace.h"
#include "platform/dshow.h"

namespace flvdmx {
namespace {

TEST(ResultNameTest, TablesAreSortedForHalvingSearch) { EXPECT_TRUE(ResultNameTableIsSorted()); }

TEST(ResultNameTest, NamesFromTheTablesAndTheRanges) {
  struct Case {
    uint32_t code;
    const char* name;
  } cases[] = {
      {0, "S_OK"},
      {1, "S_FALSE"},
      {0x8004022F, "VFW_E_INVALID_FILE_FORMAT"},
      {0x8000FFFF, "E_UNEXPECTED"},
      {0x800300FB, "STG_E_INVALIDHEADER"},
      {0x80041234, "0x80041234"},
      // Network errors by their low 16 bits, with the range's ends.
      {0x80072746, "WSAECONNRESET - Connection reset by peer"},
      {0x80072AF9, "WSAHOST_NOT_FOUND - Host not found"},
      {0x80072710, "Unknown Winsock error (10000=0x00002710)"},
      {0x80072EDF, "Unknown Winsock error (11999=0x00002EDF)"},
      {0x8007270F, "0x8007270F"},
      {0x80072EE0, "0x80072EE0"},
      // The raster range counts down from 0.
      {0x8005F000, "ORVEXKIT Raster Error (0)"},
      {0x8005F001, "ORVEXKIT Raster Error (-1)"},
      {0x8005FFFF, "ORVEXKIT Raster Error (-4095)"},
      {0x8005EFFF, "0x8005EFFF"},
      {0x80060000, "0x80060000"},
  };
  for (const auto& c : cases)
    EXPECT_STREQ(LookupResultName(static_cast<HRESULT>(c.code)), c.name) << std::hex << c.code;
}

TEST(ResultNameTest, MadeTextsForSeveralCodesStandSideBySide) {
  const std::string a = LookupResultName(static_cast<HRESULT>(0x80041234u));
  const char* b = LookupResultName(static_cast<HRESULT>(0x8005F002u));
  const char* c = LookupResultName(static_cast<HRESULT>(0x80072711u));
  const char* d = LookupResultName(static_cast<HRESULT>(0x80045678u));
  EXPECT_EQ(a, "0x80041234");
  EXPECT_STREQ(b, "ORVEXKIT Raster Error (-2)");
  EXPECT_STREQ(c, "Unknown Winsock error (10001=0x00002711)");
  EXPECT_STREQ(d, "0x80045678");
}

TEST(ResultNameTest, TraceFormatterIsEmptyWhileTracingIsOff) {
  const uint32_t saved = g_dwTraceFlags;
  g_dwTraceFlags = kTraceGroupedBytes;
  EXPECT_STREQ(GetResultName(E_FAIL), "");
  g_dwTraceFlags = kTraceOn;
  EXPECT_STREQ(GetResultName(E_FAIL), "E_FAIL");
  g_dwTraceFlags = saved;
}

}  // namespace
}  // namespace flvdmx
