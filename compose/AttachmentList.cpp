#include "compose/AttachmentList.h"

#include "frame/Diagnostics.h"
#include "frame/Encoding.h"
#include "inbox/MyInbox.h"
#include "platform/Exceptions.h"
#include "platform/Files.h"
#include "platform/Format.h"

namespace {
// Splits a decoded item into the file name to show and the extension.
void SplitShownName(std::u16string_view decodedItem, std::u16string& name, std::u16string& ext) {
  platform::PathParts parts = platform::SplitPath(decodedItem);
  std::size_t bar = parts.fname.find(u'|');
  name = bar == std::u16string::npos ? std::move(parts.fname) : parts.fname.substr(bar + 1);
  ext = std::move(parts.ext);
}
}  // namespace

std::u16string AttachmentShownName(std::u16string_view decodedItem) {
  std::u16string name, ext;
  SplitShownName(decodedItem, name, ext);
  return name + ext;
}

bool CMyInbox::RemoveDuplicateAttachments(std::vector<std::u16string>& list) {
  // From the back, so that the first occurrence of an item always stays.
  for (std::size_t i = list.size(); i-- > 1;) {
    std::u16string item = DecodeUrlSafe(list[i]);
    for (std::size_t j = 0; j < i; ++j) {
      if (DecodeUrlSafe(list[j]) != item) continue;
      list.erase(list.begin() + static_cast<std::ptrdiff_t>(i));
      ReportException("CMyInbox::RemoveDuplicateAttachments", __LINE__, kEventNotice,
                      platform::FormatW(u"Duplicate Attachment %s removed.\n", item));
      break;
    }
  }
  return true;
}

HRESULT CMyInbox::ListAttachments(BSTR FileID) {
  AFX_MANAGE_STATE_MODULE();
  try {
    std::u16string_view list = platform::BstrView(FileID);
    std::size_t start = 0;
    while (start < list.size()) {
      std::size_t semi = list.find(u';', start);
      std::size_t end = semi == std::u16string_view::npos ? list.size() : semi;
      std::u16string_view item = list.substr(start, end - start);
      start = end + 1;
      if (item.empty()) continue;
      std::u16string shown, ext;
      SplitShownName(DecodeUrlSafe(item), shown, ext);
      VWriteResponseString(u"<OPTION value='%s'>%s%s</OPTION>", item, shown, ext);
    }
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  } catch (const CException&) {
    return E_FAIL;
  }
  return S_OK;
}

HRESULT CMyInbox::RemoveAttachment(BSTR fileName, BSTR filesLis, BSTR* pVal) {
  AFX_MANAGE_STATE_MODULE();
  if (!pVal) return E_POINTER;
  std::u16string_view name = platform::BstrView(fileName);
  if (name.empty()) return S_OK;  // pVal stays as the caller left it
  try {
    std::u16string list(platform::BstrView(filesLis));
    // A plain substring: the ";" on either side stays.
    std::size_t at = list.find(name);
    if (at != std::u16string::npos) list.erase(at, name.size());
    BSTR result = platform::AllocBstr(list);
    if (!result) return E_OUTOFMEMORY;
    *pVal = result;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  return S_OK;
}
