// The folder listing page against an in-memory mailbox of 1,000 and 10,000
// summary records with 2 KB bodies, with and without a body search.
// Search argument: 0 none; 1 a body search (type 1) that one message in 97
// matches; 2 a body search for a word no message holds, over bodies of
// realistic size (2-4 KB of words, one message in 100 of 100 KB).
//
//   DisplayMessagesEx/<records>/<search>: the whole page, summary fetch included
//     (the fake library copies every record on each fetch).
//   ListingWriters/<records>/<search>: toolbar and rows over an array fetched
//     once: the component's own time beyond the fetch.
#include <benchmark/benchmark.h>

#include <memory>
#include <string>

#include "frame/Encoding.h"
#include "inbox/MyInbox.h"
#include "tests/support/FakeMail.h"
#include "tests/support/InboxAccess.h"
#include "tests/support/RecordingHost.h"
#include "tests/support/RecordingTarget.h"

namespace {

using testing_support::FakeMailbox;
using testing_support::FakeMessage;

// A 2,048-character body of plain words with a few entities; one message
// in 97 mentions the searched word.
std::u16string Body(int n) {
  std::u16string body;
  const std::u16string words =
      u"Please find the quarterly figures attached &amp; review them before Monday. ";
  while (body.size() < 2048) body += words;
  body.resize(2048);
  if (n % 97 == 0) body.replace(1000, 8, u"Zeppelin");
  return body;
}

// Plain words of 2-4 KB (100 KB for one message in 100), an "&amp;" in
// one message in 10.
std::u16string RealisticBody(int n) {
  static const char16_t* const words[] = {u"meeting", u"budget", u"schedule", u"please", u"review",
                                          u"the",     u"attached", u"draft", u"thanks", u"regards",
                                          u"project", u"update",   u"tomorrow", u"client", u"figures"};
  const std::size_t size = n % 100 == 0 ? 100000 : 2000 + static_cast<std::size_t>(n * 7919) % 2000;
  std::u16string body;
  for (std::size_t w = static_cast<std::size_t>(n); body.size() < size; w = w * 31 + 7) {
    body += words[w % std::size(words)];
    body += (w % 13 == 0) ? u".\r\n" : u" ";
  }
  body.resize(size);
  if (n % 10 == 0) body.replace(size / 2, 7, u" &amp; ");
  return body;
}

struct Page {
  testing_support::RecordingHost host;
  hostkit::HostScope scope{&host};
  std::shared_ptr<FakeMailbox> box = std::make_shared<FakeMailbox>();
  CComPtr<testing_support::RecordingTarget> target = testing_support::RecordingTarget::Create();
  CComPtr<IMyInbox> inbox;

  Page(int records, int search) {
    for (int i = 0; i < records; ++i) {
      FakeMessage m;
      m.id = testing_support::TestGuid(static_cast<std::uint32_t>(i + 1));
      m.subject = u"Quarterly figures " + std::u16string(1, static_cast<char16_t>(u'A' + i % 26));
      m.body = search == 2 ? RealisticBody(i) : Body(i);
      m.read = i % 3 != 0;
      box->messages.push_back(std::move(m));
    }
    host.recordWrites = false;  // measure the page's writes, not a test recorder's
    host.ClearResponse();
    host.connectionFactory = [b = box] { return new testing_support::FakeMail(b); };
    host.query = {{u"Folder", EncodeUrlSafe(u"Inbox")}};
    if (search == 1) host.form = {{u"SearchText", u"zeppelin"}, {u"SearchType", u"1"}};
    if (search == 2) host.form = {{u"SearchText", u"nowhere"}, {u"SearchType", u"1"}};
    CMyInbox::CreateInstance(nullptr, IID_IMyInbox, reinterpret_cast<void**>(&inbox));
    inbox->SetTarget(target);
  }
  void Reset() {
    host.ClearResponse();
    target->calls.clear();
  }
};

void DisplayMessagesEx(benchmark::State& state) {
  Page page(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
  CComBSTR language(u"en");
  for (auto _ : state) {
    page.Reset();
    benchmark::DoNotOptimize(page.inbox->DisplayMessagesEx(language));
  }
  state.counters["bytes"] = static_cast<double>(page.host.Body().size() * 2);
}

void ListingWriters(benchmark::State& state) {
  Page page(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
  // One page first, so that the session and the connection are set up.
  page.inbox->DisplayMessagesEx(CComBSTR(u"en"));
  auto* self = static_cast<CMyInbox*>(page.inbox.p);
  MAPIManaged::_MAILITEM* items = nullptr;
  DWORD count = 0;
  CMyInboxTestAccess::Connection(*self)->InboxSummary(
      CMyInboxTestAccess::Folder(*self).c_str(), &items, &count, 0);
  platform::ModuleStateGuard moduleState(LumarestModuleHandle());
  for (auto _ : state) {
    page.Reset();
    self->WriteListingToolbar(0, count, 0);
    self->WriteListingRows(items, count, 0);
  }
  delete[] items;
}

}  // namespace

BENCHMARK(DisplayMessagesEx)->ArgsProduct({{1000, 10000}, {0, 1}})->Unit(benchmark::kMicrosecond);
BENCHMARK(ListingWriters)->ArgsProduct({{1000, 10000}, {0, 1, 2}})->Unit(benchmark::kMicrosecond);
