// The host graph on scripted filters: the order of state changes.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "baseclasses/unknown.h"
#include "host/graph.h"
#include "platform/mediatypes.h"
#include "support/test_filters.h"

namespace flvdmx {
namespace {

// A scripted filter that logs each state change and can refuse Pause.
class CLoggingFilter : public CTestFilter {
 public:
  CLoggingFilter(std::vector<std::string>* pLog, const char* name) : m_pLog(pLog), m_Name(name) {}

  STDMETHODIMP Stop() override { return Log("stop"), CTestFilter::Stop(); }
  STDMETHODIMP Pause() override { return Log("pause"), FAILED(m_hrPause) ? m_hrPause : CTestFilter::Pause(); }
  STDMETHODIMP Run(REFERENCE_TIME tStart) override { return Log("run"), CTestFilter::Run(tStart); }
  void Log(const char* verb) { m_pLog->push_back(verb + (" " + m_Name)); }

  HRESULT m_hrPause = S_OK;

 private:
  std::vector<std::string>* const m_pLog;
  const std::string m_Name;
};

// source -> mid -> two sinks, added upstream first, so that a graph walking
// its filters in the order they were added would get every order wrong.
class GraphTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(CHostGraph::Create(&m_pGraph), S_OK);
    for (const char* name : {"source", "mid", "sinkA", "sinkB"}) {
      m_Filters.push_back(new CLoggingFilter(&m_Log, name));
      m_Filters.back()->AddRef();
      ASSERT_EQ(m_pGraph->AddFilter(m_Filters.back()->AsBaseFilter(), nullptr), S_OK);
    }
    for (auto [up, down] : {std::pair{0, 1}, {1, 2}, {1, 3}}) {
      CTestOutputPin* pOut = m_Filters[up]->AddOutputPin(L"Out");
      pOut->m_Script.offered.push_back(MakeMediaType(MEDIATYPE_Video, FourccGuid(MakeFourcc('G', 'R', 'P', 'H'))));
      ASSERT_EQ(m_pGraph->Connect(pOut, m_Filters[down]->AddInputPin(L"In")), S_OK);
    }
    m_Log.clear();
  }

  void TearDown() override {
    m_pGraph->Release();
    for (CLoggingFilter* f : m_Filters) f->Release();
    ExpectObjectsActive(m_cBefore);
  }

  size_t Position(const std::string& entry) {
    auto it = std::find(m_Log.begin(), m_Log.end(), entry);
    EXPECT_NE(it, m_Log.end()) << entry << " is missing";
    return static_cast<size_t>(it - m_Log.begin());
  }

  void ExpectDownstreamFirst(const std::string& verb) {
    EXPECT_LT(Position(verb + " sinkA"), Position(verb + " mid"));
    EXPECT_LT(Position(verb + " sinkB"), Position(verb + " mid"));
    EXPECT_LT(Position(verb + " mid"), Position(verb + " source"));
  }

  const LONG m_cBefore = CUnknown::ObjectsActive();
  std::vector<std::string> m_Log;
  std::vector<CLoggingFilter*> m_Filters;
  CHostGraph* m_pGraph = nullptr;
};

TEST_F(GraphTest, StateChangesGoDownstreamFirstAndRunPausesEveryFilterFirst) {
  ASSERT_EQ(m_pGraph->Run(), S_OK);
  ExpectDownstreamFirst("pause");
  ExpectDownstreamFirst("run");
  EXPECT_LT(Position("pause source"), Position("run sinkA"));
  m_Log.clear();
  ASSERT_EQ(m_pGraph->Stop(), S_OK);
  ExpectDownstreamFirst("stop");
}

TEST_F(GraphTest, AFilterThatCannotPauseStopsTheWholeGraph) {
  m_Filters[1]->m_hrPause = E_FAIL;
  EXPECT_EQ(m_pGraph->Run(), E_FAIL);
  EXPECT_EQ(m_pGraph->GetState(), State_Stopped);
  EXPECT_EQ(std::count(m_Log.begin(), m_Log.end(), "pause source"), 0);
  for (CLoggingFilter* f : m_Filters) EXPECT_TRUE(f->IsStopped());
}

}  // namespace
}  // namespace flvdmx
