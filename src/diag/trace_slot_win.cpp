#include <windows.h>

#include "diag/trace_slot.h"

namespace flvdmx {

TraceSlotHandle OpenTraceSlot(const std::wstring& name) {
  return CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                            sizeof(TraceSlotData), name.c_str());
}

TraceSlotData* MapTraceSlot(TraceSlotHandle handle) {
  if (!handle) return nullptr;
  return static_cast<TraceSlotData*>(
      MapViewOfFile(handle, FILE_MAP_ALL_ACCESS, 0, 0, sizeof(TraceSlotData)));
}

void UnmapTraceSlot(TraceSlotData* data) {
  if (data) UnmapViewOfFile(data);
}

void CloseTraceSlot(TraceSlotHandle handle) {
  if (handle) CloseHandle(handle);
}

}  // namespace flvdmx
