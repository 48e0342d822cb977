// CUnknown: identity and reference counting for every object of the module.
//
// Each object has a non-delegating IUnknown (the three NonDelegating*
// methods) and an owner, the IUnknown its public IUnknown methods delegate to:
// the outer object when aggregated, else its own non-delegating unknown. The
// count starts at 0, changes atomically, and the object deletes itself when a
// release brings it back to 0. Every CUnknown is counted in the module-wide
// live-object count from construction to destruction (DllCanUnloadNow asks
// it). Subclasses that add interfaces forward those interfaces' IUnknown
// methods to GetOwner().
#pragma once

#include <atomic>

#include "platform/com.h"

namespace flvdmx {

struct INonDelegatingUnknown {
  virtual HRESULT STDMETHODCALLTYPE NonDelegatingQueryInterface(REFIID riid, void** ppv) = 0;
  virtual ULONG STDMETHODCALLTYPE NonDelegatingAddRef() = 0;
  virtual ULONG STDMETHODCALLTYPE NonDelegatingRelease() = 0;

 protected:
  ~INonDelegatingUnknown() = default;
};

class CUnknown : public INonDelegatingUnknown {
 public:
  // pName names the object for diagnostics only. pUnkOuter: the aggregating
  // object, or null.
  CUnknown(const wchar_t* pName, IUnknown* pUnkOuter);
  CUnknown(const CUnknown&) = delete;
  CUnknown& operator=(const CUnknown&) = delete;
  virtual ~CUnknown();

  // IID_IUnknown gives the non-delegating unknown; anything else
  // E_NOINTERFACE. Subclasses answer their interfaces and call this last.
  STDMETHODIMP NonDelegatingQueryInterface(REFIID riid, void** ppv) override;
  STDMETHODIMP_(ULONG) NonDelegatingAddRef() override;
  STDMETHODIMP_(ULONG) NonDelegatingRelease() override;

  IUnknown* GetOwner() const { return m_pUnknown; }

  // Number of CUnknown objects (and other counted objects) alive in the module.
  static LONG ObjectsActive();
  // For module objects that cannot derive from CUnknown (a class factory):
  // count themselves in and out by hand.
  static void IncrementObjectsActive();
  static void DecrementObjectsActive();

 protected:
  std::atomic<LONG> m_cRef{0};

 private:
  // The IUnknown face of the non-delegating methods: the object's identity
  // when it is not aggregated, and what an aggregating object holds.
  class CNonDelegatingFace : public IUnknown {
   public:
    explicit CNonDelegatingFace(CUnknown* pObject) : m_pObject(pObject) {}
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
      return m_pObject->NonDelegatingQueryInterface(riid, ppv);
    }
    STDMETHODIMP_(ULONG) AddRef() override { return m_pObject->NonDelegatingAddRef(); }
    STDMETHODIMP_(ULONG) Release() override { return m_pObject->NonDelegatingRelease(); }

   private:
    CUnknown* const m_pObject;
  };

  CNonDelegatingFace m_NonDelegating{this};
  IUnknown* const m_pUnknown;
};

// Hands out pUnk through ppv with one reference added. E_POINTER for null ppv.
HRESULT GetInterface(IUnknown* pUnk, void** ppv);

// Hands out an object just made with new (std::nothrow) whose constructor
// reported through hrConstruct: with one reference when both succeeded,
// else released again (its destructor may be private), and *ppOut null.
// ppOut must not be null.
template <class T>
HRESULT HandOutNew(T* pObject, HRESULT hrConstruct, T** ppOut) {
  *ppOut = nullptr;
  if (pObject == nullptr) return E_OUTOFMEMORY;
  pObject->NonDelegatingAddRef();
  if (FAILED(hrConstruct)) {
    pObject->NonDelegatingRelease();
    return hrConstruct;
  }
  *ppOut = pObject;
  return S_OK;
}

}  // namespace flvdmx
