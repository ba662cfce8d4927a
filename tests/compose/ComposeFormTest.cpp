// The compose form: the page in both output modes, prefill for replies and
// forwards, recipients without the signed-in account, uploads and files from
// the file browser, the return page of small devices.
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

#include "platform/Debug.h"
#include "tests/compose/ComposeFormTestSupport.h"
#include "tests/support/Golden.h"

namespace {

using namespace compose_test;

class ComposeFormTest : public ComposeFixture {
 protected:
  void Query(hostkit::FieldList query) {
    host.query = std::move(query);
    host.ResetRequest();
  }
  testing_support::FakeMessage& Earlier() {
    auto& m = AddMessage(7);
    m.from = u"Alice Example";
    m.fromAddress = u"alice@example.org";
    m.to = u"Bob Example";
    m.toAddresses = u"bob@example.org";
    m.subject = u"Hello";
    m.body = u"Hi Bob";
    return m;
  }
  static std::u16string GuidText() { return platform::GuidToString(testing_support::TestGuid(7)); }
};

// Whole pages, with the target's calls echoed, in tests/golden/.
TEST_F(ComposeFormTest, NewMessagePageIsExactInFullOutput) {
  target->echo = true;
  EXPECT_EQ(S_OK, inbox->ComposeMessage());
  EXPECT_TRUE(testing_support::MatchesGolden("compose-new-full", host.Body()));
  EXPECT_EQ(1, host.cacheBegins);
  EXPECT_EQ(1, host.cacheEnds);
  EXPECT_EQ(u"<unset>", Session(u"ReturnTo"));  // full output keeps no return page
}

TEST_F(ComposeFormTest, NewMessagePageIsExactInReducedOutputWithStoredState) {
  target->echo = true;
  target->fullOutput = 0;
  target->displayWidth = 240;
  host.session[u"composeTo"] = u"a@example.org; ;b@example.org;";
  host.session[u"composeSubject"] = u"Plans";
  host.session[u"composeBody"] = u"Body text";
  Query({{u"To", u"c@example.org"}});
  EXPECT_EQ(S_OK, inbox->ComposeMessage());
  EXPECT_TRUE(testing_support::MatchesGolden("compose-stored-reduced", host.Body()));
  EXPECT_EQ(u"Inbox.asp", Session(u"ReturnTo"));
}

TEST_F(ComposeFormTest, ReplyPageIsExactInBothModes) {
  Earlier();
  for (LONG full : {1, 0}) {
    SCOPED_TRACE(full);
    host.ClearResponse();
    host.session.clear();
    target->echo = true;
    target->fullOutput = full;
    Query({{u"Type", u"reply"}, {u"Guid", GuidText()}});
    EXPECT_EQ(S_OK, inbox->ComposeMessage());
    EXPECT_TRUE(testing_support::MatchesGolden(full ? "compose-reply-full" : "compose-reply-reduced", host.Body()));
  }
}

TEST_F(ComposeFormTest, PrefillClearsTheComposeStateInOrder) {
  Earlier();
  host.session[u"composeCC"] = u"kept@example.org";
  Query({{u"Type", u"Reply"}, {u"Guid", GuidText()}});
  EXPECT_EQ(S_OK, inbox->ComposeMessage());
  std::vector<std::u16string> cleared;
  for (const auto& [name, value] : host.sessionWrites)
    if (value.empty()) cleared.push_back(name);
  EXPECT_EQ((std::vector<std::u16string>{u"composeBody", u"composeSubject", u"composeTo",
                                         u"composeCC", u"composeBCC", u"FileID", u"ReturnTo"}),
            cleared);
  // The CC list read before the clearing still shows.
  EXPECT_NE(std::u16string::npos, host.Body().find(u"name=TCC value=\"kept@example.org\""));
}

TEST_F(ComposeFormTest, ReplyAllLeavesOutTheSignedInAccount) {
  auto& m = Earlier();
  m.toAddresses = u" BOB ;";
  m.ccAddresses = u"carol@example.org; bob; dave@example.org";
  Query({{u"Type", u"ReplyAll"}, {u"Guid", GuidText()}});
  EXPECT_EQ(S_OK, inbox->ComposeMessage());
  EXPECT_NE(std::u16string::npos, host.Body().find(u"name=TTo id=TTo value=\"alice@example.org\""));
  EXPECT_NE(std::u16string::npos,
            host.Body().find(u"name=TCC value=\"carol@example.org ; dave@example.org\""));
}

TEST_F(ComposeFormTest, RemoveSelfFromRecipientsRules) {
  CMyInbox* object = Object();
  EXPECT_EQ(u"", object->RemoveSelfFromRecipients(u""));
  EXPECT_EQ(u"", object->RemoveSelfFromRecipients(u"Bob"));
  EXPECT_EQ(u"a ; b", object->RemoveSelfFromRecipients(u" a ;bob; b "));
  EXPECT_EQ(u"a ;  ; b", object->RemoveSelfFromRecipients(u"a;;b"));
  EXPECT_EQ(u"a", object->RemoveSelfFromRecipients(u";;a;;"));
  // Only the part after the domain counts.
  host.serverVariables = {{u"LOGON_USER", u"CORP\\carol"}};
  host.ResetRequest();
  EXPECT_EQ(u"bob", object->RemoveSelfFromRecipients(u"bob;carol"));
}

TEST_F(ComposeFormTest, SubjectPrefixesAreTestedWithExactCase) {
  auto& m = Earlier();
  struct Case {
    const char16_t* type;
    const char16_t* subject;
    const char16_t* shown;
  } cases[] = {{u"Fwd", u"FW: plans", u"FW: plans"}, {u"Fwd", u"Fw: plans", u"FW:Fw: plans"},
               {u"Reply", u"RE: plans", u"RE: plans"}, {u"Reply", u"Re: plans", u"RE:Re: plans"},
               {u"NewMsg", u"plans", u"RE:plans"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(U8(c.subject));
    m.subject = c.subject;
    host.ClearResponse();
    Query({{u"Type", c.type}, {u"Guid", GuidText()}});
    EXPECT_EQ(S_OK, inbox->ComposeMessage());
    EXPECT_NE(std::u16string::npos,
              host.Body().find(u"maxlength=256 value=\"" + std::u16string(c.shown) + u"\""));
  }
}

TEST_F(ComposeFormTest, UnreadableGuidOrMessageShowsTheFormWithoutPrefill) {
  Earlier();
  host.session[u"composeSubject"] = u"Mine";
  for (const char16_t* guid : {u"not-a-guid", u"{00000099-1111-2222-3031-323334353637}"}) {
    host.ClearResponse();
    Query({{u"Type", u"Reply"}, {u"Guid", guid}});
    EXPECT_EQ(S_OK, inbox->ComposeMessage());
    EXPECT_NE(std::u16string::npos, host.Body().find(u"maxlength=256 value=\"Mine\""));
  }
  EXPECT_EQ(u"Mine", Session(u"composeSubject"));
}

TEST_F(ComposeFormTest, LongRecipientTextIsATextAreaOnlyInFullOutput) {
  const std::u16string text(151, u'x');
  const std::tuple<LONG, std::size_t, std::u16string> cases[] = {
      {1, 151, u"<textarea style=\"width: 800%; height: 57px\" name=TBCC>" + text + u"</textarea>"},
      {0, 151, u"<input type=text  name=TBCC value=\"" + text + u"\">"},
      {1, 150, u"name=TBCC value=\"" + text.substr(1)}};  // 150 characters stay on one line
  for (const auto& [full, length, field] : cases) {
    host.ClearResponse();
    host.session[u"composeBCC"] = text.substr(0, length);
    target->fullOutput = full;
    EXPECT_EQ(S_OK, inbox->ComposeMessage());
    EXPECT_NE(std::u16string::npos, host.Body().find(field)) << length;
  }
}

TEST_F(ComposeFormTest, LongBodyIsWrittenInPiecesOfTwoThousand) {
  host.session[u"composeBody"] = std::u16string(4001, u'b');
  EXPECT_EQ(S_OK, inbox->ComposeMessage());
  auto at = std::find(host.writes.begin(), host.writes.end(), std::u16string(2000, u'b'));
  ASSERT_NE(host.writes.end(), at);
  ASSERT_LE(4, host.writes.end() - at);
  EXPECT_EQ(std::u16string(2000, u'b'), at[1]);
  EXPECT_EQ(u"b", at[2]);
  EXPECT_EQ(u"</textarea>", at[3]);
}

TEST_F(ComposeFormTest, SameUploadTwiceIsShownOnce) {
  target->echo = true;
  const std::u16string upload = EncodeUrlSafe(u"UPLOADIDtok|Report.doc");
  host.session[u"FileID"] = upload;
  Query({{u"UploadID", upload}});
  EXPECT_EQ(S_OK, inbox->ComposeMessage());
  EXPECT_EQ(upload, Session(u"FileID"));
  EXPECT_EQ(1, target->Count(u"WriteImage("));
  // The attachment row: icon, shown name, space; the taller body offset.
  EXPECT_NE(std::u16string::npos,
            host.Body().find(u"[WriteText(Attachment(s):,0)]</td><TD valign='center'>[WriteImage(gifs/"));
  EXPECT_NE(std::u16string::npos, host.Body().find(u"[WriteText(tok|Report.doc,0)][WriteText(&nbsp;,0)]</td></tr>"));
  EXPECT_NE(std::u16string::npos, host.Body().find(u"clientHeight-245"));
}

TEST_F(ComposeFormTest, UploadMarkerIsRemovedWhereItStandsNotWhereRemovalsJoinText) {
  // Every marker that the item holds goes; the text that closes up behind
  // a removed marker is not searched again.
  target->echo = true;
  host.session[u"FileID"] = EncodeUrlSafe(u"UPLOADUPLOADIDID.doc") + u";" +
                            EncodeUrlSafe(u"UPLOADIDa|UPLOADIDb.txt");
  EXPECT_EQ(S_OK, inbox->ComposeMessage());
  EXPECT_NE(std::u16string::npos, host.Body().find(u"[WriteText(UPLOADID.doc,0)]"));
  EXPECT_NE(std::u16string::npos, host.Body().find(u"[WriteText(a|b.txt,0)]"));
}

TEST_F(ComposeFormTest, OnlyAReadableFileFromTheFileBrowserIsAttached) {
  // A missing file, a folder and a named pipe without a writer are left out
  // without a word (the pipe at once instead of holding the request).
  testing_support::TempDir dir;
  std::ofstream(dir / "notes.txt") << "notes";
  std::filesystem::create_directory(dir / "sub");
  ASSERT_EQ(0, ::mkfifo((dir / "pipe").c_str(), 0600));
  for (const char* name : {"notes.txt", "missing.txt", "sub", "pipe"}) {
    SCOPED_TRACE(name);
    host.ClearResponse();
    host.session.clear();
    const std::u16string encoded = EncodeUrlSafe(platform::U16((dir / name).string()));
    Query({{u"Type", u"SendFile"}, {u"Filename", encoded}});
    EXPECT_EQ(S_OK, inbox->ComposeMessage());
    EXPECT_EQ(name == std::string("notes.txt") ? encoded : u"<unset>", Session(u"FileID"));
    EXPECT_NE(std::u16string::npos, host.Body().find(u"name=IsCompose"));
  }
  EXPECT_EQ(4, Impersonation().impersonations);
}

TEST_F(ComposeFormTest, ImpersonationFailureEndsWithoutAPage) {
  Query({{u"Filename", EncodeUrlSafe(u"/tmp/x")}});
  Impersonation().impersonateSucceeds = false;
  EXPECT_EQ(E_FAIL, inbox->ComposeMessage());
  EXPECT_EQ(u"", host.Body());
  Impersonation().impersonateSucceeds = true;
  Impersonation().createFails = true;
  EXPECT_EQ(E_FAIL, inbox->ComposeMessage());
  EXPECT_EQ(u"", host.Body());
}

TEST_F(ComposeFormTest, ReducedOutputReturnPageFollowsTheSentFilesFolder) {
  target->fullOutput = 0;
  const std::u16string unc = u"\\\\server\\share\\docs\\a.txt";
  Query({{u"Type", u"sendfile"}, {u"Filename", EncodeUrlSafe(unc)}});
  EXPECT_EQ(S_OK, inbox->ComposeMessage());
  EXPECT_EQ(u"Folder.asp?LFE=false&Folder=" + EncodeUrlSafe(u"\\\\server\\share\\docs"),
            Session(u"ReturnTo"));

  // A stored return page stays; a local folder goes back to the inbox.
  host.ClearResponse();
  EXPECT_EQ(S_OK, inbox->ComposeMessage());
  EXPECT_EQ(u"Folder.asp?LFE=false&Folder=" + EncodeUrlSafe(u"\\\\server\\share\\docs"),
            Session(u"ReturnTo"));
  host.session.erase(u"ReturnTo");
  Query({{u"Type", u"SendFile"}, {u"Filename", EncodeUrlSafe(u"C:\\docs\\a.txt")}});
  EXPECT_EQ(S_OK, inbox->ComposeMessage());
  EXPECT_EQ(u"Inbox.asp", Session(u"ReturnTo"));
}

TEST_F(ComposeFormTest, MailSessionFailureWritesNothing) {
  host.connectionFactory = nullptr;
  EXPECT_EQ(E_FAIL, inbox->ComposeMessage());
  EXPECT_EQ(u"", host.Body());
  EXPECT_EQ(0, target->Count(u"StartPage"));
}

TEST_F(ComposeFormTest, QueryFieldIsNoPost) {
  // A field in the query string alone is no post: the form.
  Query({{u"Cancel", u"Cancel"}});
  EXPECT_EQ(S_OK, inbox->ComposeMessage());
  EXPECT_EQ(u"", host.RedirectUrl());
  EXPECT_NE(std::u16string::npos, host.Body().find(u"name=IsCompose"));
}

}  // namespace
