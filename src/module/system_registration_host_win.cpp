#include "module/system_registration_host.h"

#include <new>
#include <utility>
#include <vector>

#include <winver.h>

#include "base/com_ptr.h"
#include "platform/dshow.h"

namespace flvdmx {
namespace {

HRESULT LastError() {
  const DWORD dwError = GetLastError();
  return dwError == ERROR_SUCCESS ? E_FAIL : HRESULT_FROM_WIN32(dwError);
}

class CMapperV2 : public IFilterMapperV2 {
 public:
  explicit CMapperV2(ComPtr<IFilterMapper2> pMapper) : m_pMapper(std::move(pMapper)) {}
  CMapperV2(const CMapperV2&) = delete;
  CMapperV2& operator=(const CMapperV2&) = delete;

  HRESULT UnregisterFilter(const CLSID& clsid) override {
    return m_pMapper->UnregisterFilter(nullptr, nullptr, clsid);
  }

  HRESULT RegisterFilter(const FilterSetup& setup) override {
    // The platform's records point into ours, which outlive the call.
    std::vector<std::vector<REGPINTYPES>> types(setup.m_cPins);
    std::vector<REGFILTERPINS> pins(setup.m_cPins);
    for (uint32_t i = 0; i < setup.m_cPins; ++i) {
      const FilterPinSetup& pin = setup.m_pPins[i];
      for (uint32_t t = 0; t < pin.m_cMediaTypes; ++t)
        types[i].push_back(
            REGPINTYPES{&pin.m_pMediaTypes[t].m_MajorType, &pin.m_pMediaTypes[t].m_Subtype});
      REGFILTERPINS& out = pins[i];
      out.strName = const_cast<LPWSTR>(pin.m_pszName);
      out.bRendered = pin.m_bRendered;
      out.bOutput = pin.m_bOutput;
      out.bZero = pin.m_bZero;
      out.bMany = pin.m_bMany;
      out.clsConnectsToFilter = &pin.m_ConnectsToFilter;
      out.strConnectsToPin = pin.m_pszConnectsToPin;
      out.nMediaTypes = pin.m_cMediaTypes;
      out.lpMediaType = types[i].empty() ? nullptr : types[i].data();
    }
    REGFILTER2 filter = {};
    filter.dwVersion = 1;
    filter.dwMerit = setup.m_dwMerit;
    filter.cPins = setup.m_cPins;
    filter.rgPins = pins.empty() ? nullptr : pins.data();
    // No moniker back, no category (the default one), no instance name.
    return m_pMapper->RegisterFilter(setup.m_Clsid, setup.m_pszName, nullptr, nullptr, nullptr,
                                     &filter);
  }

 private:
  const ComPtr<IFilterMapper2> m_pMapper;
};

class CMapperV1 : public IFilterMapperV1 {
 public:
  explicit CMapperV1(ComPtr<IFilterMapper> pMapper) : m_pMapper(std::move(pMapper)) {}
  CMapperV1(const CMapperV1&) = delete;
  CMapperV1& operator=(const CMapperV1&) = delete;

  HRESULT UnregisterFilter(const CLSID& clsid) override {
    return m_pMapper->UnregisterFilter(clsid);
  }
  HRESULT RegisterFilter(const CLSID& clsid, const wchar_t* pszName, DWORD dwMerit) override {
    return m_pMapper->RegisterFilter(clsid, pszName, dwMerit);
  }
  HRESULT RegisterPin(const CLSID& clsid, const FilterPinSetup& pin) override {
    return m_pMapper->RegisterPin(clsid, pin.m_pszName, pin.m_bRendered, pin.m_bOutput, pin.m_bZero,
                                  pin.m_bMany, pin.m_ConnectsToFilter, pin.m_pszConnectsToPin);
  }
  HRESULT RegisterPinType(const CLSID& clsid, const wchar_t* pszPin,
                          const FilterPinMediaType& type) override {
    return m_pMapper->RegisterPinType(clsid, pszPin, type.m_MajorType, type.m_Subtype);
  }

