#include "recipients/ComposeState.h"

#include "frame/Encoding.h"
#include "host/HostKit.h"
#include "platform/Text.h"

void ReadSessionList(std::u16string_view name, ComposeList& list) {
  list.clear();
  std::u16string text;
  if (FAILED(VGetSessionVariable(name, text))) return;
  std::size_t start = 0;
  for (;;) {
    std::size_t semi = text.find(u';', start);
    std::u16string_view piece = std::u16string_view(text).substr(
        start, semi == std::u16string::npos ? std::u16string::npos : semi - start);
    std::u16string item = platform::Trim(piece);
    if (!item.empty()) list.push_back(std::move(item));
    if (semi == std::u16string::npos) break;
    start = semi + 1;
  }
}

ComposeList ReadSessionList(std::u16string_view name) {
  ComposeList list;
  ReadSessionList(name, list);
  return list;
}

std::u16string JoinSessionList(const ComposeList& list) {
  std::u16string text;
  for (const auto& raw : list) {
    std::u16string item = platform::Trim(raw);
    if (text.empty()) {
      text = std::move(item);
    } else {
      text += u';';
      text += item;
    }
  }
  return text;
}

void WriteSessionList(std::u16string_view name, const ComposeList& list) {
  VPutSessionVariable(name, JoinSessionList(list));
}

void ReadFormList(std::u16string_view field, ComposeList& list) {
  CComPtr<IRequest> request;
  if (FAILED(VGetIISObject(request))) return;
  CComPtr<IRequestDictionary> form;
  if (FAILED(request->get_Form(&form)) || !form) return;
  CComVariant key(field);
  CComVariant item;
  if (FAILED(form->get_Item(key, &item)) || item.vt != VT_DISPATCH || !item.pdispVal) return;
  CComPtr<IStringList> values;
  if (FAILED(item.pdispVal->QueryInterface(IID_IStringList, reinterpret_cast<void**>(&values))) ||
      !values)
    return;
  int count = 0;
  if (FAILED(values->get_Count(&count))) return;
  for (int i = 1; i <= count; ++i) {
    CComVariant index(static_cast<LONG>(i));
    CComVariant value;
    if (FAILED(values->get_Item(index, &value))) continue;
    CComVariant text;
    if (FAILED(VariantChangeType(&text, &value, 0, VT_BSTR))) continue;
    std::u16string_view v = platform::BstrView(text.bstrVal);
    if (v.empty()) continue;
    std::size_t start = 0;
    for (std::size_t semi = v.find(u';'); semi != std::u16string_view::npos;
         semi = v.find(u';', start)) {
      list.emplace_back(v.substr(start, semi - start));
      start = semi + 1;
    }
    if (start < v.size()) list.emplace_back(v.substr(start));
  }
}

void ClearComposeSession() {
  for (const char16_t* name : {keys::kComposeBody, keys::kComposeSubject, keys::kComposeTo,
                               keys::kComposeCC, keys::kComposeBCC, keys::kFileID, keys::kReturnTo})
    VPutSessionVariable(name, u"");
}
