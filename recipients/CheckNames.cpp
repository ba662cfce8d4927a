// Name resolution ("Check Names"): addresses and names resolved earlier are
// kept; every bare name is looked up in the global address list and in the
// user's contacts, and a page lets the user pick the entry that was meant,
// keep the name as typed, or drop it.
#include <memory>

#include "frame/Chrome.h"
#include "frame/Diagnostics.h"
#include "frame/Encoding.h"
#include "inbox/MyInbox.h"
#include "platform/Text.h"
#include "recipients/ComposeState.h"
#include "recipients/PostFields.h"
#include "recipients/RecipientsConstants.h"

using platform::FormatW;
using platform::LoadString;
using platform::View;

namespace {

constexpr std::size_t kGalMatchLimit = 100;

// The expression the failure report names for the contacts call. Fixed: the
// host's failure log has always carried this text for it.
constexpr char kContactsCallExpression[] = "SUCCEEDED(m_mapi->Contacts(&contacts,&contactItems,0,0))";

struct RecipientField {
  const char16_t* formField;  // posted recipient field
  UINT captionId;
  const char16_t* group;     // row-group name of the resolution page
  const char16_t* checkField;  // hidden field as read back
  const char16_t* variable;  // compose state variable
};

constexpr RecipientField kFields[] = {
    {keys::kTTo, recipients::kIdsTo, keys::kTo, keys::kCheckTo, keys::kComposeTo},
    {keys::kTCC, recipients::kIdsCc, keys::kCc, keys::kCheckCc, keys::kComposeCC},
    {keys::kTBCC, recipients::kIdsBcc, keys::kBCc, keys::kCheckBcc, keys::kComposeBCC},
};

// Recipients that need no lookup: addresses, and names in single quotes.
bool NeedsNoLookup(const std::u16string& item) {
  if (item.find(u'@') != std::u16string::npos) return true;
  return !item.empty() && item.front() == u'\'' && item.rfind(u'\'') == item.size() - 1;
}

std::u16string OptionValue(const MAPIManaged::_CONTACTITEM& item) {
  auto address = View(item.pszEmailAddress);
  return std::u16string(address.empty() ? View(item.pszDisplayName) : address);
}

bool Matches(const MAPIManaged::_CONTACTITEM& item, const std::u16string& needle, bool decode) {
  for (const char16_t* field :
       {item.pszEmailAddress, item.pszDisplayName, item.pszName2, item.pszName1}) {
    std::u16string text = decode ? VHTMLDecodeString(View(field)) : std::u16string(View(field));
    if (platform::ToLower(text).find(needle) != std::u16string::npos) return true;
  }
  return false;
}

struct Contacts {
  MAPIManaged::_CONTACTITEM* items = nullptr;
  DWORD count = 0;
  ~Contacts() { delete[] items; }
};

// The rows of one recipient field: a caption, the hidden list of its bare
// names, and one selection list per bare name.
void WriteFieldRows(MAPIManaged::MAPINativeConnection* mapi, const RecipientField& field,
                    const std::vector<std::u16string>& bareNames, const std::u16string& bareText,
                    const Contacts& contacts) {
  std::u16string caption = LoadString(field.captionId);
  if (!caption.empty()) VWriteResponseText(FormatW(u"<tr><td colspan=2><b>%s:</b></td></tr>", caption));
  VWriteResponseText(FormatW(u"<input type=hidden name='check:%s' value='%s'>", field.group,
                             VHTMLEncodeString2(bareText)));

  const std::u16string noMatch = LoadString(recipients::kIdsNoMatch),
                       oneMatch = LoadString(recipients::kIdsOneMatch),
                       drop = LoadString(recipients::kIdsRemoveName),
                       keep = LoadString(recipients::kIdsKeepAsTyped),
                       manyMatches = LoadString(recipients::kIdsManyMatches);
  for (const auto& name : bareNames) {
    const std::u16string select = FormatW(u"%s:%s", field.group, name);
    const std::u16string needle = platform::ToLower(name);

    Contacts gal;
    HRESULT hr = mapi->GAL(&gal.items, &gal.count, name.c_str(), true);
    if (FAILED(hr)) {
      trace::TraceMessage(trace::DTF_ERROR, trace::kMsgGalLookupFailed, {name, static_cast<LONG>(hr)});
      gal.count = 0;
    }
    std::vector<const MAPIManaged::_CONTACTITEM*> matches;
    for (DWORD i = 0; gal.items && i < gal.count && matches.size() < kGalMatchLimit; ++i)
      if (Matches(gal.items[i], needle, true)) matches.push_back(&gal.items[i]);
    for (DWORD i = 0; contacts.items && i < contacts.count; ++i)
      if (Matches(contacts.items[i], needle, false)) matches.push_back(&contacts.items[i]);

    std::u16string html;
    if (matches.empty()) {
      html = FormatW(u"<tr><td><b>%s</b></td><td>%s</td><td>", name, noMatch);
      html += FormatW(
          u"<select name='%s'><option selected value=''>%s</value><option "
          u"value='%s'>%s</value></select>",
          select, drop, name, keep);
    } else if (matches.size() == 1) {
      html = FormatW(u"<tr><td><b>%s</b></td><td>%s</td><td>", name, oneMatch);
      html += FormatW(
          u"<select name='%s'><option value=''>%s</value><option selected "
          u"value='%s'>%s</value></select>",
          select, drop, OptionValue(*matches[0]), View(matches[0]->pszDisplayName));
    } else {
      html = FormatW(u"<tr><td><b>%s</b></td><td>%d %s</td><td>", name,
                     static_cast<int>(matches.size()), manyMatches);
      html += FormatW(
          u"<select name='%s'><option selected value=''>%s</value><option "
          u"value='%s'>%s</value>",
          select, drop, name, keep);
      for (const auto* match : matches)
        html += FormatW(u"<option value='%s'>%s</option>", OptionValue(*match),
                        View(match->pszDisplayName));
      html += u"</select>";
    }
    html += u"</td></tr>";
    VWriteResponseText(html);
  }
}

}  // namespace

