// The connection over a Maildir the tests build: listing, sorting,
// identifiers, neighbours, the message record, attachments, delete, the
// summary index, the directory and local delivery.
#include <sys/resource.h>
#include <utime.h>

#include <csignal>
#include <gtest/gtest.h>

#include <filesystem>
#include <regex>

#include "TestUtil.h"
#include "mailbridge/store/Index.h"
#include "platform/Time.h"

using namespace mbtest;
using MAPIManaged::_CONTACTITEM;
using MAPIManaged::_MAILITEM;
using MAPIManaged::_MAILMESSAGE;

namespace {

class MaildirConnection : public ::testing::Test {
 protected:
  void SetUp() override {
    mailbridge::DropSummaryCache();
    root = dir.path() + "/alice";
    MakeMaildir(root);
    config.userName = "alice";
    config.localDomain = "example.org";
    config.maildir = root;
    config.attachmentCacheDir = dir.path() + "/cache/alice";
    config.contactsPath = dir.path() + "/contacts.vcf";
    config.galPath = dir.path() + "/gal.ldif";
    config.localDeliveryRoot = dir.path() + "/users";
    config.uploadDir = dir.path() + "/uploads";
    mkdir(config.localDeliveryRoot.c_str(), 0700);
    for (const char* user : {"bob", "bob..x", "carl", "dave", "org", "sam1", "sam2"}) {
      MakeMaildir(config.localDeliveryRoot + "/" + user);
    }
  }

  void Fill() {
    PutMessage(root, "new", "1000.A.host", Message({"From: Zed <z@example.org>", "Subject: RE: beta"}, "old one"), 1000);
    PutMessage(root, "cur", "3000.B.host:2,S", Message({"From: alice@example.net", "Subject: alpha"}, "newest"), 3000);
    PutMessage(root, "cur", "2000.C.host:2,", Data("mixed-hostile.eml"), 2000);
    PutMessage(root, "cur", "3000.D.host:2,S", Message({"From: bob@example.org", "Subject: Alpha"}, "tie"), 3000);
  }

  std::unique_ptr<MAPIManaged::MAPINativeConnection> Open() { return mailbridge::OpenConnection(config); }

