// The control object itself, created from the code linked into this
// program: its interfaces, type information, safety options, persistence
// and drawing.
#include <gtest/gtest.h>

#include "win32/win.h"

#include <objsafe.h>

#include "win/support/activex_support.h"
#include "win32/handles.h"
#include "win32/tallowin_ids.h"
#include "win32/activex_control.h"

namespace tallowin {
namespace {

using namespace wintest;
using win32::ComPtr;
using win32::OleScope;
using win32::kClsidFrmMain;
using win32::kIidFrmMain;

class ControlObject : public ::testing::Test {
 protected:
  OleScope ole;
  ComPtr<IUnknown> object;
  void SetUp() override {
    ASSERT_EQ(win32::CreateFrmMainObject(nullptr, IID_IUnknown, object.putVoid()), S_OK);
  }
};

TEST_F(ControlObject, AnswersItsInterfacesAndNoOthers) {
  struct Case {
    const char* name;
    const IID& iid;
  };
  const Case implemented[] = {
      {"IOleObject", IID_IOleObject},
      {"IOleWindow", IID_IOleWindow},
      {"IOleInPlaceObject", IID_IOleInPlaceObject},
      {"IOleInPlaceActiveObject", IID_IOleInPlaceActiveObject},
      {"IOleControl", IID_IOleControl},
      {"IViewObject", IID_IViewObject},
      {"IViewObject2", IID_IViewObject2},
      {"IPersist", IID_IPersist},
      {"IPersistStreamInit", IID_IPersistStreamInit},
      {"IPersistPropertyBag", IID_IPersistPropertyBag},
      {"IDispatch", IID_IDispatch},
      {"_frmMain", kIidFrmMain},
      {"IProvideClassInfo", IID_IProvideClassInfo},
      {"IProvideClassInfo2", IID_IProvideClassInfo2},
      {"IObjectSafety", IID_IObjectSafety},
  };
  for (const Case& c : implemented) {
    ComPtr<IUnknown> p;
    ASSERT_EQ(object->QueryInterface(c.iid, p.putVoid()), S_OK) << c.name;
    ComPtr<IUnknown> identity;
    ASSERT_EQ(p->QueryInterface(IID_IUnknown, identity.putVoid()), S_OK);
    EXPECT_EQ(identity.get(), object.get()) << c.name;
  }
  const Case others[] = {
      {"IConnectionPointContainer", IID_IConnectionPointContainer},
      {"IQuickActivate", IID_IQuickActivate},
      {"IOleInPlaceObjectWindowless", IID_IOleInPlaceObjectWindowless},
      {"IViewObjectEx", IID_IViewObjectEx},
      {"IPersistStorage", IID_IPersistStorage},
      {"IPersistStream", IID_IPersistStream},
      {"IDataObject", IID_IDataObject},
      {"IOleCache", IID_IOleCache},
      {"IRunnableObject", IID_IRunnableObject},
      {"ISpecifyPropertyPages", IID_ISpecifyPropertyPages},
      {"IMarshal", IID_IMarshal},
      {"IClassFactory", IID_IClassFactory},
  };
  for (const Case& c : others) {
    void* p = reinterpret_cast<void*>(1);
    EXPECT_EQ(object->QueryInterface(c.iid, &p), E_NOINTERFACE) << c.name;
    EXPECT_EQ(p, nullptr) << c.name;
  }
}

TEST_F(ControlObject, DescribesItselfThroughTheTypeLibrary) { ExpectTypeInfo(object.get()); }

TEST_F(ControlObject, IsSafeForScriptingAndInitialising) {
  ComPtr<IObjectSafety> safety;
  ASSERT_EQ(object->QueryInterface(IID_IObjectSafety, safety.putVoid()), S_OK);
  const DWORD both = INTERFACESAFE_FOR_UNTRUSTED_CALLER | INTERFACESAFE_FOR_UNTRUSTED_DATA;
  for (const IID* iid : {&IID_IDispatch, &IID_IPersistStreamInit, &IID_IPersistPropertyBag}) {
    DWORD supported = 0, enabled = 0;
    ASSERT_EQ(safety->GetInterfaceSafetyOptions(*iid, &supported, &enabled), S_OK);
    EXPECT_EQ(supported, both);
    EXPECT_EQ(safety->SetInterfaceSafetyOptions(*iid, both, both), S_OK);
    ASSERT_EQ(safety->GetInterfaceSafetyOptions(*iid, &supported, &enabled), S_OK);
    EXPECT_EQ(enabled, both);
  }
  DWORD supported = 1, enabled = 1;
  EXPECT_EQ(safety->GetInterfaceSafetyOptions(IID_IConnectionPointContainer, &supported, &enabled), E_NOINTERFACE);
  EXPECT_EQ(supported, 0u);
  EXPECT_EQ(safety->SetInterfaceSafetyOptions(IID_IConnectionPointContainer, both, both), E_NOINTERFACE);
  // An option it does not know is not granted.
  EXPECT_EQ(safety->SetInterfaceSafetyOptions(IID_IDispatch, 0x80, 0x80), E_FAIL);
}

// A property bag that counts what a control reads or writes.
class CountingBag : public IPropertyBag {
 public:
  int reads = 0, writes = 0;
  STDMETHODIMP QueryInterface(REFIID riid, void** out) override {
    *out = (riid == IID_IUnknown || riid == IID_IPropertyBag) ? static_cast<IPropertyBag*>(this) : nullptr;
    return *out ? S_OK : E_NOINTERFACE;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return 2; }
  STDMETHODIMP_(ULONG) Release() override { return 1; }
  STDMETHODIMP Read(LPCOLESTR, VARIANT*, IErrorLog*) override {
    ++reads;
    return E_INVALIDARG;
  }
  STDMETHODIMP Write(LPCOLESTR, VARIANT*) override {
    ++writes;
    return S_OK;
  }
};

TEST_F(ControlObject, PersistenceSucceedsAndKeepsNothing) {
  ComPtr<IPersistStreamInit> stream;
  ASSERT_EQ(object->QueryInterface(IID_IPersistStreamInit, stream.putVoid()), S_OK);
  EXPECT_EQ(stream->InitNew(), S_OK);
  CLSID clsid{};
  EXPECT_EQ(stream->GetClassID(&clsid), S_OK);
  EXPECT_TRUE(clsid == kClsidFrmMain);
  EXPECT_EQ(stream->IsDirty(), S_FALSE);
  ComPtr<IStream> memory;
  ASSERT_EQ(::CreateStreamOnHGlobal(nullptr, TRUE, memory.put()), S_OK);
  EXPECT_EQ(stream->Save(memory.get(), TRUE), S_OK);
  STATSTG stat{};
  ASSERT_EQ(memory->Stat(&stat, STATFLAG_NONAME), S_OK);
  EXPECT_EQ(stat.cbSize.QuadPart, 0u);
  EXPECT_EQ(stream->Load(memory.get()), S_OK);
  ULARGE_INTEGER max{};
  max.QuadPart = 7;
  EXPECT_EQ(stream->GetSizeMax(&max), S_OK);
  EXPECT_EQ(max.QuadPart, 0u);

  ComPtr<IPersistPropertyBag> bag;
  ASSERT_EQ(object->QueryInterface(IID_IPersistPropertyBag, bag.putVoid()), S_OK);
  CountingBag counting;
  EXPECT_EQ(bag->InitNew(), S_OK);
  EXPECT_EQ(bag->Load(&counting, nullptr), S_OK);
  EXPECT_EQ(bag->Save(&counting, TRUE, TRUE), S_OK);
  EXPECT_EQ(counting.reads, 0);
  EXPECT_EQ(counting.writes, 0);
}

TEST_F(ControlObject, DrawsItsOutlineAndNameWhereAskedForAPicture) {
  ComPtr<IViewObject2> view;
  ASSERT_EQ(object->QueryInterface(IID_IViewObject2, view.putVoid()), S_OK);
  HDC screen = ::GetDC(nullptr);
  HDC dc = ::CreateCompatibleDC(screen);
  HBITMAP bitmap = ::CreateCompatibleBitmap(screen, 200, 100);
  ::ReleaseDC(nullptr, screen);
  HGDIOBJ old = ::SelectObject(dc, bitmap);
  RECT all{0, 0, 200, 100};
  ::FillRect(dc, &all, static_cast<HBRUSH>(::GetStockObject(WHITE_BRUSH)));
  RECTL bounds{20, 10, 180, 90};
  EXPECT_EQ(view->Draw(DVASPECT_ICON, -1, nullptr, nullptr, nullptr, dc, &bounds, nullptr, nullptr, 0), DV_E_DVASPECT);
  ASSERT_EQ(view->Draw(DVASPECT_CONTENT, -1, nullptr, nullptr, nullptr, dc, &bounds, nullptr, nullptr, 0), S_OK);
  auto dark = [&](int x, int y) { return ::GetPixel(dc, x, y) == RGB(0, 0, 0); };
  EXPECT_TRUE(dark(20, 10) && dark(179, 89) && dark(100, 10) && dark(20, 50)) << "the outline";
  EXPECT_FALSE(dark(10, 5) || dark(190, 95)) << "nothing outside the bounds";
  int inked = 0;
  for (int y = 30; y < 70; ++y)
    for (int x = 40; x < 160; ++x) inked += dark(x, y);
  EXPECT_GT(inked, 20) << "the name in the middle";
  ::SelectObject(dc, old);
  ::DeleteObject(bitmap);
  ::DeleteDC(dc);

  SIZEL size{};
  EXPECT_EQ(view->GetExtent(DVASPECT_CONTENT, -1, nullptr, &size), S_OK);
  EXPECT_GT(size.cx, 0);
  EXPECT_GT(size.cy, 0);
}

}  // namespace
}  // namespace tallowin
