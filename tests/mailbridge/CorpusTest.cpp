// Real-world messages that the tests did not write (see corpus/README.md):
// each lists and shows through a Maildir without failing.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "TestUtil.h"
#include "mailbridge/mime/Mime.h"
#include "mailbridge/store/Index.h"

using namespace mbtest;

namespace {

std::vector<std::string> CorpusFiles() {
  std::vector<std::string> out;
  for (const auto& name : FilesIn(MAILBRIDGE_CORPUS_DIR)) {
    if (name != "README.md") out.push_back(name);
  }
  std::sort(out.begin(), out.end());
  return out;
}

TEST(Corpus, EveryMessageListsAndShows) {
  auto files = CorpusFiles();
  ASSERT_GE(files.size(), 40u) << "corpus missing";
  TempDir dir;
  std::string root = dir.path() + "/box";
  MakeMaildir(root);
  long long t = 1000;
  for (const auto& f : files) PutMessage(root, "cur", f + ":2,", ReadAll(std::string(MAILBRIDGE_CORPUS_DIR) + "/" + f), t++);
  mailbridge::DropSummaryCache();
  mailbridge::AccountConfig config;
  config.userName = "corpus";
  config.maildir = root;
  config.attachmentCacheDir = dir.path() + "/cache";
  auto c = mailbridge::OpenConnection(config);
  Summary list = List(*c, u"", 4);
  ASSERT_EQ(list.hr, S_OK);
  ASSERT_EQ(list.count, files.size());
  const auto* items = list.items.get();
  int withAttachments = 0;
  for (DWORD i = 0; i < list.count; ++i) {
    Opened o = Show(*c, items[i].guidID);
    ASSERT_EQ(o.hr, S_OK) << U8(items[i].pszSubject);
    const auto* m = o.msg.get();
    const auto* a = o.atts.get();
    const DWORD n = o.count;
    EXPECT_EQ(U8(m->pszSubject), U8(items[i].pszSubject));
    EXPECT_EQ(items[i].bHasAttachments != 0, n > 0) << U8(items[i].pszSubject);
    for (DWORD k = 0; k < n; ++k) {
      std::string path = U8(a[k].pszFileName);
      EXPECT_EQ(path.rfind(config.attachmentCacheDir + "/", 0), 0u);
      EXPECT_TRUE(std::filesystem::exists(path)) << path;
    }
    if (n) ++withAttachments;
    // No text reaching a page carries raw markup characters.
    for (const char16_t* text : {m->pszFrom, m->pszTo, m->pszCC, m->pszSubject, m->pszBody}) {
      std::string s = U8(text);
      EXPECT_EQ(s.find_first_of("<>\"'"), std::string::npos) << s.substr(0, 80);
    }
  }
  EXPECT_GE(withAttachments, 10);
}

TEST(Corpus, KnownMessagesDecodeAsExpected) {
  std::string dingus = ReadAll(std::string(MAILBRIDGE_CORPUS_DIR) + "/msg_07.txt");
  mailbridge::ParsedMessage m = mailbridge::ParseMessage(dingus);
  EXPECT_EQ(m.subject, "Here is your dingus fish");
  ASSERT_EQ(m.attachments.size(), 1u);
  std::string gif;
  mailbridge::MimeAttachment info;
  ASSERT_TRUE(mailbridge::ExtractAttachment(dingus, 1, gif, info));
  EXPECT_EQ(gif.substr(0, 6), "GIF87a");
  EXPECT_EQ(m.sent, 987809702);  // Fri, 20 Apr 2001 19:35:02 -0400
}

}  // namespace
