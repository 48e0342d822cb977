// The connection protocol between two scripted pins: which media type they
// agree on, and which refusal a failed connection reports.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/mediatypes.h"
#include "support/test_filters.h"

namespace flvdmx {
namespace {

// Subtypes are letters: 'A' stands for the subtype AAAA.
GUID Sub(char c) { return FourccGuid(MakeFourcc(c, c, c, c)); }
std::vector<GUID> Subs(const char* letters) {
  std::vector<GUID> subtypes;
  for (const char* p = letters; *p; ++p) subtypes.push_back(Sub(*p));
  return subtypes;
}
const GUID kSubA = Sub('A'), kSubB = Sub('B'), kSubC = Sub('C');

struct AgreementCase {
  const char* name;
  const char *outOffers, *inOffers;    // each pin's own types
  const char *outAccepts, *inAccepts;  // empty: accepts all
  bool tryMyTypesFirst;
  char partialSubtype;  // Connect's type: video with this subtype; 0: none
  HRESULT hr;
  char agreed;  // 0 when the connection fails
};

class MediaTypeAgreementTest : public PinPairTest,
                               public ::testing::WithParamInterface<AgreementCase> {};

TEST_P(MediaTypeAgreementTest, PicksTheFirstTypeBothSidesAccept) {
  const AgreementCase& c = GetParam();
  for (const GUID& g : Subs(c.outOffers))
    m_pOut->m_Script.offered.push_back(MakeMediaType(MEDIATYPE_Video, g));
  for (const GUID& g : Subs(c.inOffers))
    m_pIn->m_Script.offered.push_back(MakeMediaType(MEDIATYPE_Video, g));
  m_pOut->m_Script.acceptedSubtypes = Subs(c.outAccepts);
  m_pIn->m_Script.acceptedSubtypes = Subs(c.inAccepts);
  m_pOut->SetTryMyTypesFirst(c.tryMyTypesFirst);

  CMediaType partial =
      MakeMediaType(MEDIATYPE_Video, c.partialSubtype ? Sub(c.partialSubtype) : GUID_NULL);
  EXPECT_EQ(m_pOut->Connect(m_pIn, c.partialSubtype ? &partial : nullptr), c.hr);
  if (c.agreed == 0) {
    EXPECT_FALSE(m_pOut->IsConnected());
    EXPECT_FALSE(m_pIn->IsConnected());
    EXPECT_GE(m_pOut->m_Script.cBreakConnect, 1);
  } else {
    ASSERT_TRUE(m_pOut->IsConnected());
    EXPECT_EQ(*m_pOut->CurrentMediaType().Subtype(), Sub(c.agreed));
    EXPECT_EQ(*m_pIn->CurrentMediaType().Subtype(), Sub(c.agreed));
    EXPECT_EQ(m_pIn->GetConnected(), static_cast<IPin*>(m_pOut));
  }
}

const AgreementCase kAgreements[] = {
    {"PeerTypesGoFirst", "A", "B", "", "", false, 0, S_OK, 'B'},
    {"OwnTypesFirstWhenAsked", "A", "B", "", "", true, 0, S_OK, 'A'},
    {"PeerTypeRefusedHereFallsToOwn", "A", "B", "A", "", false, 0, S_OK, 'A'},
    {"PartialTypeFiltersOffers", "AC", "B", "", "", false, 'C', S_OK, 'C'},
    {"NothingInCommon", "A", "B", "A", "B", false, 0, VFW_E_NO_ACCEPTABLE_TYPES, 0},
    {"PartialTypeMatchingNothing", "A", "B", "", "", false, 'C', VFW_E_NO_ACCEPTABLE_TYPES, 0},
};
INSTANTIATE_TEST_SUITE_P(Cases, MediaTypeAgreementTest, ::testing::ValuesIn(kAgreements),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(PinPairTest, MostTellingRefusalWinsOverVagueOnes) {
  m_pOut->m_Script.offered.push_back(MakeMediaType(MEDIATYPE_Video, kSubA));
  m_pOut->m_Script.offered.push_back(MakeMediaType(MEDIATYPE_Video, kSubB));
  m_pIn->m_Script.acceptedSubtypes = {kSubC};
  const struct {
    HRESULT refusal, expected;
  } cases[] = {{S_FALSE, VFW_E_NO_ACCEPTABLE_TYPES},
               {E_INVALIDARG, VFW_E_NO_ACCEPTABLE_TYPES},
               {VFW_E_INVALIDMEDIATYPE, VFW_E_INVALIDMEDIATYPE},
               {E_OUTOFMEMORY, E_OUTOFMEMORY}};
  for (const auto& c : cases) {
    m_pIn->m_Script.hrRefuse = c.refusal;
    EXPECT_EQ(m_pOut->Connect(m_pIn, nullptr), c.expected) << std::hex << c.refusal;
    EXPECT_FALSE(m_pOut->IsConnected());
  }
}

// Callers test QueryAccept with SUCCEEDED(): every refusal must be S_FALSE,
// including a success code that is not S_OK.
TEST_F(PinPairTest, QueryAcceptAnswersOnlyOkOrFalse) {
  m_pOut->m_Script.acceptedSubtypes = {kSubA};
  const CMediaType accepted = MakeMediaType(MEDIATYPE_Video, kSubA);
  const CMediaType refused = MakeMediaType(MEDIATYPE_Video, kSubB);
  for (HRESULT refusal : {S_FALSE, VFW_S_NO_MORE_ITEMS, E_FAIL, VFW_E_TYPE_NOT_ACCEPTED}) {
    m_pOut->m_Script.hrRefuse = refusal;
    EXPECT_EQ(m_pOut->QueryAccept(&refused), S_FALSE) << std::hex << refusal;
    EXPECT_EQ(m_pOut->QueryAccept(&accepted), S_OK);
  }
  EXPECT_EQ(m_pOut->QueryAccept(nullptr), E_POINTER);
}

TEST_F(PinPairTest, ConnectionRefusalsLeaveBothSidesUnconnected) {
  m_pOut->m_Script.offered.push_back(MakeMediaType(MEDIATYPE_Video, kSubA));
  CTestOutputPin* pOther = m_pDown->AddOutputPin(L"Other");
  EXPECT_EQ(m_pOut->Connect(pOther, nullptr), VFW_E_INVALID_DIRECTION);

  // A failing CompleteConnect on the receiving side undoes everything.
  m_pIn->m_Script.hrCompleteConnect = E_ABORT;
  EXPECT_EQ(m_pOut->Connect(m_pIn, nullptr), E_ABORT);
  EXPECT_FALSE(m_pOut->IsConnected());
  EXPECT_FALSE(m_pIn->IsConnected());
  EXPECT_GE(m_pIn->m_Script.cBreakConnect, 1);

  // And so does one on the connecting side, which gives the peer back.
  m_pIn->m_Script.hrCompleteConnect = S_OK;
  m_pOut->m_Script.hrCompleteConnect = E_ABORT;
  EXPECT_EQ(m_pOut->Connect(m_pIn, nullptr), E_ABORT);
  EXPECT_FALSE(m_pOut->IsConnected());
  EXPECT_FALSE(m_pIn->IsConnected());
}

}  // namespace
}  // namespace flvdmx