  TempDir dir;
  std::string root;
  mailbridge::AccountConfig config;
};

// Folder names: "/" or "\\" between the parts of a Maildir++ subfolder,
// nothing that climbs out or hides.
TEST_F(MaildirConnection, FolderNamesAndAnEmptyFolder) {
  PutMessage(root + "/.Projects.Alpha", "cur", "1.X.host:2,S", Message({"Subject: in sub"}, ""), 10);
  auto c = Open();
  ASSERT_TRUE(c);
  Summary empty = List(*c);
  EXPECT_EQ(empty.hr, S_OK);
  EXPECT_EQ(empty.count, 0u);
  EXPECT_EQ(empty.items, nullptr);
  struct {
    const char16_t* folder;
    HRESULT hr;
    DWORD count;
  } cases[] = {{u"INBOX", S_OK, 0},         {u"Projects/Alpha", S_OK, 1},          {u"Projects\\Alpha", S_OK, 1},
               {u"No/Such", MAPI_E_NOT_FOUND, 0}, {u"../escape", E_INVALIDARG, 0}, {u"Projects/.Alpha", E_INVALIDARG, 0},
               {u"Projects//Alpha", E_INVALIDARG, 0}};
  for (const auto& k : cases) {
    Summary s = List(*c, k.folder);
    EXPECT_EQ(s.hr, k.hr) << U8(k.folder);
    EXPECT_EQ(s.count, k.count) << U8(k.folder);
  }
  // The same unique name in two folders gives two identifiers.
  PutMessage(root, "cur", "1.X.host:2,S", Message({"Subject: in inbox"}, ""), 10);
  EXPECT_NE(List(*c).items[0].guidID, List(*c, u"Projects/Alpha").items[0].guidID);
}

TEST_F(MaildirConnection, SummaryRecordsAreEncodedAndCarryFlags) {
  Fill();
  Summary s = List(*Open());
  ASSERT_EQ(s.hr, S_OK);
  std::vector<std::string> rows;
  for (DWORD i = 0; i < s.count; ++i) rows.push_back(s.Row(i));
  EXPECT_EQ(rows, (std::vector<std::string>{
                      "alpha|alice@example.net|newest|011|3000", "Alpha|bob@example.org|tie|011|3000",
                      "&lt;script&gt;x&lt;/script&gt;|O&#39;Hara|Body with &#39;quotes&#39; &amp; &lt;tags&gt;|102|2000",
                      "RE: beta|Zed|old one|001|1000",  // new/ is unread
                  }));
}

// Each row as the first letter of its sender and its time. Ties in the
// sort key go newest first; two messages of one time keep one order (by
// their key) in either direction.
TEST_F(MaildirConnection, SortCodesWithTiesBrokenByTime) {
  Fill();
  PutMessage(root, "cur", "2500.E.host:2,S", Message({"From: Zed <z@example.org>", "Subject: alpha"}, ""), 2500);
  auto c = Open();
  auto rows = [&](int sort) {
    Summary s = List(*c, u"", sort);
    std::string out;
    for (DWORD i = 0; i < s.count; ++i) {
      out += U8(s.items[i].pszFrom).substr(0, 1) + std::to_string(platform::FileTimeToUnixTime(s.items[i].ftReceived)) + " ";
    }
    return out;
  };
  struct {
    int sort;
    const char* rows;
  } cases[] = {
      {0, "a3000 b3000 Z2500 O2000 Z1000 "},  // newest first
      {1, "Z1000 O2000 Z2500 a3000 b3000 "},
      {2, "a3000 b3000 O2000 Z2500 Z1000 "},  // sender
      {3, "Z2500 Z1000 O2000 b3000 a3000 "},
      {4, "O2000 a3000 b3000 Z2500 Z1000 "},  // subject: "<script>", alpha, Alpha, alpha, RE: beta
      {5, "Z1000 a3000 b3000 Z2500 O2000 "},
      {6, "a3000 b3000 Z2500 O2000 Z1000 "},  // an unknown code: the default
  };
  for (const auto& k : cases) EXPECT_EQ(rows(k.sort), k.rows) << k.sort;
}

TEST_F(MaildirConnection, IdentifiersAreStablePerUserAndFolder) {
  Fill();
  Summary first = List(*Open());
  mailbridge::DropSummaryCache();
  Summary again = List(*Open());
  ASSERT_EQ(first.count, again.count);
  for (DWORD i = 0; i < first.count; ++i) EXPECT_EQ(first.items[i].guidID, again.items[i].guidID);
  // The same files opened as another user yield identifiers that open nothing.
  mailbridge::AccountConfig other = config;
  other.userName = "mallory";
  auto m = mailbridge::OpenConnection(other);
  Summary theirs = List(*m);
  ASSERT_EQ(theirs.count, first.count);
  for (DWORD i = 0; i < first.count; ++i) {
    EXPECT_NE(theirs.items[i].guidID, first.items[i].guidID);
    EXPECT_EQ(Show(*m, first.items[i].guidID).hr, MAPI_E_NOT_FOUND);
  }
  // A flag change by another client (rename) keeps the identifier, even
  // between listing and opening; a removal ends it.
  const GUID beta = first.BySubject("RE: beta")->guidID;
  auto c = Open();
  rename((root + "/new/1000.A.host").c_str(), (root + "/cur/1000.A.host:2,FS").c_str());
  EXPECT_EQ(Show(*c, beta).hr, S_OK);
  unlink((root + "/cur/1000.A.host:2,FS").c_str());
  EXPECT_EQ(Show(*c, beta).hr, MAPI_E_NOT_FOUND);
}

TEST_F(MaildirConnection, DirectionWalksTheDefaultOrderAndFailsAtTheEnds) {
  Fill();
  auto c = Open();
  Summary s = List(*c, u"", 0);
  ASSERT_EQ(s.count, 4u);
  for (DWORD i = 0; i < s.count; ++i) {
    for (int step : {1, -1}) {
      Opened o = Show(*c, s.items[i].guidID, step);
      const DWORD next = i + step;  // wraps past the top to beyond the end
      EXPECT_EQ(o.hr, next < s.count ? S_OK : MAPI_E_NOT_FOUND) << i << " " << step;
      EXPECT_EQ(o.msg ? o.msg[0].guidID : GUID{}, next < s.count ? s.items[next].guidID : GUID{}) << i << " " << step;
    }
  }
  EXPECT_EQ(Show(*c, GUID{}, 0).hr, MAPI_E_NOT_FOUND);
}

TEST_F(MaildirConnection, MessageRecordReadMarkingAndAttachments) {
  Fill();
  auto c = Open();
  Summary s = List(*c);
  const _MAILITEM* x = s.BySubject("&lt;script&gt;x&lt;/script&gt;");
  ASSERT_NE(x, nullptr);
  Opened o = Show(*c, x->guidID);
  ASSERT_EQ(o.hr, S_OK);
  const _MAILMESSAGE& m = o.msg[0];
  EXPECT_EQ(m.guidID, x->guidID);
  EXPECT_EQ(U8(m.pszFrom) + "|" + U8(m.pszFromAddress) + "|" + U8(m.pszTo) + "|" + U8(m.pszToAddresses) + "|" +
                U8(m.pszCC) + "|" + U8(m.pszCCAddresses) + "|" + U8(m.pszSubject),
            "O&#39;Hara|o@example.org|Ann; bob@example.org|ann@example.org;bob@example.org|Carl &lt;C&gt;|"
            "carl@example.org|&lt;script&gt;x&lt;/script&gt;");
  EXPECT_EQ(m.pszHTMLBody, nullptr);
  EXPECT_EQ(platform::FileTimeToUnixTime(m.ftSent), 1751445000);
  EXPECT_EQ(m.bMeetingRequest, 0);
  // Opening marks it read in the store, seen by the next listing.
  Summary after = List(*c);
  EXPECT_TRUE(after.BySubject("&lt;script&gt;x&lt;/script&gt;")->bRead);
  EXPECT_EQ(FilesIn(root + "/cur").size(), 3u);

  // Attachments are cached under a safe name (CorpusTest checks the folder).
  const GUID id = x->guidID;
  ASSERT_EQ(o.count, 2u);
  std::string evil = U8(o.atts[0].pszFileName);
  EXPECT_EQ(evil.substr(evil.rfind('/') + 1), "_.._evil_1_.txt");
  EXPECT_EQ(ReadAll(evil), "EVIL");  // the line end before a boundary belongs to it
  EXPECT_EQ(o.atts[1].nAttachID, 2);
  EXPECT_EQ(ReadAll(U8(o.atts[1].pszFileName)), std::string("\x00\x01\x02\xff", 4));
  EXPECT_EQ(Attachment(*c, id, 2), std::string("\x00\x01\x02\xff", 4));
  for (int bad : {3, -1}) EXPECT_EQ(Attachment(*c, id, bad), "MAPI_E_NOT_FOUND");
}

TEST_F(MaildirConnection, DeleteMovesToTrashAndDeletingFromTrashRemoves) {
  Fill();
  auto c = Open();
  Summary s = List(*c);
  GUID id = s.BySubject("alpha")->guidID;
  ASSERT_EQ(c->DeleteMessage(u"", id, u"en"), S_OK);
  EXPECT_EQ(List(*c).count, 3u);
  EXPECT_EQ(c->DeleteMessage(u"", id, u"en"), MAPI_E_NOT_FOUND);
  Summary trash = List(*c, u"Trash");
  ASSERT_EQ(trash.hr, S_OK);
  ASSERT_EQ(trash.count, 1u);
  EXPECT_TRUE(std::filesystem::exists(root + "/.Trash/maildirfolder"));
  EXPECT_TRUE(trash.items[0].bRead);  // flags travel with the message
  // A message whose name is already taken in the trash keeps both copies.
  PutMessage(root, "cur", "7000.T.host:2,S", Message({"Subject: twin"}, ""), 3001);
  PutMessage(root + "/.Trash", "cur", "7000.T.host:2,S", Message({"Subject: older twin"}, ""), 5);
  Summary again = List(*c);
  ASSERT_EQ(c->DeleteMessage(u"", again.BySubject("twin")->guidID, u"en"), S_OK);
  Summary trash3 = List(*c, u"Trash");
  EXPECT_NE(trash3.BySubject("twin"), nullptr);
  EXPECT_NE(trash3.BySubject("older twin"), nullptr);
  for (DWORD i = 0; i < trash3.count; ++i) {
    ASSERT_EQ(c->DeleteMessage(u"Trash", trash3.items[i].guidID, u"en"), S_OK);
  }
  EXPECT_EQ(List(*c, u"Trash").count, 0u);
  EXPECT_TRUE(FilesIn(root + "/.Trash/cur").empty());
}

// Folders untouched for a while are not listed again; any later change to
// them is still seen, whenever it happens.
TEST_F(MaildirConnection, QuietFoldersAreTrustedUntilTheyChange) {
  Fill();
  auto age = [&](long long when) {
    for (const char* sub : {"/new", "/cur"}) {
      struct utimbuf t {static_cast<time_t>(when), static_cast<time_t>(when)};
      utime((root + sub).c_str(), &t);
    }
  };
  age(time(nullptr) - 100);
  auto c = Open();
  EXPECT_EQ(List(*c).count, 4u);
  EXPECT_EQ(List(*c).count, 4u);  // served from the cache
  PutMessage(root, "new", "6000.H.host", Message({"Subject: arrived"}, ""), 6000);
  EXPECT_EQ(List(*c).count, 5u);
  age(time(nullptr) - 50);
  EXPECT_EQ(List(*c).count, 5u);
  // A flag change by another program, in a folder that looked quiet.
  rename((root + "/new/6000.H.host").c_str(), (root + "/cur/6000.H.host:2,S").c_str());
  age(time(nullptr) - 40);
  EXPECT_TRUE(List(*c).BySubject("arrived")->bRead);
}

// Directory ---------------------------------------------------------------

class Directory : public MaildirConnection {
 protected:
  void SetUp() override {
    MaildirConnection::SetUp();
    WriteAll(config.contactsPath, Data("contacts.vcf"));
    WriteAll(config.galPath, Data("gal.ldif"));
  }
  std::vector<std::string> Names(_CONTACTITEM* items, DWORD count) {
    std::vector<std::string> out = Contacts(items, count);
    for (auto& r : out) r.resize(r.find('|', r.find('|') + 1));  // name and address
    return out;
  }
};

// Personal contacts keep & and ' in their names (matched as typed) but never
// markup; the address, and the name of an entry without one (the pages' option
// value in single quotes), are fully encoded. The address list matches a
// substring of the whole text, or (not exact) all its words.
TEST_F(Directory, ContactsAndAddressListSearches) {
  const std::vector<std::string> all = {"Joanna &lt;Jo&gt; O'Neil|jo@example.org", "Bob Stone|bob@example.org",
                                        "No Address|", "Smith & Co|o&#39;hara&amp;co@example.org",
                                        "x&#39; onfocus=&#39;go()|"};
  const std::vector<std::string> anns = {"Ann Lee|ann.lee@example.org", "Ann Berg|ann.berg@example.org"};
  struct {
    bool gal;
    const char16_t* search;
    bool exact;
    std::vector<std::string> found;
  } cases[] = {
      {false, nullptr, false, all},
      {false, u"ann", false, {all[0]}},
      {false, u"nobody", false, {}},
      {true, u"", false, {anns[0], anns[1], "Carl &quot;C&quot; Berg|carl@example.org"}},
      {true, u"berg ann", false, {anns[1]}},
  };
  auto c = Open();
  for (const auto& k : cases) {
    _CONTACTITEM* items = nullptr;
    DWORD count = 7;
    HRESULT hr = k.gal ? c->GAL(&items, &count, k.search, k.exact) : c->Contacts(&items, &count, u"", k.search);
    if (!k.gal && items && count == 1) {
      EXPECT_EQ(U8(items[0].pszName1), "Joanna O'Neil");
    }
    EXPECT_EQ(hr, S_OK);
    EXPECT_EQ(items == nullptr, count == 0);
    EXPECT_EQ(Names(items, count), k.found) << k.gal << " " << (k.search ? U8(k.search) : "(none)") << " " << k.exact;
  }
}

// No contacts file or no address list file: an empty address book, not a failure.
TEST_F(Directory, MissingFilesAreEmptyAddressBooks) {
  config.contactsPath = dir.path() + "/nobody/contacts.vcf";
  config.galPath = dir.path() + "/missing.ldif";
  auto c = Open();
  _CONTACTITEM* items = nullptr;
  DWORD count = 7;
  EXPECT_EQ(c->Contacts(&items, &count, nullptr, nullptr), S_OK);
  EXPECT_EQ(count, 0u);
  count = 7;
  EXPECT_EQ(c->GAL(&items, &count, u"x", true), S_OK);
  EXPECT_EQ(count, 0u);
  config.galPath = dir.path();  // there, but not a readable file
  EXPECT_EQ(Open()->GAL(&items, &count, u"x", true), E_FAIL);
}

// Local delivery -----------------------------------------------------------

class LocalSend : public Directory {
 protected:
  HRESULT Send(std::vector<const char16_t*> to, std::vector<const char16_t*> cc = {},
               std::vector<const char16_t*> bcc = {}, std::vector<const char16_t*> files = {}) {
    auto c = Open();
    return c->SendMessageW(to.empty() ? nullptr : to.data(), static_cast<DWORD>(to.size()),
                           cc.empty() ? nullptr : cc.data(), static_cast<DWORD>(cc.size()),
                           bcc.empty() ? nullptr : bcc.data(), static_cast<DWORD>(bcc.size()), u"Hello Grüße",
                           u"Line one\nZeile zwei: äöü", files.empty() ? nullptr : files.data(),
                           static_cast<DWORD>(files.size()));
  }
  std::vector<std::string> Inbox(const std::string& user) { return FilesIn(config.localDeliveryRoot + "/" + user + "/new"); }
  // A connection to a local user's mailbox.
  std::unique_ptr<MAPIManaged::MAPINativeConnection> OpenAs(const std::string& user) {
    mailbridge::AccountConfig other = config;
    other.userName = user;
    other.maildir = config.localDeliveryRoot + "/" + user;
    other.attachmentCacheDir = dir.path() + "/cache/" + user;
    return mailbridge::OpenConnection(other);
  }
};

TEST_F(LocalSend, DeliversToEachLocalMaildirWithAttachmentsAndFilesASentCopy) {
  mkdir(config.uploadDir.c_str(), 0700);
  WriteAll(config.uploadDir + "/u123", "uploaded bytes");
  WriteAll(dir.path() + "/plan.txt", std::string("plain\0file", 10));
  std::u16string plan = U16(dir.path() + "/plan.txt");
  ASSERT_EQ(Send({u"'bob@example.org'", u""}, {u"Carl <carl@example.org>"}, {u"dave@example.org"},
                 {plan.c_str(), u"UPLOADIDu123|Résumé.pdf"}),
            S_OK);
  for (const char* user : {"bob", "carl", "dave"}) ASSERT_EQ(Inbox(user).size(), 1u) << user;
  std::string raw = ReadAll(config.localDeliveryRoot + "/bob/new/" + Inbox("bob")[0]);
  EXPECT_EQ(raw.find("dave"), std::string::npos);  // Bcc only in the envelope
  auto sent = FilesIn(root + "/.Sent/cur");
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_NE(sent[0].find(":2,S"), std::string::npos);
  // Bob's copy carries the file from a path and the upload under its name.
  auto b = OpenAs("bob");
  Summary got = List(*b);
  ASSERT_EQ(got.count, 1u);
  EXPECT_TRUE(got.items[0].bHasAttachments);
  Opened files = Show(*b, got.items[0].guidID);
  ASSERT_EQ(files.count, 2u);
  EXPECT_EQ(ReadAll(U8(files.atts[0].pszFileName)), std::string("plain\0file", 10));
  std::string up = U8(files.atts[1].pszFileName);
  EXPECT_EQ(up.substr(up.rfind('/') + 1), "Résumé.pdf");
  EXPECT_EQ(ReadAll(up), "uploaded bytes");
}

// Only names that need resolving answer with the two codes that make the
// component run name resolution; an address that cannot be reached or an
// attachment that is gone says so with codes of its own. Nothing is sent.
TEST_F(LocalSend, EachSendFailureSaysWhatFailed) {
  constexpr HRESULT kNoRoute = HRESULT_FROM_WIN32(1231);
  constexpr HRESULT kNoFile = HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
  WriteAll(config.galPath, "dn: a\ncn: Sam\nmail: sam1@example.org\n\ndn: b\ncn: Sam\nmail: sam2@example.org\n\n"
                           "dn: c\ncn: Dotted\nmail: bob..x@example.org\n\n");
  mkdir(config.uploadDir.c_str(), 0700);
  const std::u16string folder = U16(dir.path());
  struct {
    std::vector<const char16_t*> to, files;
    HRESULT expected;
  } cases[] = {
      {{u"bob@example.org", u"Nobody Known"}, {}, MAPI_E_NOT_FOUND},
      {{u"bob@example.org", u"Ann"}, {}, MAPI_E_NOT_FOUND},  // no exact match for "Ann"
      {{u"No Address"}, {}, MAPI_E_NOT_FOUND},
      {{u"'Sam'"}, {}, MAPI_E_AMBIGUOUS_RECIP},
      {{u"bob@example.org", u"someone@elsewhere.net"}, {}, kNoRoute},  // no relay for another domain
      {{u"nobody@example.org"}, {}, kNoRoute},                         // no such local mailbox
      {{u"../etc@example.org"}, {}, E_INVALIDARG},                     // not an address
      {{u"Dotted"}, {}, kNoRoute},  // bob..x: a mailbox of that name is there, but ".." never names one
      {{u"bob@example.org"}, {u"UPLOADIDgone|old.pdf"}, kNoFile},     // upload reference gone
      {{u"bob@example.org"}, {u"UPLOADID../secret"}, kNoFile},
      {{u"bob@example.org"}, {u"/no/such/file"}, kNoFile},
      {{u"bob@example.org"}, {folder.c_str()}, E_FAIL},                // not a readable file
      {{}, {}, E_INVALIDARG},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Send(c.to, {}, {}, c.files), c.expected)
        << (c.to.empty() ? "" : U8(c.to.back())) << " " << (c.files.empty() ? "" : U8(c.files[0]));
  }
  EXPECT_TRUE(Inbox("bob").empty());
  EXPECT_TRUE(Inbox("bob..x").empty());
  EXPECT_TRUE(FilesIn(root + "/.Sent/cur").empty());
  // A bare name resolves through the directory.
  ASSERT_EQ(Send({u"Bob Stone"}), S_OK);
  EXPECT_EQ(Inbox("bob").size(), 1u);
}

