#include "recipients/PostFields.h"

#include "platform/Text.h"

namespace postfields {

namespace {
// The item's value object: an IStringList as VT_DISPATCH, or VT_EMPTY.
bool GetItem(IRequestDictionary* form, std::u16string_view name, CComVariant& item) {
  if (!form) return false;
  CComVariant key(name);
  return SUCCEEDED(form->get_Item(key, &item));
}
}  // namespace

std::u16string FormText(IRequestDictionary* form, std::u16string_view name) {
  CComVariant item;
  if (!GetItem(form, name, item) || item.vt == VT_EMPTY || item.vt == VT_NULL) return {};
  CComVariant text;
  if (FAILED(VariantChangeType(&text, &item, 0, VT_BSTR)) || text.vt != VT_BSTR) return {};
  return std::u16string(platform::BstrView(text.bstrVal));
}

int FormValueCount(IRequestDictionary* form, std::u16string_view name) {
  CComVariant item;
  if (!GetItem(form, name, item)) return 0;
  if (item.vt == VT_DISPATCH && item.pdispVal) {
    CComPtr<IStringList> list;
    if (FAILED(item.pdispVal->QueryInterface(IID_IStringList, reinterpret_cast<void**>(&list))) ||
        !list)
      return 0;
    int count = 0;
    if (FAILED(list->get_Count(&count))) return 0;
    return count;
  }
  return item.vt == VT_EMPTY || item.vt == VT_NULL ? 0 : 1;
}

bool IsButtonPressed(IRequestDictionary* form, std::u16string_view label) {
  if (label.empty() || FormValueCount(form, label) == 0) return false;
  return platform::EqualsNoCase(FormText(form, label), label);
}

std::u16string JoinWith(const std::vector<std::u16string>& items, std::u16string_view separator) {
  std::u16string out;
  for (std::size_t i = 0; i < items.size(); ++i) {
    if (i) out += separator;
    out += items[i];
  }
  return out;
}

}  // namespace postfields
