// CMyInbox as an object: interfaces, aggregation, reference counts, the
// target, FileID, and the same members reached through the
// vtable and through IDispatch.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <vector>

#include "frame/Encoding.h"
#include "host/HostKit.h"
#include "inbox/MyInbox.h"
#include "platform/ComObject.h"
#include "platform/Guid.h"
#include "platform/Text.h"
#include "platform/TypeInfo.h"
#include "tests/support/FakeMail.h"
#include "tests/support/InboxAccess.h"
#include "tests/support/RecordingHost.h"
#include "tests/support/RecordingTarget.h"
#include "tests/support/TestFiles.h"

namespace {

using testing_support::RecordingTarget;

CComPtr<IMyInbox> NewInbox() {
  CComPtr<IMyInbox> inbox;
  EXPECT_EQ(S_OK, CMyInbox::CreateInstance(nullptr, IID_IMyInbox, reinterpret_cast<void**>(&inbox)));
  return inbox;
}

TEST(Object, AnswersIUnknownIMyInboxAndIDispatchOnly) {
  auto inbox = NewInbox();
  IUnknown* a = nullptr;
  IUnknown* b = nullptr;
  ASSERT_EQ(S_OK, inbox->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&a)));
  IDispatch* disp = nullptr;
  ASSERT_EQ(S_OK, inbox->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&disp)));
  ASSERT_EQ(S_OK, disp->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&b)));
  EXPECT_EQ(a, b);  // one identity
  a->Release();
  b->Release();
  disp->Release();
  void* none = reinterpret_cast<void*>(1);
  for (const IID& iid : {IID_IClassFactory, IID_ILumarestTarget, IID_IRunnableObject}) {
    EXPECT_EQ(E_NOINTERFACE, inbox->QueryInterface(iid, &none));
    EXPECT_EQ(nullptr, none);
  }
}

// An outer object that aggregates MyInbox; interfaces other than its own
// identity come from the inner object.
struct Outer : platform::ComObject<IUnknown> {
  IUnknown* inner = nullptr;
  HRESULT QueryInterface(REFIID riid, void** ppv) override {
    return riid == IID_IUnknown ? ComObject::QueryInterface(riid, ppv) : inner->QueryInterface(riid, ppv);
  }
  ULONG Refs() const { return References(); }
};

TEST(Object, AggregatesAndDelegatesToTheOuterUnknown) {
  CComPtr<Outer> outer(new Outer);
  void* p = nullptr;
  EXPECT_EQ(CLASS_E_NOAGGREGATION, CMyInbox::CreateInstance(outer, IID_IMyInbox, &p));
  ASSERT_EQ(S_OK, CMyInbox::CreateInstance(outer, IID_IUnknown, reinterpret_cast<void**>(&outer->inner)));
  IMyInbox* inbox = nullptr;
  ASSERT_EQ(S_OK, outer->inner->QueryInterface(IID_IMyInbox, reinterpret_cast<void**>(&inbox)));
  // The interface's reference went to the outer object.
  EXPECT_EQ(2u, outer->Refs());
  IUnknown* identity = nullptr;
  ASSERT_EQ(S_OK, inbox->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&identity)));
  EXPECT_EQ(static_cast<IUnknown*>(outer.p), identity);
  identity->Release();
  inbox->Release();
  EXPECT_EQ(1u, outer->Refs());
  long before = CMyInbox::ObjectCount();
  EXPECT_EQ(0u, outer->inner->Release());
  EXPECT_EQ(before - 1, CMyInbox::ObjectCount());
}

TEST(Object, SetTargetCountsReferencesAsAssignment) {
  auto target = RecordingTarget::Create();
  auto other = RecordingTarget::Create();
  {
    auto inbox = NewInbox();
    ULONG base = target->RefCount();
    EXPECT_EQ(S_OK, inbox->SetTarget(target));
    EXPECT_EQ(base + 1, target->RefCount());
    EXPECT_EQ(S_OK, inbox->SetTarget(target));  // the same pointer changes nothing
    EXPECT_EQ(base + 1, target->RefCount());
    EXPECT_EQ(S_OK, inbox->SetTarget(other));
    EXPECT_EQ(base, target->RefCount());
    EXPECT_EQ(S_OK, inbox->SetTarget(nullptr));
    EXPECT_EQ(1u, other->RefCount());
    EXPECT_EQ(S_OK, inbox->SetTarget(other));
    EXPECT_EQ(2u, other->RefCount());
  }
  EXPECT_EQ(1u, other->RefCount());  // released with the object
}

