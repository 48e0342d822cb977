#include <dirent.h>
#include <sched.h>
#include <sys/syscall.h>
#include <sys/time.h>
#include <time.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include "diag/trace_os.h"

namespace flvdmx {
namespace traceos {

uint32_t LocalTimeOfDayMs() {
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  tm local{};
  const time_t seconds = now.tv_sec;
  localtime_r(&seconds, &local);
  const uint32_t ms = static_cast<uint32_t>(now.tv_nsec / 1000000);
  // tm_sec may be 60 on a leap second; keep the result inside one day.
  const uint32_t sec = static_cast<uint32_t>(local.tm_sec > 59 ? 59 : local.tm_sec);
  return ((static_cast<uint32_t>(local.tm_hour) * 60 + static_cast<uint32_t>(local.tm_min)) * 60 +
          sec) *
             1000 +
         ms;
}

uint32_t CurrentThreadId() { return static_cast<uint32_t>(syscall(SYS_gettid)); }

uint32_t CurrentProcessId() { return static_cast<uint32_t>(getpid()); }

int ProcessHandleCount() {
  DIR* dir = opendir("/proc/self/fd");
  if (!dir) return -1;
  int count = 0;
  while (const dirent* entry = readdir(dir)) {
    if (entry->d_name[0] != '.') ++count;
  }
  closedir(dir);
  return count > 0 ? count - 1 : 0;  // not the one that lists them
}

void DebuggerOutput(const char* line) { std::fputs(line, stderr); }

void YieldThread() { sched_yield(); }

void SleepMs(uint32_t ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

std::wstring WidenPath(const char* pszPath) {
  std::wstring wide;
  const auto* p = reinterpret_cast<const unsigned char*>(pszPath);
  while (*p) {
    const unsigned char lead = *p;
    const int extra = lead < 0x80         ? 0
                      : (lead >> 5) == 6  ? 1
                      : (lead >> 4) == 14 ? 2
                      : (lead >> 3) == 30 ? 3
                                          : -1;
    uint32_t c = extra == 0   ? lead
                 : extra == 1 ? lead & 0x1Fu
                 : extra == 2 ? lead & 0x0Fu
                              : lead & 0x07u;
    int i = 1;
    for (; extra > 0 && i <= extra && (p[i] & 0xC0) == 0x80; ++i) c = (c << 6) | (p[i] & 0x3Fu);
    if (extra < 0 || i <= extra) {  // not UTF-8: keep the byte's place visible
      wide += static_cast<wchar_t>(0xFFFD);
      ++p;
      continue;
    }
    wide += static_cast<wchar_t>(c);
    p += extra + 1;
  }
  return wide;
}

void* ProcessHeapAlloc(size_t cb) { return std::malloc(cb == 0 ? 1 : cb); }

void ProcessHeapFree(void* p) { std::free(p); }

}  // namespace traceos
}  // namespace flvdmx
