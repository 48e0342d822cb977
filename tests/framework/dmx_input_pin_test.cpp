// CBaseDmxInputPin: the reader it takes from the source, the hooks it calls
// with pin number 0, the end-of-stream gate and the flush fan-out.
#include <gtest/gtest.h>

#include "dmx_test_doubles.h"

namespace flvdmx::fwtest {
namespace {

TEST(DmxInputPin, PeerWithoutAReaderCannotConnect) {
  Rig rig(0, /*bSourceHasReader=*/false);
  EXPECT_TRUE(FAILED(rig.ConnectInput()));
  EXPECT_FALSE(rig.Input()->IsConnected());
  EXPECT_EQ(rig.Dmx()->GetReader(), nullptr);
  EXPECT_EQ(rig.Dmx()->cCompleteConnect[0], 0);
}

TEST(DmxInputPin, ConnectionTakesTheReaderBeforeTheFilterIsTold) {
  Rig rig(0);
  ASSERT_EQ(rig.ConnectInput(), S_OK);
  EXPECT_EQ(rig.Dmx()->cCheckConnect, 1);
  EXPECT_EQ(rig.Dmx()->m_iLastCheckedPin, 0);
  EXPECT_EQ(rig.Dmx()->cCompleteConnect[0], 1);
  EXPECT_TRUE(rig.Dmx()->m_bReaderAtInputComplete);
  EXPECT_EQ(rig.Reader()->RefCount(), 3) << "rig, source pin, input pin";

  IAsyncReader* pReader = rig.Dmx()->GetReader();
  EXPECT_EQ(pReader, static_cast<IAsyncReader*>(rig.Reader()));
  EXPECT_EQ(rig.Reader()->RefCount(), 4) << "one for the caller";
  pReader->Release();

  AM_MEDIA_TYPE mt{};
  ASSERT_EQ(rig.Input()->ConnectionMediaType(&mt), S_OK);
  EXPECT_EQ(mt.subtype, kStreamSubtype) << "the source's offer, the pin has none";
  FreeMediaType(mt);
}

TEST(DmxInputPin, SecondReaderIsRefused) {
  Rig rig(0);
  ASSERT_EQ(rig.ConnectInput(), S_OK);
  EXPECT_EQ(rig.Input()->CompleteConnect(rig.Source()->Pin()), VFW_E_ALREADY_CONNECTED);
  EXPECT_EQ(rig.Reader()->RefCount(), 3);
}

TEST(DmxInputPin, FilterRefusingTheInputLetsGoOfTheReader) {
  Rig rig(0);
  rig.Dmx()->m_hrInputComplete = VFW_E_INVALID_FILE_FORMAT;
  EXPECT_EQ(rig.ConnectInput(), VFW_E_INVALID_FILE_FORMAT);
  EXPECT_FALSE(rig.Input()->IsConnected());
  EXPECT_EQ(rig.Dmx()->GetReader(), nullptr);
  EXPECT_GE(rig.Dmx()->cBreakConnect[0], 1) << "a failed attempt is undone";
}

TEST(DmxInputPin, FilterCheckDecidesTheInputType) {
  Rig rig(0);
  rig.Dmx()->m_bInputNeedsStream = true;
  const CMediaType video = MakeMediaType(MEDIATYPE_Video, kStreamSubtype);
  const CMediaType stream = MakeMediaType(MEDIATYPE_Stream, kStreamSubtype);
  EXPECT_EQ(rig.Input()->QueryAccept(&video), S_FALSE);
  EXPECT_EQ(rig.Input()->QueryAccept(&stream), S_OK);
  EXPECT_EQ(rig.Dmx()->m_iLastCheckedPin, 0);
  CMediaType offered;
  EXPECT_EQ(rig.Input()->GetMediaType(0, &offered), E_UNEXPECTED);
  EXPECT_EQ(rig.Input()->QueryInternalConnections(nullptr, nullptr), E_NOTIMPL);
}

TEST(DmxInputPin, ConnectingMakesTheOutputPinsAndDisconnectingRemovesThem) {
  Rig rig(2);
  const LONG lVersion = rig.Dmx()->GetPinVersion();
  ASSERT_EQ(rig.ConnectInput(), S_OK);
  EXPECT_EQ(rig.Dmx()->GetPinCount(), 3);
  IPin* pVideo = nullptr;
  ASSERT_EQ(rig.Dmx()->FindPin(L"Video", &pVideo), S_OK);
  EXPECT_EQ(pVideo, static_cast<IPin*>(rig.Dmx()->VideoPin()));
  pVideo->Release();
  IPin* pAudio = nullptr;
  ASSERT_EQ(rig.Dmx()->FindPin(L"Audio", &pAudio), S_OK);
  pAudio->Release();
  EXPECT_EQ(rig.Dmx()->FindPin(L"Output 01", &pVideo), VFW_E_NOT_FOUND);
  EXPECT_GT(rig.Dmx()->GetPinVersion(), lVersion);

  ASSERT_EQ(rig.Input()->Disconnect(), S_OK);
  EXPECT_EQ(rig.Dmx()->GetPinCount(), 1);
  EXPECT_EQ(rig.Dmx()->VideoPin(), nullptr);
  EXPECT_EQ(rig.Dmx()->AudioPin(), nullptr);
  EXPECT_EQ(rig.Dmx()->GetReader(), nullptr);
}

TEST(DmxInputPin, DisconnectWhileRunningKeepsTheConnectionButNotTheReader) {
  Rig rig(0);
  ASSERT_EQ(rig.ConnectInput(), S_OK);
  ASSERT_EQ(rig.Dmx()->Pause(), S_OK);
  EXPECT_EQ(rig.Input()->Disconnect(), VFW_E_NOT_STOPPED);
  EXPECT_TRUE(rig.Input()->IsConnected());
  EXPECT_EQ(rig.Dmx()->GetReader(), nullptr);
  ASSERT_EQ(rig.Dmx()->Stop(), S_OK);
  EXPECT_EQ(rig.Input()->Disconnect(), S_OK);
  EXPECT_EQ(rig.Dmx()->cBreakConnect[0], 1);
}

TEST(DmxInputPin, EndOfStreamIsRefusedWhileStopped) {
  Rig rig(0);
  ASSERT_EQ(rig.ConnectInput(), S_OK);
  EXPECT_EQ(rig.Input()->EndOfStream(), VFW_E_WRONG_STATE);
  EXPECT_FALSE(rig.Input()->IsEndOfStream());
  EXPECT_EQ(rig.Dmx()->cDeliverEndOfStream, 0);
}

TEST(DmxInputPin, EndOfStreamPassesOnOncePerStreamingRun) {
  Rig rig(0);
  ASSERT_EQ(rig.ConnectInput(), S_OK);
  ASSERT_EQ(rig.Dmx()->Pause(), S_OK);
  EXPECT_EQ(rig.Dmx()->PinEndOfStream(1), S_OK);
  EXPECT_EQ(rig.Dmx()->cDeliverEndOfStream, 0) << "the input has not ended yet";

  EXPECT_EQ(rig.Input()->EndOfStream(), S_OK);
  EXPECT_EQ(rig.Input()->EndOfStream(), S_OK);
  EXPECT_EQ(rig.Dmx()->cDeliverEndOfStream, 1);
  EXPECT_TRUE(rig.Input()->IsEndOfStream());

  ASSERT_EQ(rig.Dmx()->Stop(), S_OK);
  ASSERT_EQ(rig.Dmx()->Pause(), S_OK);
  EXPECT_FALSE(rig.Input()->IsEndOfStream()) << "cleared when streaming starts";
  EXPECT_EQ(rig.Input()->EndOfStream(), S_OK);
  EXPECT_EQ(rig.Dmx()->cDeliverEndOfStream, 2);
}

TEST(DmxInputPin, FlushOnTheInputFlushesTheFilter) {
  Rig rig(2);
  rig.ConnectAll();
  ASSERT_EQ(rig.Input()->BeginFlush(), S_OK);
  EXPECT_TRUE(rig.Input()->IsFlushing());
  EXPECT_TRUE(rig.Dmx()->IsFlushing());
  EXPECT_EQ(rig.Sink(0)->cBeginFlush, 1);
  EXPECT_EQ(rig.Sink(1)->cBeginFlush, 1);
  EXPECT_EQ(rig.Input()->ReportStreamError(E_FAIL), S_OK) << "swallowed while flushing";
  ASSERT_EQ(rig.Input()->EndFlush(), S_OK);
  EXPECT_FALSE(rig.Dmx()->IsFlushing());
  EXPECT_EQ(rig.Sink(0)->cEndFlush, 1);
  EXPECT_EQ(rig.Input()->ReportStreamError(E_FAIL), E_FAIL);
}

TEST(DmxInputPin, PushedSamplesGoToTheFilterOnlyWhileStreaming) {
  Rig rig(0);
  ASSERT_EQ(rig.ConnectInput(), S_OK);
  IMemAllocator* pAlloc = nullptr;
  ASSERT_EQ(rig.Input()->GetAllocator(&pAlloc), S_OK);
  ALLOCATOR_PROPERTIES request{1, 16, 1, 0};
  ALLOCATOR_PROPERTIES actual{};
  ASSERT_EQ(pAlloc->SetProperties(&request, &actual), S_OK);
  ASSERT_EQ(pAlloc->Commit(), S_OK);
  IMediaSample* pSample = nullptr;
  ASSERT_EQ(pAlloc->GetBuffer(&pSample, nullptr, nullptr, 0), S_OK);

  EXPECT_EQ(rig.Input()->Receive(pSample), VFW_E_WRONG_STATE);
  EXPECT_EQ(rig.Dmx()->cReceive, 0);
  ASSERT_EQ(rig.Dmx()->Pause(), S_OK);
  EXPECT_EQ(rig.Input()->Receive(pSample), S_OK);
  EXPECT_EQ(rig.Dmx()->cReceive, 1);
  ASSERT_EQ(rig.Input()->BeginFlush(), S_OK);
  EXPECT_EQ(rig.Input()->Receive(pSample), S_FALSE);
  EXPECT_EQ(rig.Dmx()->cReceive, 1);
  ASSERT_EQ(rig.Input()->EndFlush(), S_OK);

  pSample->Release();
  ASSERT_EQ(rig.Dmx()->Stop(), S_OK);
  pAlloc->Release();
}

TEST(DmxInputPin, ReconnectingLeavesNothingBehind) {
  Rig rig(2);
  for (int i = 0; i < 3; ++i) {
    rig.ConnectAll();
    ASSERT_EQ(rig.Dmx()->Pause(), S_OK);
    ASSERT_EQ(rig.Dmx()->Stop(), S_OK);
    for (int pin = 0; pin < 2; ++pin) {
      IPin* pPeer = rig.Output(pin)->GetConnected();
      ASSERT_EQ(rig.Output(pin)->Disconnect(), S_OK);
      ASSERT_EQ(pPeer->Disconnect(), S_OK);
    }
    ASSERT_EQ(rig.Source()->Pin()->Disconnect(), S_OK);
    ASSERT_EQ(rig.Input()->Disconnect(), S_OK);
    EXPECT_EQ(rig.Reader()->RefCount(), 2) << "rig and source pin";
  }
}

}  // namespace
}  // namespace flvdmx::fwtest