HRESULT CMyInbox::CheckNames(IRequestDictionary* form) {
  (void)form;
  m_bCheckNamesShown = 0;
  std::vector<std::u16string> posted[3];
  for (int f = 0; f < 3; ++f) ReadFormList(kFields[f].formField, posted[f]);
  if (posted[0].empty() && posted[1].empty() && posted[2].empty()) return S_OK;

  std::vector<std::u16string> keep[3], bare[3];
  std::u16string bareText[3];
  bool anyBare = false;
  for (int f = 0; f < 3; ++f) {
    for (const auto& item : posted[f]) {
      std::u16string t = platform::Trim(item);
      if (t.empty()) continue;
      if (NeedsNoLookup(t)) {
        keep[f].push_back(t);
      } else {
        bare[f].push_back(t);
        bareText[f] += t + u";";
        anyBare = true;
      }
    }
  }
  for (int f = 0; f < 3; ++f) WriteSessionList(kFields[f].variable, keep[f]);
  if (!anyBare) return S_OK;

  Contacts contacts;
  if (FAILED(m_mapi->Contacts(&contacts.items, &contacts.count, nullptr, nullptr))) {
    VReportAPIFailure(kContactsCallExpression, kReportSource, __LINE__, "CMyInbox::CheckNames");
    contacts.items = nullptr;
    contacts.count = 0;
  }

  LONG fullOutput = 0;
  m_pTarget->get_FullOutput(&fullOutput);
  m_pTarget->StartPage();
  VWriteResponseText(u"<form id=compose name=compose action=ComposeMessage.asp method=post>");
  WriteNavigationBar(fullOutput, recipients::kIdsAcceptSelections);
  WriteBarStart(fullOutput);
  WriteSubmitButtonById(fullOutput, recipients::kIdsAcceptSelections, u"gifs/CheckNames.gif");
  VWriteResponseText(kBarClose);
  if (fullOutput) VWriteResponseText(u"<div id=\"scrollWindow\" class=\"ContentBody\">");
  VWriteResponseString(u"<table width=100%% border=0>");
  m_bCheckNamesShown = 1;

  for (int f = 0; f < 3; ++f)
    if (!bare[f].empty()) WriteFieldRows(m_mapi, kFields[f], bare[f], bareText[f], contacts);

  VWriteResponseText(u"</table>");
  if (fullOutput) VWriteResponseText(u"</div>");
  VWriteResponseText(u"</form>");
  m_pTarget->EndPage();
  return S_OK;
}

void CMyInbox::AcceptSelections(IRequestDictionary* form) {
  for (const RecipientField& field : kFields) {
    std::vector<std::u16string> list;
    ReadSessionList(field.variable, list);
    std::vector<std::u16string> names;
    ReadFormList(field.checkField, names);
    for (const auto& item : names) {
      std::u16string name = platform::Trim(item);
      std::u16string choice = postfields::FormText(form, FormatW(u"%s:%s", field.group, name));
      if (!choice.empty()) list.push_back(FormatW(u"'%s'", choice));
    }
    WriteSessionList(field.variable, list);
  }
}
