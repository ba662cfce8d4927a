// Deleting a message and answering a meeting request.
#include <functional>

#include "tests/mailbox/MailboxFixture.h"

namespace {

using namespace mailbox_testing;

const std::u16string kDeleteFailed = u"The message could not be deleted.";
const std::u16string kRespondFailed = u"Unable to respond to meeting request.";

class DeleteMessageTest : public MailboxTest {};

// The message of the query key is deleted, not the argument's; the language
// passed on is the session's, else the browser's list; the listing opens at
// its first page whatever page the user came from. No page is written.
TEST_F(DeleteMessageTest, DeletesTheMessageOfTheQueryKeyAndListsFromTheTop) {
  AddMessage(1);
  host.serverVariables = {{u"HTTP_ACCEPT_LANGUAGE", u"de-de,en;q=0.5"}};
  for (const char16_t* language : {u"fr", static_cast<const char16_t*>(nullptr)}) {
    box->calls.clear();
    host.ClearResponse();
    host.session.erase(u"System.ClientLanguage");
    if (language) host.session[u"System.ClientLanguage"] = language;
    SetQuery({{u"Guid", MessageIdText(1)}, {u"TopIndex", u"60"}, {u"Sort", u"2"}});
    EXPECT_EQ(S_OK, inbox->DeleteMessage(language ? CComBSTR(MessageIdText(2)) : CComBSTR()));
    const std::u16string passed = language ? language : u"de-de,en;q=0.5";
    EXPECT_EQ(std::vector<std::u16string>{u"DeleteMessage(" + folder + u"," + MessageIdText(1) + u"," + passed + u")"},
              box->calls);
    EXPECT_EQ(ListingUrl(), host.RedirectUrl());
    EXPECT_TRUE(host.Ended());
    EXPECT_EQ(u"", host.Body());
    EXPECT_TRUE(target->calls.empty());
  }
}

TEST_F(DeleteMessageTest, GuidsThatDoNotParseWriteTheFailureText) {
  const std::u16string id = MessageIdText(1);
  for (const std::u16string& bad : {BareIdText(1), id + u"x", u" " + id, id.substr(0, 37), std::u16string(),
                                    id + u", " + id}) {
    host.ClearResponse();
    SetQuery({{u"Guid", bad}});
    if (bad == id + u", " + id) SetQuery({{u"Guid", id}, {u"Guid", id}});  // a repeated key joins its values
    EXPECT_EQ(S_OK, inbox->DeleteMessage(CComBSTR(id))) << platform::U8(bad);
    EXPECT_EQ(kDeleteFailed, host.Body()) << platform::U8(bad);
    EXPECT_EQ(u"", host.RedirectUrl());
  }
  EXPECT_FALSE(Called(u"DeleteMessage")) << ::testing::PrintToString(box->calls);
}

class MeetingResponseTest : public MailboxTest {
 protected:
  void Answer(const char16_t* type, std::uint32_t n = 1) {
    SetQuery({{u"Guid", MessageIdText(n)}, {u"Type", type}});
  }
  std::u16string Respond(int code, std::uint32_t n = 1) const {
    return u"RespondToMeetingRequest(" + platform::U16(std::to_string(code)) + u"," +
           MessageIdText(n) + u"," + folder + u",fr-ch,en;q=0.5)";
  }
  void SetUp() override {
    MailboxTest::SetUp();
    host.serverVariables = {{u"HTTP_ACCEPT_LANGUAGE", u"fr-ch,en;q=0.5"}};
    host.session[u"System.ClientLanguage"] = u"it";
  }
};

// An answer reads the message, sends the type's code (a message that is not a
// meeting request gets none), deletes the message and redirects to the
// listing, whether or not the delete works: the redirect ends the response.
TEST_F(MeetingResponseTest, EachTypeSendsItsCodeThenRedirectsAndDeletes) {
  struct Case {
    const char16_t* type;
    int code;  // 0: no answer sent
    bool meeting;
    HRESULT deleted;
  } const cases[] = {{u"AcceptMeeting", 3, true, S_OK},
                     {u"DeclineMeeting", 4, true, S_OK},
                     {u"TentativeMeeting", 2, true, S_OK},
                     {u"DeclineMeeting", 0, false, S_OK},
                     {u"TentativeMeeting", 2, true, E_FAIL}};
  for (const auto& c : cases) {
    SCOPED_TRACE(platform::U8(c.type) + (c.meeting ? "" : ", not a meeting") + (c.deleted ? ", delete fails" : ""));
    box->messages.clear();
    AddMessage(1, c.meeting).attachments = {{1, u"C:\\agenda.doc"}};
    box->deleteResult = c.deleted;
    box->calls.clear();
    host.ClearResponse();
    target->calls.clear();
    Answer(c.type);
    EXPECT_EQ(S_OK, inbox->MeetingResponse());
    std::vector<std::u16string> expected{u"InboxMessage(" + folder + u"," + MessageIdText(1) + u",0)",
                                         u"DeleteMessage(" + folder + u"," + MessageIdText(1) + u",it)"};
    if (c.code) expected.insert(expected.begin() + 1, Respond(c.code));
    EXPECT_EQ(expected, box->calls);
    EXPECT_EQ(ListingUrl(), host.RedirectUrl());
    EXPECT_EQ(u"", host.Body());
    // One StartPage and no EndPage.
    EXPECT_EQ(std::vector<std::u16string>{u"StartPage"}, target->calls);
    EXPECT_EQ(0, MAPIManaged::LiveRecordArrays());
  }
}

TEST_F(MeetingResponseTest, TypeIsComparedExactlyAndRefusedBeforeSetUp) {
  AddMessage(1, true);
  for (const char16_t* type : {u"ACCEPTMEETING", u"acceptMeeting", u"Acceptmeeting", u"AcceptMeeting ",
                               u" DeclineMeeting", u"", u"3", u"AcceptMeeting, AcceptMeeting", u"(absent)"}) {
    host.ClearResponse();
    Answer(type);
    if (std::u16string_view(type) == u"AcceptMeeting, AcceptMeeting")
      SetQuery({{u"Guid", MessageIdText(1)}, {u"Type", u"AcceptMeeting"}, {u"Type", u"AcceptMeeting"}});
    if (std::u16string_view(type) == u"(absent)") SetQuery({{u"Guid", MessageIdText(1)}});
    EXPECT_EQ(S_OK, inbox->MeetingResponse()) << platform::U8(type);
    EXPECT_EQ(kRespondFailed, host.Body()) << platform::U8(type);
  }

  EXPECT_EQ(0, host.connectionRequests);
  EXPECT_TRUE(box->calls.empty());
  EXPECT_TRUE(target->calls.empty());
  EXPECT_EQ(u"", host.RedirectUrl());
}

// Each way a delete or a meeting answer fails: what it returns, its failure
// text (none when refused), no redirect, and the library call it must not make.
TEST_F(MeetingResponseTest, FailuresWriteTheirTextAndNeverRedirect) {
  enum Op { kDelete, kAnswer };
  const auto noTarget = [this] { inbox->SetTarget(nullptr); };
  struct Case {
    const char* what;
    Op op;
    std::function<void()> setUp;
    HRESULT hr;
    bool text;                   // the failure text is written
    const char16_t* notCalled;  // a call the library must not see
  } const cases[] = {
      {"library failure", kDelete, [this] { box->deleteResult = MAPI_E_NOT_FOUND; }, S_OK, true, nullptr},
      {"mail not configured", kDelete, [this] { host.mailConfigured = false; }, S_OK, true, u"DeleteMessage"},
      {"no connection", kDelete, [this] { host.connectionFactory = nullptr; }, S_OK, true, u"DeleteMessage"},
      {"policy refused", kDelete, [this] { host.policyAllows = false; }, E_FAIL, false, u"DeleteMessage"},
      {"no master session", kDelete, [this] { host.hasMasterSession = false; }, E_FAIL, false, u"DeleteMessage"},
      {"answer fails", kAnswer, [this] { box->respondResult = MAPI_E_NOT_FOUND; }, S_OK, true, u"DeleteMessage"},
      {"message not there", kAnswer, [this] { Answer(u"AcceptMeeting", 7); }, S_OK, true, u"RespondToMeetingRequest"},
      {"message unreadable", kAnswer, [this] { box->messageResult = E_OUTOFMEMORY; }, S_OK, true,
       u"RespondToMeetingRequest"},
      {"guid without braces", kAnswer, [this] { SetQuery({{u"Guid", BareIdText(1)}, {u"Type", u"AcceptMeeting"}}); },
       S_OK, true, u"InboxMessage"},
      {"policy refused", kAnswer, [this] { host.policyAllows = false; }, E_FAIL, false, u"InboxMessage"},
      {"mail not configured", kAnswer, [this] { host.mailConfigured = false; }, S_OK, true, u"InboxMessage"},
      {"no target", kAnswer, noTarget, E_POINTER, false, u"InboxMessage"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.op == kDelete ? "delete, " : "answer, ") + c.what);
    box = std::make_shared<testing_support::FakeMailbox>();
    box->onAttachmentBuffer = WatchBuffer;
    host.connectionFactory = [this] { return new testing_support::FakeMail(box); };
    host.mailConfigured = host.policyAllows = host.hasMasterSession = true;
    host.ClearResponse();
    host.connectionRequests = 0;
    target->calls.clear();
    inbox.Release();  // a fresh object, holding no connection over
    ASSERT_EQ(S_OK, CMyInbox::CreateInstance(nullptr, IID_IMyInbox, reinterpret_cast<void**>(&inbox)));
    inbox->SetTarget(target);
    AddMessage(1, /*meeting=*/true);
    Answer(u"AcceptMeeting");
    c.setUp();
    EXPECT_EQ(c.hr, c.op == kDelete ? inbox->DeleteMessage(nullptr) : inbox->MeetingResponse());
    EXPECT_EQ(c.text ? (c.op == kDelete ? kDeleteFailed : kRespondFailed) : u"", host.Body());
    EXPECT_EQ(u"", host.RedirectUrl());
    if (c.notCalled) {
      EXPECT_FALSE(Called(c.notCalled)) << ::testing::PrintToString(box->calls);
    }
    if (!c.text) {
      EXPECT_EQ(0, host.connectionRequests);
    }
    if (c.op == kAnswer && c.hr == S_OK && box->calls.empty()) {
      EXPECT_TRUE(target->calls.empty());
    }
  }
}

