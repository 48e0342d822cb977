// The shared slot: 16 bytes of named memory per process and trace file that
// every module of the process finds by the same name, so that all of them
// append to one writer. On Windows a page-file-backed file mapping; on Linux
// a process-wide registry of the same name (trace_slot_*.cpp).
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

namespace flvdmx {

struct TraceSlotData {
  void* pWriter;                  // the process's CTraceWriter, null until made
  std::atomic<int32_t> lSpin;     // > 1 after an increment: someone else holds it
  int32_t lReserved;
};
static_assert(sizeof(TraceSlotData) == 16, "the slot is 16 bytes in every module");

// "%08X.%d.%S": process id, 642, and the path with every backslash turned
// into a forward slash (a backslash would start a namespace in the name).
std::wstring TraceSlotName(uint32_t dwProcessId, const wchar_t* pszPath);

// A handle keeps the slot alive; the memory goes with the last handle.
using TraceSlotHandle = void*;
// Creates the slot or opens the existing one; null on failure.
TraceSlotHandle OpenTraceSlot(const std::wstring& name);
// The slot's memory, zero when new; null on failure. Undone by UnmapTraceSlot.
TraceSlotData* MapTraceSlot(TraceSlotHandle handle);
void UnmapTraceSlot(TraceSlotData* data);
void CloseTraceSlot(TraceSlotHandle handle);

// Takes the slot's spin counter: increment, and while someone else holds it
// back off for 10 ms and try again. With a limit, gives up waiting after
// about `maxWaitMs` and goes on regardless (returns false); either way the
// caller ends with UnlockTraceSlot.
bool LockTraceSlot(TraceSlotData* data, uint32_t maxWaitMs = UINT32_MAX);
void UnlockTraceSlot(TraceSlotData* data);

}  // namespace flvdmx