TEST_F(LocalSend, FullDiskLeavesNoHalfDeliveredCopy) {
  // A file-size limit stands in for a full disk: the write fails part way.
  std::string big(256 * 1024, 'x');
  WriteAll(dir.path() + "/big.bin", big);
  std::u16string path = U16(dir.path() + "/big.bin");
  auto c = Open();
  struct rlimit old {};
  getrlimit(RLIMIT_FSIZE, &old);
  auto previous = std::signal(SIGXFSZ, SIG_IGN);
  struct rlimit small = old;
  small.rlim_cur = 64 * 1024;
  setrlimit(RLIMIT_FSIZE, &small);
  const char16_t* to[] = {u"bob@example.org", u"carl@example.org"};
  const char16_t* files[] = {path.c_str()};
  HRESULT hr = c->SendMessageW(to, 2, nullptr, 0, nullptr, 0, u"big", u"body", files, 1);
  setrlimit(RLIMIT_FSIZE, &old);
  std::signal(SIGXFSZ, previous);
  EXPECT_TRUE(FAILED(hr));
  for (const char* user : {"bob", "carl"}) {
    EXPECT_TRUE(Inbox(user).empty()) << user;
    EXPECT_TRUE(FilesIn(config.localDeliveryRoot + "/" + user + "/tmp").empty()) << user;
  }
  EXPECT_TRUE(FilesIn(root + "/.Sent/cur").empty());
}

