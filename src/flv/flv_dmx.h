// CFlvDmx: the FLV demultiplexer filter, "Orvex FLV Demultiplexer". It takes
// an FLV byte stream on its input pin, scans the file when that pin connects
// (ReadAndParseHeader), and exposes a "Video" and/or an "Audio" output pin bound
// to the file's stream descriptions. Each output pin's thread runs PinProcess,
// which walks the file tag by tag and delivers every payload as a
// time-stamped sample. It also supplies the FLV side of seeking: duration,
// current position, frame/time conversion, and how a new position reaches the
// delivery threads.
//
// Bases: CBaseDmx (the format-neutral filter and its hooks) and CSeeking (the
// filter's IMediaSeeking, handed out only under IID_IFilterSeeking to its own
// pins). It owns a CFlvFileState (header, duration, stream descriptions,
// fix-up table, seek start point), which the scan fills.
//
// Ownership and lifetime: made by the class factory (CreateInstance) and held
// by reference count; CSeeking shares the filter's count and identity. The
// stream descriptions, the fix-up table and the seek start point live in the
// file state; the output pins hold non-owning pointers to the descriptions,
// which live until the next input connection (the pins go first). Every new
// input connection starts from a clean file state (descriptions, fix-ups,
// seek start point) and rebuilds the scan results and the pins.
//
// Threads and locks: connection, state changes and seeking run on the graph's
// thread under the filter lock; UpdateCurrentPosition takes it as well and
// only sets flags or stops and restarts the pin threads, which never take it.
// PinProcess runs on each output pin's own thread, two at once when both pins
// are connected, each reading through read-ahead blocks of its own
// (CBlockReader, dropped at each new position and whenever a pin opens a
// flush on the reader); they share the reader, the fix-up table (own lock) and the
// seek start point under its SeekLock(), which one thread holds across a whole
// search so the other can start from its result. m_llCurrentTime and
// m_llCurrentFrame are written by both loops without a lock (last writer
// wins; only position queries read them).
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "flv/flv_file_state.h"
#include "flv/flv_reader.h"
#include "framework/base_dmx.h"
#include "framework/dmx_output_pin.h"
#include "seeking/seeking.h"

namespace flvdmx {

class CUnknown;

// The filter's name as the class table and the graph show it.
inline constexpr wchar_t kFlvDmxName[] = L"Orvex FLV Demultiplexer";

// Duration given to the last sample of a stream, which has no next tag.
inline constexpr REFERENCE_TIME kLastSampleDuration = 260000;

class CFlvDmx : public CBaseDmx, public CSeeking {
 public:
  // The class factory's create function: a new filter without a reference,
  // aggregated by pUnkOuter when it is not null; null when out of memory.
  static CUnknown* CreateInstance(IUnknown* pUnkOuter, HRESULT* phr);

  CFlvDmx(IUnknown* pUnkOuter, HRESULT* phr);
  ~CFlvDmx() override;

  // IUnknown of every interface of the filter, CSeeking's included, to the
  // owner.
  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
  STDMETHODIMP_(ULONG) AddRef() override;
  STDMETHODIMP_(ULONG) Release() override;
  // IID_IFilterSeeking: the CSeeking part; everything else: the base.
  STDMETHODIMP NonDelegatingQueryInterface(REFIID riid, void** ppv) override;

  // Each forgets the recorded segment first, so the first repositioning after
  // a state change is always applied.
  STDMETHODIMP Stop() override;
  STDMETHODIMP Pause() override;
  STDMETHODIMP Run(REFERENCE_TIME tStart) override;

  // CBaseDmx hooks.
  // Input: S_OK for MEDIATYPE_Stream with subtype QFLV or QISO, else S_FALSE.
  // Output pins: their own check.
  HRESULT PinCheckMediaType(int iPin, const CMediaType* pmt, CBasePin* pPin) override;
  // Input: Stream/QFLV at position 0. Output pins: their stream description's
  // type (only position 0 exists).
  HRESULT PinGetMediaType(int iPin, int iPosition, CMediaType* pmt) override;
  // Output pins: buffers of the pin's largest sample, as many as fit in
  // 128 MiB, between 2 and 32; E_FAIL when the allocator grants less.
  HRESULT PinDecideBufferSize(int iPin, IMemAllocator* pAlloc,
                              ALLOCATOR_PROPERTIES* pRequest) override;
  // Input: scans the file and makes the output pins; positions are reset and
  // the stop becomes the duration. E_FAIL without a reader; the scan's
  // failure (no output pins then).
  HRESULT PinCompleteConnect(int iPin, IPin* pPeer) override;
  // Input: removes every output pin first.
  HRESULT PinBreakConnect(int iPin) override;
  // The streaming loop of an output pin, on its own thread: position at the
  // segment start (a key frame for video), deliver tag after tag until the
  // segment or the stream ends, a thread command is pending, or delivery is
  // refused; start over when the pin's restart request is set. S_OK when the
  // stream ended (end-of-stream delivered); E_UNEXPECTED without a pin or a
  // stream description; E_POINTER without a reader; otherwise the failure or
  // refusal that ended it.
  HRESULT PinProcess(int iPin, CBaseDmxOutputPin* pPin) override;