TEST(Object, FileIdStartsEmptyAndNullStoresEmpty) {
  auto inbox = NewInbox();
  for (const char16_t* put : {u"", u"a;b", static_cast<const char16_t*>(nullptr)}) {
    if (!put || *put) {
      EXPECT_EQ(S_OK, inbox->put_FileID(put ? CComBSTR(put) : CComBSTR()));
    }
    CComBSTR read;
    ASSERT_EQ(S_OK, inbox->get_FileID(&read));
    ASSERT_NE(nullptr, read.m_str);  // an empty text, never null
    EXPECT_EQ(put ? put : u"", read.Str());
  }
  EXPECT_EQ(E_POINTER, inbox->get_FileID(nullptr));
}

TEST(Object, PageMethodsWithoutATargetFailCleanly) {
  testing_support::RecordingHost host;
  hostkit::HostScope scope(&host);
  auto inbox = NewInbox();
  EXPECT_EQ(E_POINTER, inbox->DisplayMessages());
  EXPECT_EQ(E_POINTER, inbox->DisplayMessagesEx(nullptr));
  EXPECT_EQ(E_POINTER, inbox->ViewMessage());
  EXPECT_EQ(E_POINTER, inbox->ViewMessageEx(CComBSTR(u"fr")));
  EXPECT_EQ(E_POINTER, inbox->ComposeMessage());
}

DISPID IdOf(IDispatch* d, const char16_t* name) {
  DISPID id = 0;
  LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
  EXPECT_EQ(S_OK, d->GetIDsOfNames(IID_NULL, names, 1, 0, &id)) << platform::U8(name);
  return id;
}

// IMyInbox's members in slot order with their DISPIDs.
const std::pair<const char16_t*, DISPID> kMembers[] = {
    {u"DisplayMessages", 2},      {u"SetTarget", 3},         {u"ViewMessage", 4},
    {u"ComposeMessage", 20},      {u"FaxFile", 24},          {u"DeleteMessage", 25},
    {u"EnumContacts", 26},        {u"FileID", 27},           {u"AddAddress", 28},
    {u"ResolveContacts", 29},     {u"UpdateResolvedContacts", 30}, {u"Destroy", 31},
    {u"SaveAttachment", 32},      {u"ListAttachments", 34},  {u"MeetingResponse", 35},
    {u"ViewMessageEx", 36},       {u"DisplayMessagesEx", 37}, {u"GetAttachment", 38},
    {u"RemoveAttachment", 39},    {u"GetAttachment2", 40}};

// A client that knows nothing of the interface: it enumerates the type
// information, finds the members and their parameters there, and calls them.
TEST(Dispatch, TypeInformationDescribesTheMembersAsDispatchSeesThem) {
  auto inbox = NewInbox();
  IDispatch* d = inbox;
  UINT count = 0;
  ASSERT_EQ(S_OK, d->GetTypeInfoCount(&count));
  ASSERT_EQ(1u, count);
  CComPtr<ITypeInfo> info;
  EXPECT_EQ(DISP_E_BADINDEX, d->GetTypeInfo(1, 0, &info));
  ASSERT_EQ(S_OK, d->GetTypeInfo(0, 0, &info));
  ASSERT_TRUE(info);
  TYPEATTR* attr = nullptr;
  ASSERT_EQ(S_OK, info->GetTypeAttr(&attr));
  EXPECT_EQ(IID_IMyInbox, attr->guid);
  EXPECT_EQ(TKIND_DISPATCH, attr->typekind);
  const UINT functions = attr->cFuncs;
  info->ReleaseTypeAttr(attr);

  std::vector<std::pair<std::u16string, DISPID>> listed;
  std::map<std::u16string, std::vector<std::pair<std::u16string, USHORT>>> params;
  std::map<std::u16string, int> kinds;
  for (UINT i = 0; i < functions; ++i) {
    FUNCDESC* f = nullptr;
    ASSERT_EQ(S_OK, info->GetFuncDesc(i, &f));
    BSTR names[10] = {};
    UINT got = 0;
    ASSERT_EQ(S_OK, info->GetNames(f->memid, names, 10, &got));
    std::u16string name(platform::BstrView(names[0]));
    if (listed.empty() || listed.back().first != name) listed.emplace_back(name, f->memid);
    kinds[name] |= f->invkind;
    // Every name the type information gives resolves through IDispatch to the same place.
    std::vector<LPOLESTR> all(names, names + got);
    std::vector<DISPID> ids(got);
    EXPECT_EQ(S_OK, d->GetIDsOfNames(IID_NULL, all.data(), got, 0, ids.data())) << platform::U8(name);
    EXPECT_EQ(f->memid, ids[0]);
    if (f->invkind != INVOKE_PROPERTYPUT) {
      ASSERT_EQ(static_cast<UINT>(f->cParams) + 1, got) << platform::U8(name);
      for (UINT k = 1; k < got; ++k) {
        EXPECT_EQ(static_cast<DISPID>(k - 1), ids[k]);
        params[name].emplace_back(platform::BstrView(names[k]), f->lprgelemdescParam[k - 1].paramdesc.wParamFlags);
      }
    }
    for (UINT k = 0; k < got; ++k) SysFreeString(names[k]);
    info->ReleaseFuncDesc(f);
  }
  ASSERT_EQ(std::size(kMembers), listed.size());
  for (std::size_t i = 0; i < listed.size(); ++i) {
    EXPECT_EQ(kMembers[i].first, listed[i].first);
    EXPECT_EQ(kMembers[i].second, listed[i].second);
    EXPECT_EQ(listed[i].first == u"FileID" ? INVOKE_PROPERTYGET | INVOKE_PROPERTYPUT : INVOKE_FUNC,
              kinds[listed[i].first]);
  }
  // Parameter names and positions were checked above; their directions here.
  EXPECT_EQ(PARAMFLAG_FIN, params[u"GetAttachment2"].front().second);
  EXPECT_EQ(PARAMFLAG_FOUT, params[u"GetAttachment2"].back().second);
  EXPECT_EQ(PARAMFLAG_FOUT | PARAMFLAG_FRETVAL, params[u"RemoveAttachment"].back().second);
  EXPECT_TRUE(params[u"Destroy"].empty());
}

