#include "module/class_factory.h"

#include <gtest/gtest.h>

#include "baseclasses/unknown.h"
#include "module/module_entry.h"
#include "platform/dshow.h"

namespace flvdmx {
namespace {

constexpr IID IID_ITestPing = {0x1D2C3B4A, 0x0001, 0x0002, {1, 2, 3, 4, 5, 6, 7, 8}};
constexpr CLSID kClsidTest = {0x1D2C3B4A, 0x0003, 0x0004, {1, 2, 3, 4, 5, 6, 7, 8}};
constexpr CLSID kClsidOther = {0x1D2C3B4A, 0x0005, 0x0006, {1, 2, 3, 4, 5, 6, 7, 8}};

struct ITestPing : IUnknown {
  virtual int STDMETHODCALLTYPE Ping() = 0;
};

class CTestObject : public CUnknown, public ITestPing {
 public:
  explicit CTestObject(IUnknown* pUnkOuter) : CUnknown(L"test", pUnkOuter) {}
  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override { return GetOwner()->QueryInterface(riid, ppv); }
  STDMETHODIMP_(ULONG) AddRef() override { return GetOwner()->AddRef(); }
  STDMETHODIMP_(ULONG) Release() override { return GetOwner()->Release(); }
  STDMETHODIMP NonDelegatingQueryInterface(REFIID riid, void** ppv) override {
    if (ppv != nullptr && riid == IID_ITestPing) return GetInterface(static_cast<ITestPing*>(this), ppv);
    return CUnknown::NonDelegatingQueryInterface(riid, ppv);
  }
  int STDMETHODCALLTYPE Ping() override { return 42; }
};

// What the create function does on its next call.
struct CreateBehaviour {
  bool bBuild = true;
  HRESULT hr = S_OK;
  int cCalls = 0;
} g_Create;

CUnknown* CreateTestObject(IUnknown* pUnkOuter, HRESULT* phr) {
  ++g_Create.cCalls;
  *phr = g_Create.hr;
  return g_Create.bBuild ? new CTestObject(pUnkOuter) : nullptr;
}

const ClassTableEntry kEntries[] = {
    {L"Other", kClsidOther, nullptr, nullptr, nullptr},
    {L"Test", kClsidTest, CreateTestObject, nullptr, nullptr},
};
const ClassTable kTable = {kEntries, 2};

// An outer object is only handed through; it is never called.
struct COuter : IUnknown {
  STDMETHODIMP QueryInterface(REFIID, void**) override { return E_UNEXPECTED; }
  STDMETHODIMP_(ULONG) AddRef() override { return 1; }
  STDMETHODIMP_(ULONG) Release() override { return 1; }
} g_Outer;

class ClassFactoryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(CUnknown::ObjectsActive(), 0);
    g_Create = CreateBehaviour{};
  }
  void TearDown() override {
    EXPECT_EQ(CUnknown::ObjectsActive(), 0) << "every object released";
    EXPECT_EQ(CanUnloadModule(), S_OK);
  }

  IClassFactory* GetFactory(const ClassTable& table = kTable, const CLSID& clsid = kClsidTest) {
    void* pv = nullptr;
    EXPECT_EQ(GetClassObject(table, clsid, IID_IClassFactory, &pv), S_OK);
    return static_cast<IClassFactory*>(pv);
  }
};

TEST_F(ClassFactoryTest, GetClassObjectChecksInterfaceBeforeClass) {
  struct Case {
    const CLSID* pClsid;
    const IID* pIid;
    HRESULT expected;
  } cases[] = {
      {&kClsidTest, &IID_IUnknown, S_OK},
      {&kClsidTest, &IID_IClassFactory, S_OK},
      {&kClsidOther, &IID_IClassFactory, S_OK},
      {&IID_ITestPing, &IID_IClassFactory, CLASS_E_CLASSNOTAVAILABLE},
      {&kClsidTest, &IID_ITestPing, E_NOINTERFACE},
      {&IID_ITestPing, &IID_ITestPing, E_NOINTERFACE},
  };
  for (const auto& c : cases) {
    void* pv = &g_Outer;  // must be cleared on failure
    EXPECT_EQ(GetClassObject(kTable, *c.pClsid, *c.pIid, &pv), c.expected);
    EXPECT_EQ(pv != nullptr, c.expected == S_OK);
    if (pv) {
      EXPECT_EQ(CUnknown::ObjectsActive(), 1) << "a factory counts itself";
      EXPECT_EQ(static_cast<IUnknown*>(pv)->Release(), 0u) << "the caller holds the only reference";
    }
  }
  EXPECT_EQ(GetClassObject(kTable, kClsidTest, IID_IClassFactory, nullptr), E_POINTER);
  IClassFactory* pFactory = GetFactory();
  void* pv = &g_Outer;
  EXPECT_EQ(pFactory->QueryInterface(IID_ITestPing, &pv), E_NOINTERFACE);
  EXPECT_EQ(pv, nullptr);
  EXPECT_EQ(pFactory->Release(), 0u);
}