  // What the last scan found; rebuilt by each input connection.
  const CFlvFileState& FileState() const { return m_File; }

  // IMediaSeeking parts CSeeking leaves to the format. Both answer in the
  // time format in use.
  STDMETHODIMP GetDuration(LONGLONG* pDuration) override;
  // E_UNEXPECTED before any stream was found, and in frame format without a
  // video pin.
  STDMETHODIMP GetCurrentPosition(LONGLONG* pCurrent) override;

  // CSeeking hooks. UpdateCurrentPosition applies a changed segment under the
  // filter lock: while stopped it only refreshes the current position;
  // without flush every loop restarts after its current sample; with flush
  // the pin threads are stopped and started again.
  HRESULT UpdateCurrentPosition(BOOL bFlush) override;
  // Frames of m_llAvgTimePerFrame when the file has video; without video a
  // frame is a reference time unit (time to frame: E_NOTIMPL). A zero frame
  // duration cannot convert time to frames either (E_NOTIMPL).
  HRESULT ConvertFrameToTime(LONGLONG llFrame, LONGLONG* pllTime) override;
  HRESULT ConvertTimeToFrame(LONGLONG llTime, LONGLONG* pllFrame) override;

 private:
  // Video first, then audio: a pin for each stream seen whose description
  // gives a media type, named "Video" / "Audio".
  HRESULT CreateOutputPins();
  HRESULT CreateStreamPin(SampleEntry* pEntry, const wchar_t* pName, CBaseDmxOutputPin** ppPin);
  // The pins of further enhanced tracks of one kind ("Video 2", "Audio 3",
  // ...); *ppFirst becomes the first when the main track got no pin.
  template <typename Entry>
  HRESULT CreateExtraPins(const wchar_t* pKind, CBaseDmxOutputPin** ppFirst,
                          std::vector<std::unique_ptr<Entry>>& entries);
  // Output pins bound to a stream of the kind (tag type 8 or 9).
  int CountPinsOfKind(int32_t iStreamKind);
  // One segment of the loop: its bounds as GetSegment gave them.
  struct Segment;
  // Positions pPin's stream for a segment that starts at llSegmentStart: on
  // the stream's last tag at or before it (the same whichever pin searches
  // first), for video then the key frame at or before that tag.
  // S_OK with the first tag to deliver; S_FALSE when no tag of the stream is
  // left; else the search's failure. Resets the pin's sample count.
  HRESULT PositionStream(CBaseDmxOutputPin* pPin, const CFlvReader& reader, LONGLONG llSegmentStart,
                         int64_t& llPosition, FlvTag& tag);
  // From the video tag found for a target back to the key frame to decode
  // from. S_OK; else the search's result.
  HRESULT PositionAtKeyFrame(CBaseDmxOutputPin* pPin, const CFlvReader& reader, int64_t& llPosition,
                             FlvTag& tag);
  // Delivers tags from llPosition until the segment or the stream ends, a
  // thread command is pending (end-of-stream delivered, S_OK), or the pin's
  // restart request is set (S_OK with *pbRestart). Else the failure or
  // refusal that ended delivery.
  HRESULT DeliverSegment(CBaseDmxOutputPin* pPin, const CFlvReader& reader, const Segment& segment,
                         int64_t llPosition, FlvTag tag, bool* pbRestart);
  // One tag as one sample from tStart to tStop, flagged with
  // *pbDiscontinuity. S_OK with *ptRelStop, the sample's stop relative to the
  // segment: delivered or left out (*pbDiscontinuity used up and cleared), or
  // too large for the buffer and skipped (*pbDiscontinuity set for the next
  // sample). Else the failure or refusal, after the end-of-stream it calls for.
  HRESULT DeliverTag(CBaseDmxOutputPin* pPin, const CFlvReader& reader, const Segment& segment,
                     int64_t llPosition, const FlvTag& tag, REFERENCE_TIME tStart,
                     REFERENCE_TIME tStop, BOOL* pbDiscontinuity, REFERENCE_TIME* ptRelStop);
  // End-of-stream on the pin; a failure of it is reported.
  void EndStream(CBaseDmxOutputPin* pPin);
  // End of the pin's data: end-of-stream, or EC_ERRORABORT with the code of
  // a read of reader that failed outside a flush (returned; else S_OK).
  HRESULT EndStreamOrFail(CBaseDmxOutputPin* pPin, const CFlvReader& reader);

  CFlvFileState m_File;
};

}  // namespace flvdmx
