// CBaseDmxOutputPin: an output pin of CBaseDmx, bound to one elementary
// stream. It forwards its connection decisions to the filter's hooks with its
// pin number (output index + 1), offers the media types the filter's
// PinGetMediaType gives for it, and runs the filter's PinProcess as the loop
// body of its delivery thread (CPushPin). Made by the filter's GetPin as
// "Output %.2d"; the format filter then binds it to its stream description
// (SetSampleEntry), sets its buffer size (SetMaxSampleSize) and renames it
// (SetName).
//
// Ownership and lifetime: reference counted by itself (CPushPin). The sample
// entry is the format filter's, not owned. Holds one reference on the file
// reader, taken from the filter's GetReader when the connection completes and
// released when it breaks. Keeps the read-ahead memory of its delivery loop
// while it lives, so that a new run or a seek does not allocate it again.
//
// Locks: connection calls run under the filter lock; the loop state (the
// restart request and the sample count) belongs to the delivery thread. The
// restart request is set by the seeking code on another thread and read by
// the loop between samples.
#pragma once

#include <atomic>
#include <cstdint>

#include "base/block_reader.h"
#include "framework/push_pin.h"

namespace flvdmx {

class CBaseDmx;
class SampleEntry;

class CBaseDmxOutputPin : public CPushPin {
 public:
  // iOutputIndex: 0-based slot in the filter's table.
  CBaseDmxOutputPin(CBaseDmx* pFilter, int iOutputIndex, HRESULT* phr, const wchar_t* pName);
  // Stops a thread that is still there before the loop's owner goes.
  ~CBaseDmxOutputPin() override;

  // IMediaSeeking: settles whether this is the main seeking pin (the first
  // output pin asked becomes it when the filter has none), then hands out
  // the pass-through. Other identities: the base pin's.
  STDMETHODIMP NonDelegatingQueryInterface(REFIID riid, void** ppv) override;
  // Settled again at each position or rate call: the filter forgets its main
  // seeking pin on every connection change, and the first pin to ask after
  // that becomes it.
  BOOL DecideMainSeekingPin() override;

  // The filter's PinCheckConnect, then the base output pin's check.
  HRESULT CheckConnect(IPin* pPin) override;
  // S_OK when pmt equals the pin's offer at position 0 or else at position 1
  // (media type equality, offer first); S_FALSE when neither; whatever
  // GetMediaType answers instead of S_OK at either position is returned.
  HRESULT CheckMediaType(const CMediaType* pmt) override;
  // E_UNEXPECTED without a sample entry (such a pin cannot connect); else the
  // filter's PinGetMediaType for this pin.
  HRESULT GetMediaType(int iPosition, CMediaType* pmt) override;
  // The allocator (DecideAllocator, sized by the filter's
  // PinDecideBufferSize), then a reference on the filter's reader, then the
  // filter's PinCompleteConnect.
  HRESULT CompleteConnect(IPin* pReceivePin) override;
  // The filter's PinBreakConnect (result ignored), then CPushPin's.
  HRESULT BreakConnect() override;
  // The filter's PinDecideBufferSize for this pin.
  HRESULT DecideBufferSize(IMemAllocator* pAlloc, ALLOCATOR_PROPERTIES* pRequest) override;
  // The filter's PinProcess for this pin; E_UNEXPECTED without a filter.
  HRESULT Process() override;

  // Replaces the pin's name with a copy; E_OUTOFMEMORY (the pin is left
  // without a name) when the copy cannot be made, E_POINTER for null.
  HRESULT SetName(const wchar_t* pName);

  int GetPinNumber() const { return m_iOutputIndex + 1; }
  SampleEntry* GetSampleEntry() const { return m_pSampleEntry; }
  void SetSampleEntry(SampleEntry* pEntry) { m_pSampleEntry = pEntry; }
  uint32_t GetMaxSampleSize() const { return m_dwMaxSampleSize; }
  void SetMaxSampleSize(uint32_t dwMaxSampleSize) { m_dwMaxSampleSize = dwMaxSampleSize; }

  // The restart request: set by the seeking code (another thread) to make the
  // running loop start over from the new positions; cleared by the loop each
  // time it (re)starts, and read by it between samples.
  void RequestRestart() { m_bRestart = TRUE; }
  void ClearRestart() { m_bRestart = FALSE; }
  bool IsRestartRequested() const { return m_bRestart != FALSE; }

  // Samples delivered (or stepped over) since the loop last positioned: the
  // delivery loop's own count, touched only on the pin's thread.
  int64_t GetSampleCount() const { return m_llSampleCount; }
  void SetSampleCount(int64_t llSampleCount) { m_llSampleCount = llSampleCount; }

  // Memory for the read-ahead of the delivery loop, used only on the pin's
  // thread (or before it starts).
  CBlockMemory& ReadAheadMemory() { return m_ReadAheadMemory; }

 private:
  friend class CBaseDmx;  // moves a pin down a slot in RemoveOutputPin
  void SetOutputIndex(int iOutputIndex) { m_iOutputIndex = iOutputIndex; }

  std::atomic<BOOL> m_bRestart{FALSE};
  int64_t m_llSampleCount = 0;
  uint32_t m_dwMaxSampleSize = 0;
  CBaseDmx* const m_pDmx;
  int m_iOutputIndex;
  SampleEntry* m_pSampleEntry = nullptr;
  CBlockMemory m_ReadAheadMemory;
};

}  // namespace flvdmx
