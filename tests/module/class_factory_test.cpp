// CreateInstance's aggregation and failure paths, which no graph reaches: nothing is left alive.
#include "module/class_factory.h"

#include <gtest/gtest.h>

#include "baseclasses/unknown.h"

namespace flvdmx {
namespace {

struct {
  bool bBuild;
  HRESULT hr;
  int cCalls;
} g_Create;

CUnknown* CreateTestObject(IUnknown* pUnkOuter, HRESULT* phr) {
  ++g_Create.cCalls;
  *phr = g_Create.hr;
  return g_Create.bBuild ? new CUnknown(L"test", pUnkOuter) : nullptr;
}

// Only handed through, never called.
struct COuter : IUnknown {
  STDMETHODIMP QueryInterface(REFIID, void**) override { return E_UNEXPECTED; }
  STDMETHODIMP_(ULONG) AddRef() override { return 1; }
  STDMETHODIMP_(ULONG) Release() override { return 1; }
} g_Outer;

TEST(ClassFactoryTest, CreateInstanceResultsAndNoObjectLeftOnFailure) {
  const ClassTableEntry entry = {L"Test", IID_IUnknown, CreateTestObject, nullptr, nullptr};
  struct Case {
    const char* what;
    bool bOuter;
    const IID* pIid;
    bool bBuild;
    HRESULT hrCreate, expected;
    int cCalls;
  } cases[] = {
      {"aggregated unknown", true, &IID_IUnknown, true, S_OK, S_OK, 1},
      {"unsupported interface ends the object", false, &IID_IClassFactory, true, S_OK,
       E_NOINTERFACE, 1},
      {"aggregated other interface builds nothing", true, &IID_IClassFactory, true, S_OK,
       E_NOINTERFACE, 0},
      {"nothing built without reason", false, &IID_IUnknown, false, S_OK, E_OUTOFMEMORY, 1},
      {"nothing built with reason", false, &IID_IUnknown, false, E_ACCESSDENIED, E_ACCESSDENIED, 1},
      {"built but failed is deleted", false, &IID_IUnknown, true, E_FAIL, E_FAIL, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    g_Create = {c.bBuild, c.hrCreate, 0};
    IClassFactory* pFactory = new CClassFactory(&entry);
    pFactory->AddRef();
    void* pv = &g_Outer;
    EXPECT_EQ(pFactory->CreateInstance(c.bOuter ? &g_Outer : nullptr, *c.pIid, &pv), c.expected);
    EXPECT_EQ(g_Create.cCalls, c.cCalls);
    EXPECT_EQ(pv != nullptr, c.expected == S_OK);
    // The non-delegating unknown: its Release ends the object, not the outer one's.
    if (pv) {
      EXPECT_EQ(static_cast<IUnknown*>(pv)->Release(), 0u);
    }
    EXPECT_EQ(CUnknown::ObjectsActive(), 1) << "only the factory is left";
    EXPECT_EQ(pFactory->Release(), 0u);
  }
}

}  // namespace
}  // namespace flvdmx
