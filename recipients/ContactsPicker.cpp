// The contacts picker: entries of the user's contacts folder or of the
// address book, narrowed by a filter, offered for the To, CC and BCC lines.
#include "frame/Chrome.h"
#include "inbox/MyInbox.h"
#include "platform/Exceptions.h"
#include "platform/Text.h"
#include "recipients/RecipientsConstants.h"

using platform::FormatW;
using platform::LoadString;
using platform::View;

namespace {
constexpr int kPickerLimit = 100;
}  // namespace

void CMyInbox::WriteContactsPicker(MAPIManaged::_CONTACTITEM* items, DWORD count, DWORD /*pageNumber*/,
                                   std::u16string_view filter, bool fromContacts) {
  LONG width = 0, fullOutput = 0;
  m_pTarget->get_DisplayWidth(&width);
  m_pTarget->get_FullOutput(&fullOutput);
  m_pTarget->StartPage();
  VWriteResponseText(u"<form id=compose name=compose action=ComposeMessage.asp method=post>");
  WriteNavigationBar(fullOutput, recipients::kIdsPickerTitle);

  WriteBarStart(fullOutput);
  WriteSubmitButtonById(fullOutput, recipients::kIdsClose, u"Gifs/Previous.gif");
  WriteSubmitButtonById(fullOutput, recipients::kIdsAddTo, u"Gifs/Reply.gif");
  WriteSubmitButtonById(fullOutput, recipients::kIdsAddCc, u"Gifs/Reply.gif");
  WriteSubmitButtonById(fullOutput, recipients::kIdsAddBcc, u"Gifs/Reply.gif");
  VWriteResponseText(kBarClose);

  m_pTarget->StartTable(
      CComBSTR(fullOutput ? std::u16string(u"width=100%") : FormatW(u"width=%d", width - 8)), 0);

  const std::u16string needle = platform::ToLower(filter);
  std::u16string options;
  int written = 0;
  for (DWORD i = 0; items && i < count && written < kPickerLimit; ++i) {
    const MAPIManaged::_CONTACTITEM& item = items[i];
    auto name = View(item.pszDisplayName);
    if (name.empty()) continue;
    auto address = View(item.pszEmailAddress);
    auto value = address.empty() ? name : address;
    if (!needle.empty() &&
        platform::ToLower(VHTMLDecodeString(name)).find(needle) == std::u16string::npos)
      continue;
    options += FormatW(u"<option value='%s'>%s</option>", value, name);
    ++written;
  }

  // The form body comes from the translation; one without it leaves it out.
  const std::u16string search = LoadString(recipients::kIdsSearch);
  const char16_t* marker = fromContacts ? u"" : u"selected";
  std::u16string body;
  try {
    body = FormatW(LoadString(recipients::kIdsPickerForm), search, search, marker, marker, options);
  } catch (const CInvalidArgException&) {
    body.clear();
  }
  VWriteResponseText(body);

  m_pTarget->EndTable();
  VWriteResponseText(u"</form>");
  if (written == kPickerLimit)
    VWriteResponseText(FormatW(LoadString(recipients::kIdsPickerLimit), kPickerLimit));
  m_pTarget->EndPage();
}
