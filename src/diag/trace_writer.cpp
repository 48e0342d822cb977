#include "diag/trace_writer.h"

#include <chrono>
#include <cwchar>
#include <new>
#include <utility>

#include "diag/trace_line.h"
#include "diag/trace_os.h"

namespace flvdmx {
namespace {

constexpr uint32_t kFlushPeriodMs = 500;
constexpr int64_t kMinFlushGapMs = 51;

void TimerTick(void* pContext) { static_cast<CTraceWriter*>(pContext)->Tick(); }

}  // namespace

CTraceWriter::CTraceWriter(const wchar_t* pszPath, CTraceFileSystem& fs)
    : m_llLastFlushMs(NowMs()), m_Fs(fs) {
  std::wcsncpy(m_szPath, pszPath, kMaxTracePath - 1);
  m_szPath[kMaxTracePath - 1] = L'\0';
}

int64_t CTraceWriter::NowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

CTraceWriter* CTraceWriter::Create(const wchar_t* pszPath, CTraceFileSystem& fs) {
  if (!pszPath || std::wcslen(pszPath) >= kMaxTracePath) return nullptr;
  void* block = traceos::ProcessHeapAlloc(sizeof(CTraceWriter));
  if (!block) return nullptr;
  return new (block) CTraceWriter(pszPath, fs);
}

void CTraceWriter::Destroy(CTraceWriter* pWriter) {
  if (!pWriter) return;
  pWriter->~CTraceWriter();
  traceos::ProcessHeapFree(pWriter);
}

HRESULT CTraceWriter::Append(const char* pText, size_t cb) {
  if (cb > static_cast<size_t>(INT32_MAX / 2)) return E_INVALIDARG;
  std::lock_guard<std::mutex> guard(m_Lock);
  uint8_t* tail = nullptr;
  const HRESULT hr = m_Pending.ReserveTail(static_cast<int>(2 * cb), &tail);
  if (FAILED(hr)) return hr;
  const size_t written = ConvertToCrLf(pText, cb, reinterpret_cast<char*>(tail));
  m_Pending.SetSize(m_Pending.Size() + static_cast<int>(written));
  if (!m_pTimer) m_pTimer = StartTraceTimer(TimerTick, this, kFlushPeriodMs, kFlushPeriodMs);
  return S_OK;
}

void CTraceWriter::WritePending(std::unique_lock<std::mutex>& held) {
  if (m_Pending.Size() == 0) {
    held.unlock();
    return;
  }
  CHeapBuffer text;
  if (FAILED(m_Pending.Swap(&text))) {
    held.unlock();
    return;
  }
  std::lock_guard<std::mutex> file(m_FileLock);
  held.unlock();
  // A failed write drops the block: the next one may succeed, and trace
  // output must never stall the caller.
  (void)WriteTraceBlock(m_Fs, m_szPath, &m_bFirstAttempt, text.Data(),
                        static_cast<size_t>(text.Size()));
  m_llLastFlushMs = NowMs();
}

void CTraceWriter::Tick() {
  if (m_lTicking.fetch_add(1) != 0) {
    m_lTicking.fetch_sub(1);
    return;
  }
  std::unique_lock<std::mutex> lock(m_Lock);
  if (NowMs() - m_llLastFlushMs < kMinFlushGapMs)
    lock.unlock();
  else
    WritePending(lock);
  m_lTicking.fetch_sub(1);
}

void CTraceWriter::Flush(uint32_t maxWaitMs) {
  std::unique_lock<std::mutex> lock(m_Lock, std::try_to_lock);
  for (uint32_t waited = 0; !lock.owns_lock() && waited < maxWaitMs; waited += 100) {
    traceos::SleepMs(100);
    lock.try_lock();
  }
  if (lock.owns_lock()) WritePending(lock);
}

void CTraceWriter::StopTimer() {
  CTraceTimer* timer;
  {
    std::lock_guard<std::mutex> guard(m_Lock);
    timer = std::exchange(m_pTimer, nullptr);
  }
  // Outside the lock: the tick being waited for may need it.
  StopTraceTimer(timer);
}

void CTraceHolder::Append(const char* pszLine, size_t cb) {
  std::lock_guard<std::mutex> guard(m_Lock);
  if (!m_pWriter) {
    m_pWriter = CTraceWriter::Create(m_szPath, m_pFs ? *m_pFs : CTraceFileSystem::Platform());
    if (!m_pWriter) return;
  }
  (void)m_pWriter->Append(pszLine, cb);
}

void CTraceHolder::Close() {
  std::lock_guard<std::mutex> guard(m_Lock);
  CloseLocked();
}

void CTraceHolder::CloseLocked() {
  if (!m_pWriter) return;
  CTraceWriter* writer = std::exchange(m_pWriter, nullptr);
  // No tick may run once the writer is freed; the text that came in while the
  // timer stopped is written last.
  writer->StopTimer();
  writer->Flush(1000);
  CTraceWriter::Destroy(writer);
}

void CTraceHolder::SetFileSystem(CTraceFileSystem* pFs) {
  std::lock_guard<std::mutex> guard(m_Lock);
  m_pFs = pFs;
}

HRESULT CTraceHolder::SetPath(const wchar_t* pszPath) {
  if (!pszPath) return E_POINTER;
  const size_t length = std::wcslen(pszPath);
  // Room for the path to be repeated inside a directory of its own name.
  if (length == 0 || 2 * length + 2 > kMaxTracePath) return E_INVALIDARG;
  std::lock_guard<std::mutex> guard(m_Lock);
  if (std::wcscmp(m_szPath, pszPath) == 0) return S_OK;
  CloseLocked();
  std::wmemcpy(m_szPath, pszPath, length + 1);
  return S_OK;
}

}  // namespace flvdmx