 private:
  const ComPtr<IFilterMapper> m_pMapper;
};

}  // namespace

HRESULT CSystemRegistrationHost::GetModulePath(std::wstring* pPath) {
  // Long paths can exceed MAX_PATH; grow until the name fits.
  for (DWORD cch = MAX_PATH; cch <= 32768; cch *= 2) {
    std::vector<wchar_t> buffer(cch);
    const DWORD cchCopied = GetModuleFileNameW(m_hModule, buffer.data(), cch);
    if (cchCopied == 0) return LastError();
    if (cchCopied < cch) {
      pPath->assign(buffer.data(), cchCopied);
      return S_OK;
    }
  }
  return HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER);
}

bool CSystemRegistrationHost::FileExists(const std::wstring& path) {
  const DWORD dwAttributes = GetFileAttributesW(path.c_str());
  return dwAttributes != INVALID_FILE_ATTRIBUTES && (dwAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

HRESULT CSystemRegistrationHost::GetFileVersion(const std::wstring& path, uint64_t* pVersion) {
  DWORD dwHandle = 0;
  const DWORD cbInfo = GetFileVersionInfoSizeW(path.c_str(), &dwHandle);
  if (cbInfo == 0) return LastError();
  std::vector<BYTE> info(cbInfo);
  if (!GetFileVersionInfoW(path.c_str(), 0, cbInfo, info.data())) return LastError();
  VS_FIXEDFILEINFO* pFixed = nullptr;
  UINT cbFixed = 0;
  if (!VerQueryValueW(info.data(), L"\\", reinterpret_cast<void**>(&pFixed), &cbFixed) ||
      pFixed == nullptr || cbFixed < sizeof(VS_FIXEDFILEINFO) || pFixed->dwSignature != 0xFEEF04BD)
    return E_FAIL;
  *pVersion = (static_cast<uint64_t>(pFixed->dwFileVersionMS) << 32) | pFixed->dwFileVersionLS;
  return S_OK;
}

HRESULT CSystemRegistrationHost::InitializeComponentRuntime() { return CoInitialize(nullptr); }

void CSystemRegistrationHost::UninitializeComponentRuntime() { CoUninitialize(); }

HRESULT CSystemRegistrationHost::CreateFilterMapperV2(std::unique_ptr<IFilterMapperV2>* ppMapper) {
  ComPtr<IFilterMapper2> pMapper;
  const HRESULT hr = CoCreateInstance(CLSID_FilterMapper2, nullptr, CLSCTX_INPROC_SERVER,
                                      IID_IFilterMapper2, reinterpret_cast<void**>(pMapper.Put()));
  if (FAILED(hr)) return hr;
  // Without the memory for the wrapper, pMapper lets go of the mapper.
  ppMapper->reset(new (std::nothrow) CMapperV2(std::move(pMapper)));
  return *ppMapper ? S_OK : E_OUTOFMEMORY;
}

HRESULT CSystemRegistrationHost::CreateFilterMapperV1(std::unique_ptr<IFilterMapperV1>* ppMapper) {
  ComPtr<IFilterMapper> pMapper;
  const HRESULT hr = CoCreateInstance(CLSID_FilterMapper, nullptr, CLSCTX_INPROC_SERVER,
                                      IID_IFilterMapper, reinterpret_cast<void**>(pMapper.Put()));
  if (FAILED(hr)) return hr;
  // Without the memory for the wrapper, pMapper lets go of the mapper.
  ppMapper->reset(new (std::nothrow) CMapperV1(std::move(pMapper)));
  return *ppMapper ? S_OK : E_OUTOFMEMORY;
}

void CSystemRegistrationHost::FreeUnusedLibraries() { CoFreeUnusedLibraries(); }

}  // namespace flvdmx
