#include "host/file_reader.h"

namespace flvdmx {

HRESULT STDMETHODCALLTYPE CFileReader::Length(LONGLONG* pTotal, LONGLONG* pAvailable) {
  if (!pTotal || !pAvailable) return E_POINTER;
  *pTotal = m_llSize;
  *pAvailable = m_llSize;
  return S_OK;
}

}  // namespace flvdmx
