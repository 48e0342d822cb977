// Symbolic names of result codes, for trace and error messages.
#include "diag/result_name.h"

#include <gtest/gtest.h>

#include <cstdint>

#include "diag/trace.h"
#include "platform/dshow.h"

namespace flvdmx {
namespace {

class FlagsScope {
 public:
  explicit FlagsScope(uint32_t flags) : m_saved(g_dwTraceFlags) { g_dwTraceFlags = flags; }
  ~FlagsScope() { g_dwTraceFlags = m_saved; }

 private:
  uint32_t m_saved;
};

TEST(ResultNameTest, NamesFromTheTablesAndTheRanges) {
  EXPECT_TRUE(ResultNameTableIsSorted()) << "the lookup halves the tables";
  struct Case {
    uint32_t code;
    const char* name;
  } cases[] = {
      {0, "S_OK"},
      {1, "S_FALSE"},
      {0x8004022F, "VFW_E_INVALID_FILE_FORMAT"},
      {0x800300FB, "STG_E_INVALIDHEADER"},
      {0x80041234, "0x80041234"},
      // Network errors by their low 16 bits, with the range's ends.
      {0x80072746, "WSAECONNRESET - Connection reset by peer"},
      {0x80072710, "Unknown Winsock error (10000=0x00002710)"},
      {0x80072EDF, "Unknown Winsock error (11999=0x00002EDF)"},
      {0x8007270F, "0x8007270F"},
      {0x80072EE0, "0x80072EE0"},
      // The raster range counts down from 0.
      {0x8005F000, "ORVEXKIT Raster Error (0)"},
      {0x8005FFFF, "ORVEXKIT Raster Error (-4095)"},
      {0x8005EFFF, "0x8005EFFF"},
      {0x80060000, "0x80060000"},
  };
  for (const auto& c : cases)
    EXPECT_STREQ(LookupResultName(static_cast<HRESULT>(c.code)), c.name) << std::hex << c.code;
  // Made texts stand side by side.
  const char* made[2] = {LookupResultName(static_cast<HRESULT>(0x8005F002u)),
                         LookupResultName(static_cast<HRESULT>(0x80072711u))};
  EXPECT_STREQ(made[0], "ORVEXKIT Raster Error (-2)");
  EXPECT_STREQ(made[1], "Unknown Winsock error (10001=0x00002711)");

  FlagsScope off(kTraceGroupedBytes);
  EXPECT_STREQ(GetResultName(E_FAIL), "") << "the trace formatter is empty while tracing is off";
  g_dwTraceFlags = kTraceOn;
  EXPECT_STREQ(GetResultName(E_FAIL), "E_FAIL");
}

}  // namespace
}  // namespace flvdmx
