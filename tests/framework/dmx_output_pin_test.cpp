// CBaseDmxOutputPin while connecting and connected (no thread running): the
// media type offer and check, allocator negotiation through the filter,
// the reader reference, delivery without a peer, naming and interfaces.
#include <gtest/gtest.h>

#include "dmx_test_doubles.h"

namespace flvdmx::fwtest {
namespace {

TEST(DmxOutputPin, PinWithoutAStreamOffersNothingAndCannotConnect) {
  Rig rig(0);
  ASSERT_EQ(rig.ConnectInput(), S_OK);
  ASSERT_EQ(rig.Dmx()->AddOutputPin(), S_OK);
  CBaseDmxOutputPin* pPin = rig.Output(0);
  CMediaType mt;
  EXPECT_EQ(pPin->GetMediaType(0, &mt), E_UNEXPECTED);
  const CMediaType offered = OutputType('1');
  EXPECT_EQ(pPin->CheckMediaType(&offered), E_UNEXPECTED);
  EXPECT_TRUE(FAILED(rig.ConnectOutput(0)));
  EXPECT_FALSE(pPin->IsConnected());
}

struct CheckCase {
  const char* name;
  int cOffered;    // types offered: 'A', then 'B'
  char cProposed;  // 'A', 'B' or 'C'
  HRESULT hrExpected;
};

class OutputTypeCheck : public testing::TestWithParam<CheckCase> {};

TEST_P(OutputTypeCheck, ComparesWithTheFirstTwoOffers) {
  Rig rig(1);
  ASSERT_EQ(rig.ConnectInput(), S_OK);
  auto& offers = rig.Dmx()->m_Offers[1];
  offers.clear();
  for (int i = 0; i < GetParam().cOffered; ++i) offers.push_back(OutputType(static_cast<char>('A' + i)));
  const CMediaType proposed = OutputType(GetParam().cProposed);
  EXPECT_EQ(rig.Output(0)->CheckMediaType(&proposed), GetParam().hrExpected);
}

INSTANTIATE_TEST_SUITE_P(
    DmxOutputPin, OutputTypeCheck,
    testing::Values(CheckCase{"FirstOffer", 2, 'A', S_OK}, CheckCase{"SecondOffer", 2, 'B', S_OK},
                    CheckCase{"Unrelated", 2, 'C', S_FALSE},
                    CheckCase{"SecondPositionMissing", 1, 'B', VFW_S_NO_MORE_ITEMS},
                    CheckCase{"NothingOffered", 0, 'A', VFW_S_NO_MORE_ITEMS},
                    CheckCase{"ThirdOfferIsNotLookedAt", 3, 'C', S_FALSE}),
    [](const testing::TestParamInfo<CheckCase>& info) { return std::string(info.param.name); });

TEST(DmxOutputPin, ConnectionUsesTheOfferTheFilterBuffersAndTheReader) {
  Rig rig(1);
  ASSERT_EQ(rig.ConnectInput(), S_OK);
  const int cReaderRefs = rig.Reader()->RefCount();
  rig.Dmx()->SetMainSeekingPin(rig.Output(0));
  ASSERT_EQ(rig.ConnectOutput(0), S_OK);
  CBaseDmxOutputPin* pPin = rig.Output(0);

  AM_MEDIA_TYPE mt{};
  ASSERT_EQ(pPin->ConnectionMediaType(&mt), S_OK);
  EXPECT_EQ(mt.subtype, OutputType('1').subtype);
  FreeMediaType(mt);

  EXPECT_EQ(rig.Dmx()->cDecideBufferSize, 1);
  ALLOCATOR_PROPERTIES props{};
  ASSERT_NE(pPin->GetAllocatorNoRef(), nullptr);
  ASSERT_EQ(pPin->GetAllocatorNoRef()->GetProperties(&props), S_OK);
  EXPECT_EQ(props.cBuffers, 1);
  EXPECT_GE(props.cbBuffer, 8192);
  EXPECT_EQ(props.cbAlign, 4);

  EXPECT_EQ(pPin->GetReaderNoRef(), static_cast<IAsyncReader*>(rig.Reader()));
  EXPECT_EQ(rig.Reader()->RefCount(), cReaderRefs + 1) << "the pin's own reference";
  EXPECT_EQ(rig.Dmx()->cCompleteConnect[1], 1) << "told with pin number 1";
  EXPECT_EQ(rig.Dmx()->GetMainSeekingPin(), nullptr) << "a connection change forgets it";

  ASSERT_EQ(pPin->Disconnect(), S_OK);
  EXPECT_EQ(rig.Dmx()->cBreakConnect[1], 1);
  EXPECT_EQ(pPin->GetReaderNoRef(), nullptr);
  EXPECT_EQ(pPin->GetAllocatorNoRef(), nullptr);
  EXPECT_EQ(rig.Reader()->RefCount(), cReaderRefs);
}

TEST(DmxOutputPin, FilterCanRefuseThePeer) {
  Rig rig(1);
  ASSERT_EQ(rig.ConnectInput(), S_OK);
  rig.Dmx()->m_hrCheckConnect = VFW_E_NO_ACCEPTABLE_TYPES;
  EXPECT_TRUE(FAILED(rig.ConnectOutput(0)));
  EXPECT_FALSE(rig.Output(0)->IsConnected());
  EXPECT_EQ(rig.Output(0)->GetReaderNoRef(), nullptr);
}

TEST(DmxOutputPin, FilterBufferRequestReachesTheAllocator) {
  Rig rig(1);
  ASSERT_EQ(rig.ConnectInput(), S_OK);
  rig.Dmx()->m_bOwnBufferRequest = true;
  rig.Dmx()->m_BufferRequest = ALLOCATOR_PROPERTIES{6, 20000, 1, 0};
  ASSERT_EQ(rig.ConnectOutput(0), S_OK);
  ALLOCATOR_PROPERTIES props{};
  ASSERT_EQ(rig.Output(0)->GetAllocatorNoRef()->GetProperties(&props), S_OK);
  EXPECT_EQ(props.cBuffers, 6);
  EXPECT_GE(props.cbBuffer, 20000);
}

TEST(DmxOutputPin, DeliveryWithoutAPeerIsNotConnected) {
  Rig rig(1);
  ASSERT_EQ(rig.ConnectInput(), S_OK);
  CBaseDmxOutputPin* pPin = rig.Output(0);
  EXPECT_EQ(pPin->DeliverEndOfStream(), VFW_E_NOT_CONNECTED);
  EXPECT_EQ(pPin->DeliverBeginFlush(), VFW_E_NOT_CONNECTED);
  EXPECT_EQ(pPin->DeliverEndFlush(), VFW_E_NOT_CONNECTED);
  EXPECT_EQ(pPin->DeliverNewSegment(0, 1, 1.0), VFW_E_NOT_CONNECTED);
  EXPECT_EQ(pPin->Deliver(nullptr), VFW_E_NOT_CONNECTED);
  IMediaSample* pSample = nullptr;
  EXPECT_EQ(pPin->GetDeliveryBuffer(&pSample, nullptr, nullptr, 0), E_NOINTERFACE);
  EXPECT_EQ(pPin->Notify(rig.Dmx()->AsFilter(), Quality{}), S_OK);
  EXPECT_EQ(pPin->Active(), E_UNEXPECTED) << "nothing to start";
  EXPECT_EQ(pPin->Inactive(), S_OK);
}

TEST(DmxOutputPin, FanOutReachesOnlyConnectedPins) {
  Rig rig(2);
  ASSERT_EQ(rig.ConnectInput(), S_OK);
  ASSERT_EQ(rig.ConnectOutput(1), S_OK);
  rig.Dmx()->DeliverBeginFlush();
  rig.Dmx()->DeliverEndFlush();
  rig.Dmx()->DeliverNewSegment(10, 20, 2.0);
  rig.Dmx()->DeliverEndOfStream();
  EXPECT_EQ(rig.Sink(0)->cBeginFlush + rig.Sink(0)->cEndFlush + rig.Sink(0)->cNewSegment +
                rig.Sink(0)->cEndOfStream,
            0);
  EXPECT_EQ(rig.Sink(1)->cBeginFlush, 1);
  EXPECT_EQ(rig.Sink(1)->cEndFlush, 1);
  EXPECT_EQ(rig.Sink(1)->cNewSegment, 1);
  EXPECT_EQ(rig.Sink(1)->CurrentStartTime(), 10);
  EXPECT_EQ(rig.Sink(1)->CurrentStopTime(), 20);
  EXPECT_EQ(rig.Sink(1)->CurrentRate(), 2.0);
  EXPECT_EQ(rig.Sink(1)->cEndOfStream, 1);
}

TEST(DmxOutputPin, RenamedPinIsFoundByItsNewName) {
  Rig rig(0);
  ASSERT_EQ(rig.Dmx()->AddOutputPin(), S_OK);
  CBaseDmxOutputPin* pPin = rig.Output(0);
  EXPECT_EQ(pPin->SetName(nullptr), E_POINTER);
  ASSERT_EQ(pPin->SetName(L"Subtitles"), S_OK);
  IPin* pFound = nullptr;
  ASSERT_EQ(rig.Dmx()->FindPin(L"Subtitles", &pFound), S_OK);
  EXPECT_EQ(pFound, static_cast<IPin*>(pPin));
  pFound->Release();
  PIN_INFO info{};
  ASSERT_EQ(pPin->QueryPinInfo(&info), S_OK);
  EXPECT_STREQ(info.achName, L"Subtitles");
  EXPECT_EQ(info.dir, PINDIR_OUTPUT);
  info.pFilter->Release();
}

struct InterfaceCase {
  const char* name;
  IID iid;
  HRESULT hrExpected;
};

class OutputInterfaces : public testing::TestWithParam<InterfaceCase> {};

TEST_P(OutputInterfaces, AreThePinsOwnAndCountOnThePin) {
  Rig rig(0);
  ASSERT_EQ(rig.Dmx()->AddOutputPin(), S_OK);
  IPin* pPin = rig.Output(0);
  void* pv = nullptr;
  EXPECT_EQ(pPin->QueryInterface(GetParam().iid, &pv), GetParam().hrExpected);
  if (SUCCEEDED(GetParam().hrExpected)) {
    ASSERT_NE(pv, nullptr);
    ExpectRefCount(pPin, 2);
    static_cast<IUnknown*>(pv)->Release();
  } else {
    EXPECT_EQ(pv, nullptr);
  }
  ExpectRefCount(pPin, 1);
  ExpectRefCount(rig.Dmx()->AsFilter(), 1);
}

INSTANTIATE_TEST_SUITE_P(
    DmxOutputPin, OutputInterfaces,
    testing::Values(InterfaceCase{"Unknown", IID_IUnknown, S_OK},
                    InterfaceCase{"Pin", IID_IPin, S_OK},
                    InterfaceCase{"QualityControl", IID_IQualityControl, S_OK},
                    InterfaceCase{"MediaSeeking", IID_IMediaSeeking, S_OK},
                    InterfaceCase{"MemInputPin", IID_IMemInputPin, E_NOINTERFACE},
                    InterfaceCase{"BaseFilter", IID_IBaseFilter, E_NOINTERFACE},
                    InterfaceCase{"AsyncReader", IID_IAsyncReader, E_NOINTERFACE}),
    [](const testing::TestParamInfo<InterfaceCase>& info) { return std::string(info.param.name); });

TEST(DmxOutputPin, RemovingConnectedPinsDisconnectsThemThroughTheGraph) {
  Rig rig(2);
  CDisconnectingGraph graph;
  ASSERT_EQ(rig.Dmx()->JoinFilterGraph(graph.AsGraph(), L"dmx"), S_OK);
  rig.ConnectAll();
  const int cReaderRefs = rig.Reader()->RefCount();
  ASSERT_EQ(rig.Dmx()->RemoveAllOutputPins(), S_OK);
  EXPECT_EQ(graph.cDisconnect, 4) << "peer and pin, for both pins";
  EXPECT_FALSE(rig.Sink(0)->IsConnected());
  EXPECT_FALSE(rig.Sink(1)->IsConnected());
  EXPECT_EQ(rig.Reader()->RefCount(), cReaderRefs - 2) << "both pins let go of the reader";
  EXPECT_EQ(rig.Dmx()->GetOutputPinCount(), 0);
}

}  // namespace
}  // namespace flvdmx::fwtest