TEST(Dispatch, ResolvesNamesConvertsArgumentsAndReportsBadCalls) {
  auto inbox = NewInbox();
  IDispatch* d = inbox;
  // Names resolve ignoring case (each member's DISPID is checked with the type information).
  EXPECT_EQ(27, IdOf(inbox, u"fileid"));
  LPOLESTR unknown[] = {const_cast<LPOLESTR>(u"SendFax")};
  DISPID id = 0;
  EXPECT_EQ(DISP_E_UNKNOWNNAME, inbox->GetIDsOfNames(IID_NULL, unknown, 1, 0, &id));
  EXPECT_EQ(DISPID_UNKNOWN, id);
  // FileID put with a number (converted to text), then get.
  CComVariant number(LONG(42));
  EXPECT_EQ(S_OK, platform::InvokeByDispid(d, 27, DISPATCH_PROPERTYPUT, {number}, nullptr));
  CComVariant got;
  EXPECT_EQ(S_OK, platform::InvokeByDispid(d, 27, DISPATCH_PROPERTYGET, {}, &got));
  ASSERT_EQ(VT_BSTR, got.vt);
  EXPECT_EQ(u"42", platform::BstrView(got.bstrVal));

  CComVariant result;
  EXPECT_EQ(DISP_E_MEMBERNOTFOUND, platform::InvokeByDispid(d, 33, DISPATCH_METHOD, {}, &result));
  EXPECT_EQ(DISP_E_BADPARAMCOUNT, platform::InvokeByDispid(d, 24, DISPATCH_METHOD, {number}, &result));
  EXPECT_EQ(DISP_E_BADPARAMCOUNT, platform::InvokeByDispid(d, 3, DISPATCH_METHOD, {}, &result));
  CComVariant text(u"not a target");
  EXPECT_EQ(DISP_E_TYPEMISMATCH, platform::InvokeByDispid(d, 3, DISPATCH_METHOD, {text}, &result));
  // SetTarget takes the target as an IDispatch (ours, the variant's, the object's), an empty value clears it.
  auto target = RecordingTarget::Create();
  CComVariant arg(static_cast<IDispatch*>(target.p));
  EXPECT_EQ(S_OK, platform::InvokeByDispid(d, 3, DISPATCH_METHOD, {arg}, nullptr));
  EXPECT_EQ(3u, target->RefCount());
  EXPECT_EQ(S_OK, platform::InvokeByDispid(d, 3, DISPATCH_METHOD, {CComVariant()}, nullptr));
  EXPECT_EQ(2u, target->RefCount());
  CComVariant letters(u"abc");
  EXPECT_EQ(DISP_E_TYPEMISMATCH,
            platform::InvokeByDispid(d, 26, DISPATCH_METHOD, {letters, letters}, &result));
  // A member that fails reports its code as an exception.
  EXCEPINFO info{};
  DISPPARAMS params{&number, nullptr, 1, 0};
  EXPECT_EQ(DISP_E_EXCEPTION, d->Invoke(29, IID_NULL, 0, DISPATCH_METHOD, &params, &result, &info, nullptr));
  EXPECT_EQ(E_NOTIMPL, info.scode);
}

