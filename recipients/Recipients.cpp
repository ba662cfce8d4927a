// Recipient updates handed over by the portal's own pages: the resolved
// names of one address line (UpdateResolvedContacts) and the pending
// addresses of AddAddress.
#include <set>

#include "frame/Encoding.h"
#include "inbox/MyInbox.h"
#include "platform/Exceptions.h"
#include "platform/Text.h"

namespace {

// Entry numbers i (0 <= i < count) whose "RState<i>" field was posted, in
// ascending order. Every other entry reads an empty state and keeps nothing,
// so only these need visiting; a huge RCount then costs nothing.
std::set<long> PostedEntries(long count) {
  std::set<long> entries;
  CComPtr<IRequest> request;
  if (FAILED(VGetIISObject(request))) return entries;
  CComPtr<IRequestDictionary> form;
  if (FAILED(request->get_Form(&form)) || !form) return entries;
  int fields = 0;
  if (FAILED(form->get_Count(&fields))) return entries;
  static constexpr std::u16string_view kPrefix = u"rstate";
  for (int k = 1; k <= fields; ++k) {
    CComVariant index(static_cast<LONG>(k));
    CComVariant key;
    if (FAILED(form->get_Key(index, &key)) || key.vt != VT_BSTR) continue;
    std::u16string name = platform::ToLower(platform::BstrView(key.bstrVal));
    if (name.size() <= kPrefix.size() || name.compare(0, kPrefix.size(), kPrefix) != 0) continue;
    std::u16string_view digits = std::u16string_view(name).substr(kPrefix.size());
    // Only the form "%i" writes: decimal digits, no sign, no leading zero.
    if (digits.size() > 10 || (digits.size() > 1 && digits[0] == u'0')) continue;
    bool decimal = true;
    for (char16_t c : digits) decimal = decimal && c >= u'0' && c <= u'9';
    if (!decimal) continue;
    long long n = 0;
    for (char16_t c : digits) n = n * 10 + (c - u'0');
    if (n < count) entries.insert(static_cast<long>(n));
  }
  return entries;
}

std::u16string FormField(const char16_t* format, long entry) {
  std::u16string value;
  VGetRequestFormVariable(platform::FormatW(format, entry), value);  // result not examined
  return value;
}

}  // namespace

HRESULT CMyInbox::UpdateResolvedContacts(INT iField) {
  AFX_MANAGE_STATE_MODULE();
  try {
    std::u16string countText;
    if (VGetRequestFormVariable(u"RCount", countText) != S_OK) return E_FAIL;
    long count = platform::ParseLongPrefix(countText);

    std::u16string list;
    if (count > 0) {
      for (long entry : PostedEntries(count)) {
        std::u16string state = FormField(u"RState%i", entry);
        std::u16string name = FormField(u"RName%i", entry);
        if (state == u"-1" || state == u"0") {
          // the name as typed
        } else if (state == u"1") {
          name = FormField(u"RSelectName%i", entry);
        } else {
          continue;
        }
        list += platform::FormatW(u"%s ; ", name);
      }
    }

    if (iField == 1) {
      VPutSessionVariable(keys::kTTo, list);
    } else if (iField == 2) {
      VPutSessionVariable(keys::kTCC, list);
    }
    return S_OK;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  } catch (const CException&) {
    return E_FAIL;
  }
}

HRESULT CMyInbox::AddAddress(LONG type, BSTR name) {
  AFX_MANAGE_STATE_MODULE();
  try {
    if (type == 1) {
      m_pendingAddresses1.emplace_back(platform::BstrView(name));
    } else if (type == 2) {
      m_pendingAddresses2.emplace_back(platform::BstrView(name));
    }
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  return S_OK;
}