struct CreateCase {
  const char* name;
  bool bOuter;
  const IID* pIid;
  bool bBuild;
  HRESULT hrCreate;
  HRESULT expected;
  int cCalls;
};

class CreateInstanceTest : public ClassFactoryTest, public ::testing::WithParamInterface<CreateCase> {};

TEST_P(CreateInstanceTest, ResultAndObjectLifetime) {
  const CreateCase& c = GetParam();
  g_Create.bBuild = c.bBuild;
  g_Create.hr = c.hrCreate;
  IClassFactory* pFactory = GetFactory();
  void* pv = &g_Outer;
  EXPECT_EQ(pFactory->CreateInstance(c.bOuter ? &g_Outer : nullptr, *c.pIid, &pv), c.expected);
  EXPECT_EQ(g_Create.cCalls, c.cCalls);
  if (c.expected == S_OK) {
    ASSERT_NE(pv, nullptr);
    EXPECT_EQ(CUnknown::ObjectsActive(), 2);
    if (*c.pIid == IID_ITestPing) {
      EXPECT_EQ(static_cast<ITestPing*>(pv)->Ping(), 42);
    }
    // With an outer object this is the non-delegating unknown: its Release
    // ends the object rather than going to the outer one.
    EXPECT_EQ(static_cast<IUnknown*>(pv)->Release(), 0u);
  } else {
    EXPECT_EQ(pv, nullptr);
  }
  EXPECT_EQ(CUnknown::ObjectsActive(), 1) << "only the factory is left";
  EXPECT_EQ(pFactory->Release(), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, CreateInstanceTest,
    ::testing::Values(
        CreateCase{"Unknown", false, &IID_IUnknown, true, S_OK, S_OK, 1},
        CreateCase{"OwnInterface", false, &IID_ITestPing, true, S_OK, S_OK, 1},
        CreateCase{"UnsupportedInterfaceEndsObject", false, &IID_IClassFactory, true, S_OK, E_NOINTERFACE, 1},
        CreateCase{"AggregatedUnknown", true, &IID_IUnknown, true, S_OK, S_OK, 1},
        CreateCase{"AggregatedOtherInterfaceBuildsNothing", true, &IID_ITestPing, true, S_OK, E_NOINTERFACE, 0},
        CreateCase{"NothingBuiltWithoutReason", false, &IID_IUnknown, false, S_OK, E_OUTOFMEMORY, 1},
        CreateCase{"NothingBuiltWithReason", false, &IID_IUnknown, false, E_ACCESSDENIED, E_ACCESSDENIED, 1},
        CreateCase{"BuiltButFailedIsDeleted", false, &IID_IUnknown, true, E_FAIL, E_FAIL, 1}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(ClassFactoryTest, EntryWithoutCreateFunctionFailsClearly) {
  IClassFactory* pFactory = GetFactory(kTable, kClsidOther);
  void* pv = &g_Outer;
  EXPECT_EQ(pFactory->CreateInstance(nullptr, IID_IUnknown, nullptr), E_POINTER);
  EXPECT_EQ(pFactory->CreateInstance(nullptr, IID_IUnknown, &pv), E_NOTIMPL);
  EXPECT_EQ(pv, nullptr);
  EXPECT_EQ(pFactory->Release(), 0u);
}

TEST_F(ClassFactoryTest, UnloadWaitsForFactoriesObjectsAndLocks) {
  EXPECT_EQ(CanUnloadModule(), S_OK);
  IClassFactory* pFactory = GetFactory();
  EXPECT_EQ(CanUnloadModule(), S_FALSE) << "factory held";

  IUnknown* pObject = nullptr;
  ASSERT_EQ(pFactory->CreateInstance(nullptr, IID_IUnknown, reinterpret_cast<void**>(&pObject)), S_OK);
  EXPECT_EQ(pFactory->LockServer(TRUE), S_OK);
  EXPECT_EQ(pFactory->Release(), 0u);
  EXPECT_EQ(CanUnloadModule(), S_FALSE) << "object alive and server locked";
  pObject->Release();
  EXPECT_EQ(CanUnloadModule(), S_FALSE) << "server locked";

  pFactory = GetFactory();
  EXPECT_EQ(pFactory->LockServer(FALSE), S_OK);
  EXPECT_EQ(pFactory->Release(), 0u);
  EXPECT_EQ(CClassFactory::ServerLocks(), 0);
  EXPECT_EQ(CanUnloadModule(), S_OK);
}

}  // namespace
}  // namespace flvdmx