// Calls a member by its vtable slot (1-based after the seven IUnknown and
// IDispatch slots), as a client compiled against the interface does: texts as
// BSTR, numbers as 32-bit integers, then the out VARIANT (when given) or the
// returned text.
HRESULT CallSlot(IMyInbox* p, int slot, const std::vector<CComVariant>& a, VARIANT* out, BSTR* text) {
  void* fn = (*reinterpret_cast<void***>(p))[7 + slot - 1];
  std::string sig;
  for (const auto& v : a) sig += v.vt == VT_BSTR ? 's' : 'n';
  const auto s = [&](std::size_t i) { return a[i].bstrVal; };
  using B = BSTR;
  using R = HRESULT;
  if (sig.empty()) return reinterpret_cast<R (*)(IMyInbox*)>(fn)(p);
  if (sig == "s") return reinterpret_cast<R (*)(IMyInbox*, B)>(fn)(p, s(0));
  if (sig == "n") return reinterpret_cast<R (*)(IMyInbox*, LONG)>(fn)(p, a[0].lVal);
  if (sig == "sn") return reinterpret_cast<R (*)(IMyInbox*, B, LONG)>(fn)(p, s(0), a[1].lVal);
  if (sig == "ns") return reinterpret_cast<R (*)(IMyInbox*, LONG, B)>(fn)(p, a[0].lVal, s(1));
  if (sig == "ss") return reinterpret_cast<R (*)(IMyInbox*, B, B, B*)>(fn)(p, s(0), s(1), text);
  if (sig == "ssssss" && !out)
    return reinterpret_cast<R (*)(IMyInbox*, B, B, B, B, B, B)>(fn)(p, s(0), s(1), s(2), s(3), s(4), s(5));
  if (sig == "ssssss")
    return reinterpret_cast<R (*)(IMyInbox*, B, B, B, B, B, B, VARIANT*)>(fn)(p, s(0), s(1), s(2), s(3), s(4), s(5),
                                                                              out);
  return reinterpret_cast<R (*)(IMyInbox*, B, B, B, B, B, B, B, VARIANT*)>(fn)(p, s(0), s(1), s(2), s(3), s(4), s(5),
                                                                               s(6), out);
}

// One object in a world where every member has something to do: a meeting
// request with an attachment named by the query, a posted recipient line, a
// target. Effects() sums up all a member can change.
struct World {
  testing_support::TestInstall install;
  testing_support::RecordingHost host;
  hostkit::HostScope scope{&host};
  std::shared_ptr<testing_support::FakeMailbox> box = std::make_shared<testing_support::FakeMailbox>();
  CComPtr<RecordingTarget> target = RecordingTarget::Create();
  CComPtr<IMyInbox> inbox = NewInbox();
  testing_support::TempDir dir;

  World() {
    // The view's labels in two languages, so that the language a member passes shows.
    for (const char* code : {"en", "fr"}) {
      std::map<UINT, std::u16string> texts;
      for (UINT id = 3110; id <= 3122; ++id) texts[id] = platform::U16(code);
      install.WriteSatellite("quorraFax", code, texts);
    }
    testing_support::FakeMessage m;
    m.id = testing_support::TestGuid(1);
    m.meetingRequest = true;
    m.attachments = {{1, u"C:\\a.doc"}};
    m.attachmentBytes = {1, 2, 3};
    box->messages.push_back(m);
    host.connectionFactory = [this] { return new testing_support::FakeMail(box); };
    host.query = {{u"Folder", EncodeUrlSafe(u"Inbox")},
                  {u"Guid", platform::GuidToString(m.id)},
                  {u"Type", u"AcceptMeeting"},
                  {u"AttachID", u"1"}};
    host.form = {{u"RCount", u"1"}, {u"RState1", u"0"}, {u"RName1", u"Zed"}};
    host.ResetRequest();
    inbox->SetTarget(target);
  }
  std::string Effects(HRESULT hr, const VARIANT& out, BSTR retval) {
    std::u16string all = platform::U16(std::to_string(hr)) + u"|" + host.Body() + u"|" + host.RedirectUrl() + u"|";
    for (auto& c : target->calls) all += c + u";";
    for (auto& c : box->calls) all += c + u";";
    for (auto& [k, v] : host.sessionWrites) all += k + u"=" + v + u";";
    for (int type : {1, 2})
      for (auto& a : CMyInboxTestAccess::PendingAddresses(*static_cast<CMyInbox*>(inbox.p), type))
        all += a + u";";
    all += u"|" + platform::U16(std::to_string(out.vt)) + u"|" + std::u16string(platform::BstrView(retval));
    if (std::filesystem::exists(dir / "saved.bin")) all += u"|saved";
    return platform::U8(all);
  }
};

