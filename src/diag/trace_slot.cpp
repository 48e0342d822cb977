#include "diag/trace_slot.h"

#include "diag/trace_os.h"

namespace flvdmx {

std::wstring TraceSlotName(uint32_t dwProcessId, const wchar_t* pszPath) {
  static const wchar_t kHex[] = L"0123456789ABCDEF";
  std::wstring name;
  for (int shift = 28; shift >= 0; shift -= 4) name += kHex[(dwProcessId >> shift) & 0xF];
  name += L".642.";
  for (const wchar_t* p = pszPath; p && *p; ++p) name += *p == L'\\' ? L'/' : *p;
  return name;
}

bool LockTraceSlot(TraceSlotData* data, uint32_t maxWaitMs) {
  uint32_t waitedMs = 0;
  while (data->lSpin.fetch_add(1) + 1 > 1) {
    if (waitedMs >= maxWaitMs) return false;
    data->lSpin.fetch_sub(1);
    traceos::SleepMs(10);
    waitedMs += 10;
  }
  return true;
}

void UnlockTraceSlot(TraceSlotData* data) { data->lSpin.fetch_sub(1); }

}  // namespace flvdmx