// The mail library's exception is reported as the answer's event. Raised by
// the read, the answer is refused; raised after a good read, the read's
// success stands, the message is deleted and its records are released.
TEST_F(MeetingResponseTest, ExceptionsAreReportedAndTheResultHeldStands) {
  for (const char16_t* where : {u"InboxMessage", u"RespondToMeetingRequest"}) {
    const bool read = std::u16string_view(where) != u"InboxMessage";
    SCOPED_TRACE(platform::U8(where));
    box->messages.clear();
    box->calls.clear();
    host.events.clear();
    host.ClearResponse();
    AddMessage(1, true).attachments = {{1, u"a.doc"}, {2, u"b.doc"}};
    box->throwIn = where;
    Answer(u"AcceptMeeting");
    EXPECT_EQ(S_OK, inbox->MeetingResponse());
    EXPECT_EQ(read ? u"" : kRespondFailed, host.Body());
    ASSERT_EQ(1u, host.events.size());
    EXPECT_EQ(1, host.events[0].type);
    EXPECT_EQ(u"CMyInbox::ReplyToMeetingRequest", host.events[0].source);
    EXPECT_EQ(u"The mail library failed in " + std::u16string(where) + u".", host.events[0].text);
    EXPECT_EQ(read ? ListingUrl() : u"", host.RedirectUrl());
    EXPECT_EQ(read, Called(u"DeleteMessage"));
    EXPECT_EQ(0, MAPIManaged::LiveRecordArrays());
  }
}

}  // namespace
