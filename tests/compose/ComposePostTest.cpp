// Posts to the compose page: saving the typed text, the order in which the
// buttons are tested, picked contacts, and sending with its checks and outcomes.
#include <algorithm>

#include "platform/Debug.h"
#include "tests/compose/ComposeFormTestSupport.h"

namespace {

using namespace compose_test;

class ComposePostTest : public ComposeFixture {
 protected:
  void Post(hostkit::FieldList form) {
    host.form = std::move(form);
    host.ResetRequest();
  }
  bool Sent() const {
    return std::any_of(box->calls.begin(), box->calls.end(),
                       [](const std::u16string& c) { return c.rfind(u"SendMessageW(", 0) == 0; });
  }
  bool FormShown() const { return host.Body().find(u"name=IsCompose") != std::u16string::npos; }
  void StoreState() {
    host.session[u"composeTo"] = u"old@example.org";
    host.session[u"composeSubject"] = u"Old";
  }
};

TEST_F(ComposePostTest, UnidentifiedButtonSavesTheTextAndShowsTheForm) {
  Post({{u"IsCompose", u"true"},
        {u"MessageText", u"The body"},
        {u"Subject", u"The subject"},
        {u"TTo", u" a@example.org ; Ann "},
        {u"TCC", u"c@example.org"},
        {u"TBCC", u""},
        {u"Mystery", u"Mystery"}});
  EXPECT_EQ(S_OK, inbox->ComposeMessage());
  EXPECT_EQ((std::vector<std::u16string>{
                u"Open(master-session-1)", u"SetValue(Halvorn.Slv.composeBody=The body)",
                u"SetValue(Halvorn.Slv.composeSubject=The subject)",
                u"SetValue(Halvorn.Slv.composeTo=a@example.org;Ann)",
                u"SetValue(Halvorn.Slv.composeCC=c@example.org)",
                u"SetValue(Halvorn.Slv.composeBCC=)", u"Commit"}),
            MasterStore().calls);
  EXPECT_TRUE(FormShown());
  EXPECT_FALSE(Sent());
}

TEST_F(ComposePostTest, MasterSessionErrorsAreSwallowedAfterADebugLine) {
  std::vector<std::u16string> lines;
  auto previous = platform::SetDebugSink([&](std::u16string_view l) { lines.emplace_back(l); });
  for (const char16_t* failing : {u"Open", u"SetValue", u"Commit"}) {
    SCOPED_TRACE(U8(failing));
    lines.clear();
    MasterStore().calls.clear();
    MasterStore().failOn = failing;
    host.ClearResponse();
    Post({{u"IsCompose", u"true"}, {u"Subject", u"S"}});
    EXPECT_EQ(S_OK, inbox->ComposeMessage());
    EXPECT_EQ(1, std::count(lines.begin(), lines.end(), u"Error writing the master session."));
    EXPECT_EQ(0, std::count(MasterStore().calls.begin(), MasterStore().calls.end(), u"Commit"));
    EXPECT_TRUE(FormShown());
  }
  // No store registered at all.
  platform::RevokeProcessClass(CLSID_MasterSessionStore);
  lines.clear();
  EXPECT_EQ(S_OK, inbox->ComposeMessage());
  EXPECT_EQ(1, std::count(lines.begin(), lines.end(), u"Error writing the master session."));
  platform::SetDebugSink(previous);

  // Without a master session the step is skipped quietly; without IsCompose it does not run.
  host.hasMasterSession = false;
  MasterStore().calls.clear();
  RegisterFakeMasterStore();
  EXPECT_EQ(S_OK, inbox->ComposeMessage());
  host.hasMasterSession = true;
  Post({{u"Subject", u"S"}});
  EXPECT_EQ(S_OK, inbox->ComposeMessage());
  EXPECT_TRUE(MasterStore().calls.empty());
}

TEST_F(ComposePostTest, ButtonsAreTestedInTheirOrder) {
  struct Case {
    const char* name;
    hostkit::FieldList form;
    const char16_t* redirect;
    bool sent, cleared, form_shown;
  } cases[] = {
      {"close before send", {{u"Close", u"close"}, {u"Send", u"Send"}}, u"", false, false, true},
      {"accept before attachments",
       {{u"Accept Selections", u"Accept Selections"}, {u"Attachments", u"Attachments"}},
       u"", false, false, true},
      {"attachments", {{u"Attachments", u"ATTACHMENTS"}, {u"Clear", u"Clear"}},
       u"DoAttachments.asp", false, false, false},
      {"done attachments before clear",
       {{u"DoneAttachments", u"DoneAttachments"}, {u"Clear", u"Clear"}}, u"", false, false, true},
      {"clear before cancel", {{u"Clear", u"clear"}, {u"Cancel", u"Cancel"}}, u"", false, true, true},
      {"cancel", {{u"Cancel", u"Cancel"}, {u"Send", u"Send"}}, u"SendCancel.asp", false, false, false},
      {"add to before send", {{u"Add To", u"Add To"}, {u"Send", u"Send"}}, u"", false, false, true},
      {"send before check names",
       {{u"Send", u"send"}, {u"Check Names", u"Check Names"}, {u"TTo", u"x@example.org"}},
       u"SendOK.asp?Success=true", true, true, false},
      {"value must equal the label", {{u"Send", u"Sent"}}, u"", false, false, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    box->calls.clear();
    host.ClearResponse();
    host.session.clear();
    StoreState();
    Post(c.form);
    EXPECT_EQ(S_OK, inbox->ComposeMessage());
    EXPECT_EQ(U8(c.redirect), U8(host.RedirectUrl()));
    EXPECT_EQ(c.sent, Sent());
    EXPECT_EQ(c.cleared, Session(u"composeSubject").empty());
    EXPECT_EQ(c.form_shown, FormShown());
  }
}

TEST_F(ComposePostTest, LabelMissingFromTheSatelliteIsNeverPressed) {
  WriteStrings({{3184, u""}});
  Post({{u"Send", u"Send"}, {u"TTo", u"x@example.org"}});
  EXPECT_EQ(S_OK, inbox->ComposeMessage());
  EXPECT_FALSE(Sent());
  EXPECT_TRUE(FormShown());
}

TEST_F(ComposePostTest, PickedContactsAreQuotedAndMerged) {
  host.session[u"composeTo"] = u"x@example.org;Ann Smith;Bob;'Dora'";
  Post({{u"Add To", u"Add To"}, {u"Contacts", u"Ann Smith;carl@example.org"}, {u"Contacts", u"Dora"}});
  EXPECT_EQ(S_OK, inbox->ComposeMessage());
  EXPECT_EQ(u"x@example.org;Bob;'Dora';'Ann Smith';carl@example.org", Session(u"composeTo"));

  Post({{u"Add BCC", u"add bcc"}, {u"Contacts", u"Eve;eve@example.org"}});
  EXPECT_EQ(S_OK, inbox->ComposeMessage());
  EXPECT_EQ(u"'Eve';eve@example.org", Session(u"composeBCC"));
  EXPECT_EQ(u"<unset>", Session(u"composeCC"));
}

TEST_F(ComposePostTest, SendNormalizesRecipientsAndClearsTheState) {
  StoreState();
  Post({{u"Send", u"Send"},
        {u"TTo", u"'Ann Smith'; 'x@example.org' ; a;;b"},
        {u"TBCC", u"'Bob'"},
        {u"Subject", u"Hi"},
        {u"MessageText", u"see \\\\srv\\share\\doc.txt now"}});
  EXPECT_EQ(S_OK, inbox->ComposeMessage());
  EXPECT_EQ(u"SendMessageW(5,0,1,0)", box->calls.back());
  EXPECT_EQ((std::vector<std::u16string>{u"Ann Smith", u"'x@example.org'", u"a", u"", u"b"}),
            box->sentTo);
  EXPECT_EQ((std::vector<std::u16string>{u"Bob"}), box->sentBcc);
  EXPECT_EQ(u"Hi", box->sentSubject);
  EXPECT_EQ(u"see file://\\\\srv\\share\\doc.txt now", box->sentBody);
  EXPECT_EQ(u"SendOK.asp?Success=true", host.RedirectUrl());
  EXPECT_TRUE(host.Ended());
  EXPECT_EQ(u"", Session(u"composeTo"));
  EXPECT_EQ(u"", Session(u"composeSubject"));
  EXPECT_EQ(u"", host.Body());
}

TEST_F(ComposePostTest, UploadsPassWithoutChecksAndFilesAreChecked) {
  int readChecks = 0, policyChecks = 0;
  host.readAccess = [&](std::u16string_view) { ++readChecks; return true; };
  host.uncPolicy = [&](std::u16string_view) { ++policyChecks; return true; };
  host.session[u"FileID"] = EncodeUrlSafe(u"UPLOADIDtok|a.doc");
  Post({{u"Send", u"Send"}, {u"TTo", u"x@example.org"}});
  EXPECT_EQ(S_OK, inbox->ComposeMessage());
  EXPECT_EQ((std::vector<std::u16string>{u"UPLOADIDtok|a.doc"}), box->sentAttachments);
  EXPECT_EQ(0, readChecks);
  EXPECT_EQ(0, Impersonation().impersonations);

  // A share path, even one holding the upload prefix, is a file to check.
  host.session[u"FileID"] = EncodeUrlSafe(u"\\\\srv\\UPLOADID\\b.doc") + u";" + EncodeUrlSafe(u"C:\\c.doc");
  EXPECT_EQ(S_OK, inbox->ComposeMessage());
  EXPECT_EQ((std::vector<std::u16string>{u"\\\\srv\\UPLOADID\\b.doc", u"C:\\c.doc"}),
            box->sentAttachments);
  EXPECT_EQ(2, readChecks);
  EXPECT_EQ(2, policyChecks);
  EXPECT_EQ(2, Impersonation().impersonations);
}

TEST_F(ComposePostTest, DeniedFileClearsTheStateAndReports) {
  struct Case {
    const char* name;
    bool readable, allowed, impersonates;
  } cases[] = {{"no read access", false, true, true},
               {"policy denies", true, false, true},
               {"impersonation fails", true, true, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    box->calls.clear();
    host.messages.clear();
    host.ClearResponse();
    StoreState();
    host.logDenials = false;
    host.readAccess = [&](std::u16string_view) { return c.readable; };
    host.uncPolicy = [&](std::u16string_view) { return c.allowed; };
    Impersonation().impersonateSucceeds = c.impersonates;
    host.session[u"FileID"] = EncodeUrlSafe(u"\\\\srv\\secret.doc");
    Post({{u"Send", u"Send"}, {u"TTo", u"x@example.org"}});
    EXPECT_EQ(S_OK, inbox->ComposeMessage());
    EXPECT_FALSE(Sent());
    EXPECT_EQ(u"", Session(u"composeTo"));
    EXPECT_EQ(u"", Session(u"FileID"));
    ASSERT_EQ(1u, host.messages.size());
    EXPECT_EQ(2, host.messages[0].type);
    EXPECT_FALSE(host.messages[0].log);
    EXPECT_EQ(u"Email", host.messages[0].component);
    EXPECT_EQ(u"\\\\srv\\secret.doc", host.messages[0].feature);
    EXPECT_EQ(u"That file may not be sent.", host.messages[0].detail);
    EXPECT_EQ(u"", host.Body());
    EXPECT_EQ(u"", host.RedirectUrl());
  }
}

TEST_F(ComposePostTest, AnyOneRecipientFieldSendsElseAnAlertInFullOutput) {
  const std::u16string alert =
      u"<script language=javascript> window.alert(\"Enter a recipient\"); </script>";
  struct {
    const char16_t *to, *cc, *bcc;
  } cases[] = {{u"", u"", u""}, {u"x@example.org", u"", u""}, {u"", u"x@example.org", u""},
               {u"", u"", u"x@example.org"}};
  for (LONG full : {1, 0}) {
    for (const auto& c : cases) {
      SCOPED_TRACE(U8(std::u16string(c.to) + u"|" + c.cc + u"|" + c.bcc) + (full ? " full" : " reduced"));
      box->calls.clear();
      host.ClearResponse();
      target->fullOutput = full;
      Post({{u"Send", u"Send"}, {u"TTo", c.to}, {u"TCC", c.cc}, {u"TBCC", c.bcc}, {u"Subject", u"S"}});
      EXPECT_EQ(S_OK, inbox->ComposeMessage());
      const bool any = *c.to || *c.cc || *c.bcc;
      EXPECT_EQ(any, Sent());
      EXPECT_EQ(!any, FormShown());
      EXPECT_EQ(!any && full ? 0u : std::u16string::npos, host.Body().find(alert));
    }
  }
}

TEST_F(ComposePostTest, ReducedOutputSuccessGoesToTheReturnPage) {
  target->fullOutput = 0;
  host.session[u"ReturnTo"] = u"Folder.asp?LFE=false&Folder=abc";
  Post({{u"Send", u"Send"}, {u"TCC", u"x@example.org"}});
  EXPECT_EQ(S_OK, inbox->ComposeMessage());
  EXPECT_EQ(u"Folder.asp?LFE=false&Folder=abc", host.RedirectUrl());
  EXPECT_EQ(u"", Session(u"ReturnTo"));
  host.ClearResponse();
  EXPECT_EQ(S_OK, inbox->ComposeMessage());
  EXPECT_EQ(u"inbox.asp", host.RedirectUrl());
}

TEST_F(ComposePostTest, SendFailuresKeepTheStateOrResolveNames) {
  StoreState();
  box->sendResult = E_FAIL;
  Post({{u"Send", u"Send"}, {u"TTo", u"x@example.org"}});
  EXPECT_EQ(S_OK, inbox->ComposeMessage());
  EXPECT_EQ(u"SendOk.asp?Success=false", host.RedirectUrl());
  EXPECT_EQ(u"Old", Session(u"composeSubject"));

  // Recipient not found, but nothing to resolve: the failure page.
  host.ClearResponse();
  box->sendResult = static_cast<HRESULT>(0x8004010F);
  EXPECT_EQ(S_OK, inbox->ComposeMessage());
  EXPECT_EQ(u"SendOk.asp?Success=false", host.RedirectUrl());

  // Ambiguous recipient with a bare name: the resolution page instead.
  host.ClearResponse();
  box->sendResult = static_cast<HRESULT>(0x80040700);
  box->gal = {{u"", u"", u"Ann One", u"a1@example.org"}, {u"", u"", u"Ann Two", u"a2@example.org"}};
  Post({{u"Send", u"Send"}, {u"TTo", u"ann; x@example.org"}});
  EXPECT_EQ(S_OK, inbox->ComposeMessage());
  EXPECT_EQ(u"", host.RedirectUrl());
  EXPECT_NE(std::u16string::npos, host.Body().find(u"<td>2 matches</td>"));
  EXPECT_EQ(u"x@example.org", Session(u"composeTo"));
  EXPECT_FALSE(FormShown());
}

}  // namespace