// Each member called by its name through IDispatch does what the same member
// does through its vtable slot, and no two members do the same thing (bar
// those alike by design), so a member reached under another's DISPID shows.
TEST(Dispatch, EveryMemberByNameDoesWhatItsSlotDoes) {
  using V = CComVariant;
  struct Member {
    const char16_t* name;
    int slot;
    std::vector<V> args;  // "*saved*" stands for a file in the world's folder
    bool out = false;     // an out VARIANT follows the arguments
  };
  const std::u16string id = platform::GuidToString(testing_support::TestGuid(1));
  const std::vector<Member> members = {
      {u"DisplayMessages", 1, {}},
      {u"ViewMessage", 3, {}},
      {u"ComposeMessage", 4, {}},
      {u"FaxFile", 5, {}},
      {u"DeleteMessage", 6, {V(u"x")}},
      {u"EnumContacts", 7, {V(u"a"), V(LONG(2))}},
      {u"AddAddress", 10, {V(LONG(2)), V(u"pending")}},
      {u"ResolveContacts", 11, {V(LONG(1))}},
      {u"UpdateResolvedContacts", 12, {V(LONG(2))}},
      {u"Destroy", 13, {}},
      {u"SaveAttachment", 14, {V(u"k"), V(u"t"), V(u""), V(u""), V(u"bmFtZQ--"), V(u"*saved*")}},
      {u"ListAttachments", 15, {V(u"YQ--;Yg--")}},
      {u"MeetingResponse", 16, {}},
      {u"ViewMessageEx", 17, {V(u"fr")}},
      {u"DisplayMessagesEx", 18, {V(u"fr")}},
      {u"GetAttachment", 19, {V(u"k"), V(u"s"), V(u"f"), V(id.c_str()), V(u"1"), V(u"n")}, true},
      {u"RemoveAttachment", 20, {V(u"b;"), V(u"a;b;c")}},
      {u"GetAttachment2", 21, {V(u"k"), V(u"t"), V(u"s"), V(u"f"), V(id.c_str()), V(u"1"), V(u"n")}, true},
  };
  // What a member does, called through its slot or by its name.
  auto effects = [](const Member& m, bool byName) {
    World w;
    std::vector<V> args = m.args;
    for (auto& a : args)
      if (a.vt == VT_BSTR && platform::BstrView(a.bstrVal) == u"*saved*")
        a = platform::U16((w.dir / "saved.bin").string()).c_str();
    CComVariant out;
    CComBSTR text;
    if (!byName) {
      HRESULT hr = CallSlot(w.inbox, m.slot, args, m.out ? &out : nullptr, &text);
      return w.Effects(hr, out, text);
    }
    std::vector<VARIANT> params(args.rbegin(), args.rend());  // arguments travel last first
    if (m.out) {
      VARIANT ref;
      ref.vt = VT_BYREF | VT_VARIANT;
      ref.pvarVal = &out;
      params.insert(params.begin(), ref);
    }
    DISPPARAMS dp{params.empty() ? nullptr : params.data(), nullptr, static_cast<UINT>(params.size()), 0};
    CComVariant result;
    HRESULT hr = w.inbox->Invoke(IdOf(w.inbox, m.name), IID_NULL, 0, DISPATCH_METHOD, &dp, &result, nullptr, nullptr);
    return w.Effects(hr, out, result.vt == VT_BSTR ? result.bstrVal : nullptr);
  };
  std::vector<std::string> seen;
  for (const auto& m : members) {
    seen.push_back(effects(m, false));
    EXPECT_EQ(seen.back(), effects(m, true)) << platform::U8(m.name);
  }
  // Members that do the same by design: three that do nothing, and the
  // listing, which takes its language from the request either way.
  const std::map<std::u16string_view, int> alike = {
      {u"FaxFile", 1}, {u"EnumContacts", 1}, {u"Destroy", 1}, {u"DisplayMessages", 2}, {u"DisplayMessagesEx", 2}};
  auto group = [&](const char16_t* name) { return alike.count(name) ? alike.at(name) : -1; };
  for (std::size_t i = 0; i < members.size(); ++i) {
    for (std::size_t j = i + 1; j < members.size(); ++j) {
      if (group(members[i].name) > 0 && group(members[i].name) == group(members[j].name)) continue;
      EXPECT_NE(seen[i], seen[j]) << platform::U8(members[i].name) << " / " << platform::U8(members[j].name);
    }
  }
}

}  // namespace
