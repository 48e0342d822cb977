#include "platform/thread.h"

namespace flvdmx {

namespace {

using CoInitializeExFn = HRESULT(WINAPI*)(LPVOID, DWORD);
using CoUninitializeFn = void(WINAPI*)();

// As a generic function pointer, the type the compiler lets us cast from.
using GenericFn = void (*)();

GenericFn FindOle32Entry(const char* name) {
  HMODULE hOle32 = GetModuleHandleW(L"ole32.dll");
  if (hOle32 == nullptr) hOle32 = LoadLibraryW(L"ole32.dll");
  if (hOle32 == nullptr) return nullptr;
  return reinterpret_cast<GenericFn>(GetProcAddress(hOle32, name));
}

}  // namespace

DWORD CurrentThreadId() { return GetCurrentThreadId(); }

HRESULT InitializeWorkerCom() {
  auto pfn = reinterpret_cast<CoInitializeExFn>(FindOle32Entry("CoInitializeEx"));
  if (pfn == nullptr) return E_NOTIMPL;
  return pfn(nullptr, COINIT_DISABLE_OLE1DDE);
}

void UninitializeWorkerCom() {
  auto pfn = reinterpret_cast<CoUninitializeFn>(FindOle32Entry("CoUninitialize"));
  if (pfn != nullptr) pfn();
}

}  // namespace flvdmx
