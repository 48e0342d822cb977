#include "platform/thread.h"

#include <new>
#include <system_error>

namespace flvdmx {

std::unique_ptr<CThreadHandle> CThreadHandle::Start(ThreadProc pfn, void* pArg) {
  std::unique_ptr<CThreadHandle> handle(new (std::nothrow) CThreadHandle());
  if (!handle) return nullptr;
  try {
    handle->m_Thread = std::thread([pfn, pArg] { pfn(pArg); });
  } catch (const std::system_error&) {
    return nullptr;
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
  handle->m_Id = handle->m_Thread.get_id();
  return handle;
}

CThreadHandle::~CThreadHandle() {
  if (m_Thread.joinable()) m_Thread.detach();
}

void CThreadHandle::Wait() {
  if (m_Thread.joinable() && !IsCurrentThread()) m_Thread.join();
}

}  // namespace flvdmx
