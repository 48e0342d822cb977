// The operating-system services that trace output needs, one implementation
// per platform (trace_os_win.cpp, trace_os_posix.cpp). Every function here is
// safe to call from any thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace flvdmx {
namespace traceos {

// Milliseconds since local midnight, 0 to 86399999.
uint32_t LocalTimeOfDayMs();
uint32_t CurrentThreadId();
uint32_t CurrentProcessId();
// Open handles (file descriptors on Linux) of the process; -1 when unknown.
int ProcessHandleCount();
// The debugger's output channel; standard error where there is no debugger API.
void DebuggerOutput(const char* line);
void YieldThread();
void SleepMs(uint32_t ms);

// A path in the system's narrow encoding (UTF-8 here, the ANSI code page on
// Windows) as a wide string.
std::wstring WidenPath(const char* pszPath);

// Blocks that outlive the module that allocated them: the process heap.
void* ProcessHeapAlloc(size_t cb);
void ProcessHeapFree(void* p);

}  // namespace traceos
}  // namespace flvdmx
