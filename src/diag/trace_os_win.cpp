#include <windows.h>

#include "diag/trace_os.h"

namespace flvdmx {
namespace traceos {

uint32_t LocalTimeOfDayMs() {
  SYSTEMTIME now;
  GetLocalTime(&now);
  return ((static_cast<uint32_t>(now.wHour) * 60 + now.wMinute) * 60 + now.wSecond) * 1000 +
         now.wMilliseconds;
}

uint32_t CurrentThreadId() { return GetCurrentThreadId(); }

uint32_t CurrentProcessId() { return GetCurrentProcessId(); }

int ProcessHandleCount() {
  DWORD count = 0;
  if (!GetProcessHandleCount(GetCurrentProcess(), &count)) return -1;
  return static_cast<int>(count);
}

void DebuggerOutput(const char* line) { OutputDebugStringA(line); }

void YieldThread() { SwitchToThread(); }

void SleepMs(uint32_t ms) { Sleep(ms); }

std::wstring WidenPath(const char* pszPath) {
  const int n = MultiByteToWideChar(CP_ACP, 0, pszPath, -1, nullptr, 0);
  if (n <= 0) return std::wstring();
  std::wstring wide(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(CP_ACP, 0, pszPath, -1, &wide[0], n);
  wide.resize(static_cast<size_t>(n - 1));
  return wide;
}

void* ProcessHeapAlloc(size_t cb) { return HeapAlloc(GetProcessHeap(), 0, cb == 0 ? 1 : cb); }

void ProcessHeapFree(void* p) {
  if (p) HeapFree(GetProcessHeap(), 0, p);
}

}  // namespace traceos
}  // namespace flvdmx
