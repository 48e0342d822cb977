// The output pin's side of a connection: allocator negotiation and the trace
// line of a completed connection.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include "diag/trace.h"
#include "platform/mediatypes.h"
#include "support/test_filters.h"

namespace flvdmx {
namespace {

TEST_F(PinPairTest, AllocatorRefusalsFailTheConnection) {
  m_pOut->m_Script.offered.push_back(MakeMediaType(MEDIATYPE_Video, GUID_NULL));
  m_pOut->m_Request.cbAlign = 3;  // VFW_E_BADALIGN from either allocator
  EXPECT_EQ(m_pOut->Connect(m_pIn, nullptr), VFW_E_BADALIGN);
  EXPECT_EQ(m_pOut->GetAllocatorNoRef(), nullptr);
  m_pOut->m_Request.cbAlign = 1;
  m_pIn->m_hrNotifyAllocator = VFW_E_NO_ALLOCATOR;  // refuses ours and its own
  EXPECT_EQ(m_pOut->Connect(m_pIn, nullptr), VFW_E_NO_ALLOCATOR);
  EXPECT_FALSE(m_pOut->IsConnected());
  EXPECT_FALSE(m_pIn->IsConnected());
}

TEST_F(PinPairTest, CompletedConnectionTracesThePinAndItsMediaType) {
  const std::string path = ::testing::TempDir() + "output_pin_trace.txt";
  std::remove(path.c_str());
  ASSERT_EQ(SetTraceFilePath(path.c_str()), S_OK);
  const uint32_t dwSavedFlags = g_dwTraceFlags;
  m_pOut->m_Script.offered.push_back(MakeMediaType(MEDIATYPE_Audio, GUID_NULL));
  g_dwTraceFlags = kTraceOn | kTraceFile;
  const HRESULT hr = m_pOut->Connect(m_pIn, nullptr);
  g_dwTraceFlags = dwSavedFlags;
  CloseTraceWriter();
  ASSERT_EQ(hr, S_OK);
  std::ostringstream text;
  text << std::ifstream(path).rdbuf();
  EXPECT_NE(text.str().find("Out: connected with Type=MEDIATYPE_Audio"), std::string::npos)
      << text.str();
  std::remove(path.c_str());
}

}  // namespace
}  // namespace flvdmx