TEST_F(LocalSend, MeetingReplyGoesToTheOrganizer) {
  PutMessage(root, "new", "9.M.host", Data("meeting-request.eml"), 9);
  auto c = Open();
  Summary s = List(*c);
  ASSERT_EQ(s.count, 1u);
  EXPECT_EQ(s.items[0].bMeetingRequest, 1);
  Opened request = Show(*c, s.items[0].guidID);
  EXPECT_EQ(request.msg[0].bMeetingRequest, 1);
  EXPECT_EQ(request.count, 0u);  // the calendar is not an attachment
  EXPECT_EQ(c->RespondToMeetingRequest(7, s.items[0].guidID, u"", u"en"), E_INVALIDARG);
  ASSERT_EQ(c->RespondToMeetingRequest(4, s.items[0].guidID, u"", u"fr-FR,fr;q=0.9,en;q=0.5"), S_OK);
  ASSERT_EQ(Inbox("org").size(), 1u);
  std::string raw = ReadAll(config.localDeliveryRoot + "/org/new/" + Inbox("org")[0]);
  Summary os = List(*OpenAs("org"));
  ASSERT_EQ(os.count, 1u);
  EXPECT_EQ(U8(os.items[0].pszSubject), "Refus\u00e9 : Planning");
  EXPECT_NE(U8(os.items[0].pszBody).find("a refus\u00e9 cette invitation."), std::string::npos);
  EXPECT_NE(raw.find("method=REPLY"), std::string::npos);
  // Checked on the calendar text without soft line breaks or folding: one
  // attendee, declined, no RSVP.
  ASSERT_NE(raw.find("BEGIN:VCALENDAR"), std::string::npos);
  const std::string cal = std::regex_replace(raw.substr(raw.find("BEGIN:VCALENDAR")), std::regex("=\r\n|\r\n "), "");
  const std::pair<const char*, bool> wanted[] = {
      {"METHOD:REPLY", true}, {"UID:meet-1@example.org", true}, {"SEQUENCE:2", true}, {"PARTSTAT=DECLINED", true},
      {"RSVP", false},        {"bob@example.org", false},       {"TZID:Europe/Berlin", true}, {"Unused/Zone", false},
      {"Z\r\n", true},  // a UTC DTSTAMP
  };
  for (const auto& [text, present] : wanted) EXPECT_EQ(cal.find(text) != std::string::npos, present) << text;
  // A plain message is no meeting request.
  PutMessage(root, "new", "10.P.host", Message({"Subject: plain"}, ""), 10);
  Summary s2 = List(*c);
  EXPECT_EQ(c->RespondToMeetingRequest(3, s2.BySubject("plain")->guidID, u"", u"en"), E_INVALIDARG);
}

}  // namespace
