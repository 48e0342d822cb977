#include "platform/thread.h"

#include <sys/syscall.h>
#include <unistd.h>

namespace flvdmx {

DWORD CurrentThreadId() { return static_cast<DWORD>(syscall(SYS_gettid)); }

HRESULT InitializeWorkerCom() { return CoInitializeEx(nullptr, COINIT_DISABLE_OLE1DDE); }

void UninitializeWorkerCom() { CoUninitialize(); }

}  // namespace flvdmx
