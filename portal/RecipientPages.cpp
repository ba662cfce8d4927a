// Recipients.asp: choosing among the directory entries that match the names
// typed on the To and Cc lines. The compose form's "Choose recipients"
// button posts the form (the typed text is kept in the compose state) and
// leads here. Each recipient gets a row: a name typed in part lists the
// matching entries of the address list and the personal contacts; the user
// takes one, keeps the name as typed or removes it. The page posts the
// resolved-recipients form (RCount, RState<i>, RName<i>, RSelectName<i>) of
// each line to the component's UpdateResolvedContacts, which stores the line
// in TTo or TCC; the line then becomes the message's To or Cc and the
// compose form follows. The contacts picker is one button away.
#include <httplib.h>

#include <memory>
#include <set>

#include "host/InboxInterfaces.h"
#include "host/MAPINativeConnection.h"
#include "platform/Text.h"
#include "portal/Pages.h"
#include "portal/PortalHost.h"
#include "portal/Server.h"
#include "portal/Util.h"

namespace portal {

namespace {

using platform::U16;
using platform::U8;

// At most this many entries are offered for one name.
constexpr std::size_t kMaxMatches = 50;

struct Line {
  const char* prefix;      // form field prefix on this page
  const char* caption;
  const char* composeVar;  // the compose state's list
  const char* resolvedVar; // where UpdateResolvedContacts puts it
  int field;               // its iField
};
constexpr Line kLines[] = {{"To", "To", "composeTo", "TTo", 1}, {"Cc", "Cc", "composeCC", "TCC", 2}};

struct Match {
  std::string label;  // as the mail library gives it: no markup can start in it
  std::string value;  // the address, or the name of an entry without one
};

bool NeedsLookup(const std::string& item) {
  if (item.find('@') != std::string::npos) return false;
  return !(item.size() >= 2 && item.front() == '\'' && item.back() == '\'');
}

std::string Text(const char16_t* s) { return s ? U8(platform::View(s)) : std::string(); }

// Matches from the address list first, then the personal contacts; one
// entry per value.
std::vector<Match> Lookup(MAPIManaged::MAPINativeConnection& mail, const std::string& name) {
  std::vector<Match> out;
  std::set<std::string> seen;
  auto take = [&](MAPIManaged::_CONTACTITEM* items, DWORD count) {
    std::unique_ptr<MAPIManaged::_CONTACTITEM[]> owned(items);
    for (DWORD i = 0; items && i < count && out.size() < kMaxMatches; ++i) {
      std::string display = Text(items[i].pszDisplayName), address = Text(items[i].pszEmailAddress);
      std::string value = address.empty() ? display : address;
      if (value.empty() || !seen.insert(ToLowerAscii(value)).second) continue;
      out.push_back({address.empty() || display.empty() ? value : display + " &lt;" + address + "&gt;", value});
    }
  };
  std::u16string needle = U16(name);
  MAPIManaged::_CONTACTITEM* items = nullptr;
  DWORD count = 0;
  if (SUCCEEDED(mail.GAL(&items, &count, needle.c_str(), false))) take(items, count);
  items = nullptr;
  count = 0;
  if (SUCCEEDED(mail.Contacts(&items, &count, u"", needle.c_str()))) take(items, count);
  return out;
}

std::string Option(const std::string& value, const std::string& text, bool selected) {
  return "<option value=\"" + value + "\"" + (selected ? " selected" : "") + ">" + text + "</option>";
}

// The rows of one line; values from the mail library are already encoded.
std::string LineRows(const Line& line, const std::vector<std::string>& items,
                     MAPIManaged::MAPINativeConnection* mail) {
  std::string p = line.prefix;
  std::string rows = "<tr><td colspan=\"3\" class=\"RecipientLine\"><b>" + std::string(line.caption) +
                     ":</b><input type=\"hidden\" name=\"" + p + ".RCount\" value=\"" +
                     std::to_string(items.size()) + "\"></td></tr>\r\n";
  for (std::size_t i = 0; i < items.size(); ++i) {
    std::string n = std::to_string(i);
    const std::string& item = items[i];
    rows += "<tr class=\"RecipientRow\"><td><b>" + HtmlEscape(item) + "</b><input type=\"hidden\" name=\"" + p +
            ".RName" + n + "\" value=\"" + HtmlEscape(item) + "\"></td>";
    std::vector<Match> matches;
    if (NeedsLookup(item) && mail) matches = Lookup(*mail, item);
    std::string state = "<select name=\"" + p + ".RState" + n + "\" id=\"" + p + "State" + n + "\">";
    if (!matches.empty()) state += Option("1", "Use", true);
    state += Option(NeedsLookup(item) ? "0" : "-1", NeedsLookup(item) ? "Keep as typed" : "Keep", matches.empty());
    state += Option("2", "Remove", false) + "</select>";
    std::string choice;
    if (!matches.empty()) {
      choice = "<select name=\"" + p + ".RSelectName" + n + "\" id=\"" + p + "Choice" + n + "\">";
      for (std::size_t k = 0; k < matches.size(); ++k) choice += Option(matches[k].value, matches[k].label, k == 0);
      choice += "</select> <span class=\"RecipientCount\">" + std::to_string(matches.size()) +
                (matches.size() == 1 ? " match" : " matches") + "</span>";
    } else if (NeedsLookup(item)) {
      choice = "<span class=\"RecipientCount\">No match</span>";
    }
    rows += "<td>" + state + "</td><td>" + choice + "</td></tr>\r\n";
  }
  return rows;
}

void ShowPage(PageEnv& env) {
  RequestContext ctx(env.portal, &*env.account, env.session.get(), {}, {}, {});
  std::unique_ptr<MAPIManaged::MAPINativeConnection> mail(ctx.GetMAPINative());
  std::string rows;
  for (const auto& line : kLines) {
    std::vector<std::string> items;
    for (const auto& piece : Split(env.session->Get(line.composeVar), ';'))
      if (std::string t = Trim(piece); !t.empty()) items.push_back(t);
    if (!items.empty()) rows += LineRows(line, items, mail.get());
  }
  std::string body =
      "<form method=\"post\" action=\"Recipients.asp\" id=\"Recipients\">"
      "<TABLE width=\"100%\" class=\"coolBar\"><TR valign=\"middle\">"
      "<td class=\"coolButton\" nowrap=\"true\"><input class=\"inputbutton\" type=\"submit\" name=\"UseRecipients\" "
      "id=\"UseRecipients\" value=\"Use these recipients\"></td>"
      "<td class=\"coolButton\" nowrap=\"true\"><a href=\"ComposeMessage.asp\" id=\"BackToMessage\">Back to the message</a></td>"
      "<TD class=\"coolFiller\">&nbsp;</TD></TR></TABLE>\r\n<div class=\"ContentBody\">";
  if (rows.empty()) {
    body += "<p class=\"PortalMessage\" id=\"NoRecipients\">The message has no recipients on its To or Cc line yet.</p>";
  } else {
    body += "<table class=\"RecipientTable\" width=\"100%\">" + rows + "</table>";
  }
  body += "</div></form>\r\n"
          // The component's contacts picker, reached as the compose form's To button reaches it.
          "<form method=\"post\" action=\"ComposeMessage.asp\" class=\"RecipientPicker\">"
          "<input type=\"hidden\" name=\"ContactSource\" value=\"0\">"
          "<p><button class=\"inputbutton\" type=\"submit\" name=\"To\" value=\"To\" id=\"OpenContacts\">"
          "Add from your contacts</button></p></form>";
  pagekit::SendPage(env, 200, "Recipients", body);
}

void TakeChoices(PageEnv& env) {
  for (const auto& line : kLines) {
    // This line's fields, under the names UpdateResolvedContacts reads.
    hostkit::FieldList fields;
    const std::string prefix = std::string(line.prefix) + ".";
    for (const auto& [k, v] : env.form) {
      std::string key = U8(k);
      if (key.size() <= prefix.size() || !EqualsNoCaseAscii(key.substr(0, prefix.size()), prefix)) continue;
      if (pagekit::HasUnsafeRecipientChar(U8(v))) {
        pagekit::SendMessage(env, 400, "A recipient holds characters an address cannot hold.");
        return;
      }
      fields.emplace_back(U16(key.substr(prefix.size())), v);
    }
    if (fields.empty()) continue;
    env.session->Set(line.resolvedVar, "");
    HRESULT hr = E_FAIL;
    pagekit::RunComponent(env, [&](IMyInbox* i) { return i->UpdateResolvedContacts(line.field); }, fields, &hr);
    if (FAILED(hr)) {
      pagekit::SendMessage(env, 400, "The recipients could not be read from the page.");
      return;
    }
    // "a ; b ; " is a list the compose form reads as it stands.
    env.session->Set(line.composeVar, env.session->Get(line.resolvedVar));
    env.session->Set(line.resolvedVar, "");
  }
  env.portal.Store().Put(env.session->Id(), env.session->Changes());
  env.session->ClearChanges();
  pagekit::SendRedirect(env, "ComposeMessage.asp");
}

}  // namespace

std::string ComposeFormExtras() {
  return "<p class=\"PortalRecipients\"><button class=\"inputbutton\" type=\"submit\" form=\"compose\" "
         "name=\"ReviewRecipients\" value=\"1\" id=\"ReviewRecipients\">Choose recipients</button> "
         "Check the names on the To and Cc lines against the address book and choose among the matches.</p>";
}

bool ServeRecipientPage(PageEnv& env) {
  if (env.page != "recipients.asp") return false;
  if (!pagekit::SignedIn(env)) return true;
  if (env.IsPost()) {
    if (pagekit::FromThisSite(env)) TakeChoices(env);
  } else {
    ShowPage(env);
  }
  return true;
}

}  // namespace portal
