// Name resolution through the compose post: recipient kinds, the resolution
// page with its three row forms, match limits, failures, and the accepted
// selections stored back in the compose state.
#include "tests/compose/ComposeFormTestSupport.h"

namespace {

using namespace compose_test;

class CheckNamesTest : public ComposeFixture {
 protected:
  void PostCheckNames(const std::u16string& to, const std::u16string& cc, const std::u16string& bcc) {
    host.form = {{u"TTo", to}, {u"TCC", cc}, {u"TBCC", bcc}, {u"Check Names", u"Check Names"}};
    host.ResetRequest();
  }
};

TEST_F(CheckNamesTest, AddressesAndResolvedNamesNeedNoPage) {
  PostCheckNames(u" ann@example.org ;; 'Ann Smith' ", u"'x@y'", u"");
  EXPECT_EQ(S_OK, inbox->ComposeMessage());
  EXPECT_EQ(u"ann@example.org;'Ann Smith'", Session(u"composeTo"));
  EXPECT_EQ(u"'x@y'", Session(u"composeCC"));
  EXPECT_EQ(u"", Session(u"composeBCC"));
  // No lookup at all, and the compose form follows with the kept names.
  for (const auto& call : box->calls) EXPECT_NE(0u, call.rfind(u"GAL(", 0)) << U8(call);
  EXPECT_EQ(std::u16string::npos, host.Body().find(u"Accept Selections"));
  EXPECT_NE(std::u16string::npos,
            host.Body().find(u"value=\"ann@example.org; 'Ann Smith'\""));
}

TEST_F(CheckNamesTest, ResolutionPageRowsForNoneOneAndManyMatches) {
  box->gal = {{u"Joanna", u"Smith", u"Joanna Smith", u"jsmith@example.org"},
              {u"Bob", u"Jones", u"Bob Jones", u"bjones@example.org"}};
  box->contacts = {{u"", u"", u"Bobby", u""}};
  PostCheckNames(u"zzz; ann ;'Kept'", u"carl@example.org", u"bob");
  EXPECT_EQ(S_OK, inbox->ComposeMessage());

  // The toolbar's chrome is checked with the toolbar; here the rows, in order,
  // and no Cc section: no match keeps nothing by default, one match picks it,
  // several leave the choice to the user.
  const std::u16string body = host.Body();
  std::size_t at = 0;
  for (const char16_t* part :
       {u"Accept Selections", u"<table width=100% border=0><tr><td colspan=2><b>To:</b></td></tr>",
        u"<input type=hidden name='check:To' value='zzz;ann;'><tr><td><b>zzz</b></td><td>No match</td>"
        u"<td><select name='To:zzz'><option selected value=''>(drop)</value><option value='zzz'>(keep)</value>",
        u"<td><b>ann</b></td><td>One match</td><td><select name='To:ann'><option value=''>(drop)</value>"
        u"<option selected value='jsmith@example.org'>Joanna Smith</value></select>",
        u"<tr><td colspan=2><b>Bcc:</b></td></tr><input type=hidden name='check:BCc' value='bob;'>",
        u"<td><b>bob</b></td><td>2 matches</td><td><select name='BCc:bob'><option selected value=''>(drop)"
        u"</value><option value='bob'>(keep)</value><option value='bjones@example.org'>Bob Jones</option>"
        u"<option value='Bobby'>Bobby</option></select></td></tr></table></div></form>"}) {
    at = body.find(part, at);
    ASSERT_NE(std::u16string::npos, at) << U8(part);
  }
  EXPECT_EQ(std::u16string::npos, body.find(u"<b>Cc:</b>"));
  // The keep lists were stored before the page.
  EXPECT_EQ(u"'Kept'", Session(u"composeTo"));
  EXPECT_EQ(u"carl@example.org", Session(u"composeCC"));
  EXPECT_EQ(u"", Session(u"composeBCC"));
  std::vector<std::u16string> lookups;
  for (const auto& call : box->calls)
    if (call.rfind(u"GAL(", 0) == 0 || call.rfind(u"Contacts(", 0) == 0) lookups.push_back(call);
  EXPECT_EQ((std::vector<std::u16string>{u"Contacts((null),(null))", u"GAL(zzz,true)",
                                         u"GAL(ann,true)", u"GAL(bob,true)"}),
            lookups);
}

TEST_F(CheckNamesTest, AddressListMatchesCappedAtOneHundredThenEveryContact) {
  for (int i = 0; i < 150; ++i) {
    std::u16string n = platform::U16(std::to_string(i));
    box->gal.push_back({u"", u"", u"Gal Ann " + n, u"gal" + n + u"@example.org"});
  }
  box->contacts = {{u"", u"", u"Contact ANN 1", u"c1@example.org"},
                   {u"", u"", u"Other", u"ann@example.org"},  // matched on its address
                   {u"", u"", u"Nobody", u"n@example.org"}};
  PostCheckNames(u"Ann", u"", u"");
  EXPECT_EQ(S_OK, inbox->ComposeMessage());
  EXPECT_NE(std::u16string::npos, host.Body().find(u"<td>102 matches</td>"));
  EXPECT_NE(std::u16string::npos, host.Body().find(u"Contact ANN 1</option>"));
  EXPECT_NE(std::u16string::npos, host.Body().find(u"Gal Ann 99</option>"));
  EXPECT_EQ(std::u16string::npos, host.Body().find(u"Gal Ann 100</option>"));
  EXPECT_NE(std::u16string::npos, host.Body().find(u"<option value='ann@example.org'>Other</option>"));
}

TEST_F(CheckNamesTest, NeedleMatchesAnyFieldAsSubstringIgnoringCase) {
  box->gal = {{u"Jo", u"", u"Joanna", u"j@example.org"},          // display name
              {u"", u"Hanna", u"Smith, H", u"hs@example.org"},   // second name
              {u"", u"", u"Bo &amp; ANNika", u"b@example.org"},  // decoded display name
              {u"", u"", u"Zed", u"zed@example.org"}};
  PostCheckNames(u"ann", u"", u"");
  EXPECT_EQ(S_OK, inbox->ComposeMessage());
  EXPECT_NE(std::u16string::npos, host.Body().find(u"<td>3 matches</td>"));
  EXPECT_EQ(std::u16string::npos, host.Body().find(u">Zed</option>"));
}

// A failed contacts lookup is reported; either failure leaves the other list's matches.
TEST_F(CheckNamesTest, AFailedLookupLeavesTheOtherListsMatches) {
  for (bool contactsFail : {true, false}) {
    SCOPED_TRACE(contactsFail ? "contacts fail" : "address list fails");
    host.apiFailures.clear();
    host.ClearResponse();
    (contactsFail ? box->contactsResult : box->galResult) = E_FAIL;
    (contactsFail ? box->galResult : box->contactsResult) = S_OK;
    box->gal = {{u"", u"", u"Ann Gal", u"ag@example.org"}};
    box->contacts = {{u"", u"", u"Ann Contact", u"ac@example.org"}};
    PostCheckNames(u"ann; zed", u"", u"");
    EXPECT_EQ(S_OK, inbox->ComposeMessage());
    ASSERT_EQ(contactsFail ? 1u : 0u, host.apiFailures.size());
    if (contactsFail) {
      EXPECT_EQ("CMyInbox::CheckNames", host.apiFailures[0].function);
    }
    const char16_t* kept = contactsFail ? u"ag@example.org'>Ann Gal" : u"ac@example.org'>Ann Contact";
    EXPECT_NE(std::u16string::npos, host.Body().find(u"<option selected value='" + std::u16string(kept) + u"</value>"));
    EXPECT_NE(std::u16string::npos, host.Body().find(u"<td><b>zed</b></td><td>No match</td>"));
  }
}

TEST_F(CheckNamesTest, MissingCaptionsLeaveTheirRowsOut) {
  WriteStrings({{102, u""}});
  PostCheckNames(u"ann", u"", u"");
  EXPECT_EQ(S_OK, inbox->ComposeMessage());
  EXPECT_EQ(std::u16string::npos, host.Body().find(u"colspan=2><b>"));
  EXPECT_NE(std::u16string::npos, host.Body().find(u"name='check:To'"));
}

TEST_F(CheckNamesTest, AcceptedSelectionsJoinTheKeepListsQuoted) {
  host.session[u"composeTo"] = u"x@example.org";
  host.session[u"composeBCC"] = u"'Kept'";
  host.form = {{u"accept selections", u"ACCEPT SELECTIONS"},
               {u"CHECK:TO", u"zzz;ann;"},  // names compared without regard to case
               {u"To:zzz", u""},
               {u"To:ann", u"jsmith@example.org"},
               {u"check:Cc", u""},
               {u"check:BCc", u"bob; "},
               {u"BCc:bob", u"bob"}};
  EXPECT_EQ(S_OK, inbox->ComposeMessage());
  EXPECT_EQ(u"x@example.org;'jsmith@example.org'", Session(u"composeTo"));
  EXPECT_EQ(u"", Session(u"composeCC"));
  EXPECT_EQ(u"'Kept';'bob'", Session(u"composeBCC"));
  // The compose form follows with the accepted recipients.
  EXPECT_NE(std::u16string::npos,
            host.Body().find(u"value=\"x@example.org; 'jsmith@example.org'\""));
}

}  // namespace
