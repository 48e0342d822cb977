// Fuzz target: the whole filter over an in-memory file, as a player drives
// it. The file source and the filter connect through the host graph, a sink
// takes every output pin, every pin plays to its end, a seek to a time taken
// from the input's last two bytes plays again, then everything stops,
// disconnects and is released. Delivery runs inline, on this thread, so an
// execution costs no thread start and is repeatable. Any object still alive
// afterwards is a leak: abort, so the fuzzer keeps the input.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "baseclasses/unknown.h"
#include "flv/flv_dmx.h"
#include "host/file_source.h"
#include "host/graph.h"
#include "host/memory_reader.h"
#include "host/sink.h"

namespace flvdmx {
namespace {

constexpr REFERENCE_TIME kMs = 10000;

// A seek position from the input: 0 to 1.25 times the duration, so that
// positions past the end come up too.
REFERENCE_TIME SeekTarget(CHostGraph* pGraph, const uint8_t* data, size_t size) {
  const uint32_t v = size >= 2 ? (data[size - 1] << 8 | data[size - 2]) : 0;
  ComPtr<IMediaSeeking> pSeeking;
  LONGLONG llDuration = 0;
  if (pGraph->GetSeeking(pSeeking.Put()) != S_OK || FAILED(pSeeking->GetDuration(&llDuration)) ||
      llDuration <= 0) {
    return static_cast<REFERENCE_TIME>(v) * kMs;
  }
  return static_cast<REFERENCE_TIME>(llDuration / 0x10000 * v * 5 / 4);
}

void ConnectSinks(CHostGraph* pGraph, CFlvDmx* pDmx, std::vector<CRecordingSink*>* pSinks) {
  for (int i = 0; i < pDmx->GetOutputPinCount(); ++i) {
    CBaseDmxOutputPin* pPin = pDmx->GetOutputPin(i);
    if (pPin == nullptr) continue;
    CRecordingSink* pSink = nullptr;
    if (CRecordingSink::Create(&pSink) != S_OK) continue;
    // A checksum per sample would cost more than the rest of the playback,
    // and nothing looks at the events afterwards.
    pSink->SetChecksums(false);
    pSink->SetRecordEvents(false);
    pSinks->push_back(pSink);
    if (pGraph->AddFilter(pSink->AsBaseFilter(), nullptr) != S_OK) continue;
    pGraph->Connect(pPin, pSink->InputPin());
  }
}

void Play(CHostGraph* pGraph, CFlvDmx* pDmx, const uint8_t* data, size_t size) {
  if (pGraph->Run() != S_OK) return;
  pDmx->RunInlineDelivery();
  LONG lCode = 0;
  pGraph->WaitForCompletion(0, &lCode);

  LONGLONG llStart = SeekTarget(pGraph, data, size);
  if (SUCCEEDED(pGraph->SetPositions(&llStart, AM_SEEKING_AbsolutePositioning, nullptr,
                                     AM_SEEKING_NoPositioning))) {
    pDmx->RunInlineDelivery();
    pGraph->WaitForCompletion(0, &lCode);
  }
  pGraph->Stop();
}

void PlayFile(const uint8_t* data, size_t size) {
  auto* pReader = new CMemoryReader(CMemoryReader::kBorrow, data, size);
  CFileSource* pSource = nullptr;
  CHostGraph* pGraph = nullptr;
  CFlvDmx* pDmx = nullptr;
  std::vector<CRecordingSink*> sinks;
  HRESULT hr = S_OK;
  if (CFileSource::Create(pReader, &pSource) == S_OK && CHostGraph::Create(&pGraph) == S_OK) {
    pDmx = static_cast<CFlvDmx*>(CFlvDmx::CreateInstance(nullptr, &hr));
  }
  if (pDmx != nullptr) {
    pDmx->NonDelegatingAddRef();
    pDmx->SetInlineDelivery(true);
    if (pGraph->AddFilter(pSource->AsBaseFilter(), L"Source") == S_OK &&
        pGraph->AddFilter(pDmx, L"Demultiplexer") == S_OK &&
        pGraph->Connect(pSource->OutputPin(), pDmx->GetPin(0)) == S_OK) {
      ConnectSinks(pGraph, pDmx, &sinks);
      Play(pGraph, pDmx, data, size);
    }
  }
  if (pGraph != nullptr) {
    pGraph->RemoveAllFilters();
    pGraph->Release();
  }
  for (CRecordingSink* pSink : sinks) pSink->Release();
  if (pDmx != nullptr) pDmx->NonDelegatingRelease();
  if (pSource != nullptr) pSource->Release();
  pReader->Release();
}

}  // namespace
}  // namespace flvdmx

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  flvdmx::PlayFile(data, size);
  const LONG cLive = flvdmx::CUnknown::ObjectsActive();
  if (cLive != 0) {
    std::fprintf(stderr, "%ld objects still alive after the run\n", static_cast<long>(cLive));
    std::abort();
  }
  return 0;
}
