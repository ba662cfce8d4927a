// Mail library figures: whole-folder summaries of 1,000 and 10,000 messages
// (cold: no index; index: index on disk, fresh process cache; warm: both)
// on Maildir and on IMAP (Dovecot on loopback), and opening a 1 MB message
// with attachments. Folders are built once per run under /tmp.
#include <benchmark/benchmark.h>
#include <malloc.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utime.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <chrono>

#include "mailbridge/store/Index.h"
#include "mailbridge/MailBridge.h"
#include "mailbridge/store/Store.h"

namespace {

std::string Scratch() {
  static std::string dir = [] {
    std::string t = "/tmp/mailbridge-bench-XXXXXX";
    if (!mkdtemp(t.data())) std::abort();
    chmod(t.c_str(), 0755);  // Dovecot's unprivileged processes look inside
    // Removed at exit, after the Dovecot instance (constructed later) stops.
    static char removeCmd[128];
    std::snprintf(removeCmd, sizeof removeCmd, "rm -rf '%s'", t.c_str());
    std::atexit([] {
      if (std::system(removeCmd) != 0) {
      }
    });
    return t;
  }();
  return dir;
}

void MakeMaildir(const std::string& d) {
  mkdir(d.c_str(), 0700);
  for (const char* s : {"/cur", "/new", "/tmp"}) mkdir((d + s).c_str(), 0700);
}

std::string SampleMessage(int i) {
  std::string body;
  for (int k = 0; k < 30; ++k) body += "Line " + std::to_string(k) + " of message " + std::to_string(i) + ", some ordinary text here.\n";
  std::string headers = "From: =?UTF-8?B?SsO8cmdlbg==?= Sender" + std::to_string(i % 97) + " <s" + std::to_string(i % 97) +
                        "@example.org>\nTo: alice@example.org\nSubject: Report number " + std::to_string(i) +
                        " =?iso-8859-1?Q?f=FCr?= the week\nDate: Tue, 01 Jul 2025 10:00:00 +0000\n"
                        "Message-ID: <" + std::to_string(i) + "@example.org>\nMIME-Version: 1.0\n";
  if (i % 10 == 0) {
    return headers + "Content-Type: multipart/mixed; boundary=BB\n\n--BB\nContent-Type: text/plain; charset=utf-8\n\n" +
           body + "--BB\nContent-Type: application/pdf\nContent-Disposition: attachment; filename=r.pdf\n"
                  "Content-Transfer-Encoding: base64\n\nJVBERi0xLjQKJcOkw7zDtsOfCjIgMCBvYmoKPDwvTGVuZ3RoIDMgMCBSL0Zp\n--BB--\n";
  }
  if (i % 7 == 0) {
    return headers + "Content-Type: text/html; charset=utf-8\n\n<html><body><p>" + body + "</p></body></html>\n";
  }
  return headers + "Content-Type: text/plain; charset=utf-8\n\n" + body;
}

void Fill(const std::string& maildir, int n) {
  MakeMaildir(maildir);
  for (int i = 0; i < n; ++i) {
    std::string path = maildir + "/cur/" + std::to_string(1700000000 + i) + ".M" + std::to_string(i) + "P1.bench:2," +
                       (i % 3 ? "S" : "");
    std::ofstream(path, std::ios::binary) << SampleMessage(i);
    struct utimbuf t {static_cast<time_t>(1700000000 + i), static_cast<time_t>(1700000000 + i)};
    utime(path.c_str(), &t);
  }
  // A folder at rest: its directories last changed an hour ago. (Dovecot
  // rescans a Maildir whose cur/ changed moments ago on every command.)
  struct utimbuf past {time(nullptr) - 3600, time(nullptr) - 3600};
  for (const char* s : {"/cur", "/new"}) utime((maildir + s).c_str(), &past);
}

mailbridge::AccountConfig MaildirAccount(int n) {
  static std::map<int, bool> built;
  std::string root = Scratch() + "/maildir" + std::to_string(n);
  if (!built[n]) {
    Fill(root, n);
    built[n] = true;
  }
  mailbridge::AccountConfig c;
  c.userName = "bench";
  c.maildir = root;
  c.attachmentCacheDir = Scratch() + "/cache" + std::to_string(n);
  return c;
}

// Heap bytes in use: the folder's cached summary is the difference.
double HeapMb() { return static_cast<double>(mallinfo2().uordblks) / (1024.0 * 1024.0); }

bool Summary(const mailbridge::AccountConfig& config, benchmark::State& state, int expect) {
  auto c = mailbridge::OpenConnection(config);
  MAPIManaged::_MAILITEM* items = nullptr;
  DWORD count = 0;
  HRESULT hr = c->InboxSummary(u"", &items, &count, 0);
  delete[] items;
  if (FAILED(hr) || static_cast<int>(count) != expect) {
    std::string why = "summary failed: hr=" + std::to_string(hr) + " count=" + std::to_string(count);
    state.SkipWithError(why.c_str());
    return false;
  }
  return true;
}

void RemoveIndex(const mailbridge::AccountConfig& config) {
  unlink((config.maildir + "/lumarest-index.sqlite").c_str());
  unlink((config.maildir + "/lumarest-index.sqlite-wal").c_str());
  unlink((config.maildir + "/lumarest-index.sqlite-shm").c_str());
}

// No index at all: every message is parsed (files in the page cache).
void BM_MaildirSummaryCold(benchmark::State& state) {
  int n = static_cast<int>(state.range(0));
  auto config = MaildirAccount(n);
  for (auto _ : state) {
    state.PauseTiming();
    mailbridge::DropSummaryCache();
    RemoveIndex(config);
    state.ResumeTiming();
    if (!Summary(config, state, n)) break;
  }
}

// A new process with the index on disk: rows are read back, nothing parsed.
void BM_MaildirSummaryFromIndex(benchmark::State& state) {
  int n = static_cast<int>(state.range(0));
  auto config = MaildirAccount(n);
  Summary(config, state, n);
  for (auto _ : state) {
    state.PauseTiming();
    mailbridge::DropSummaryCache();
    state.ResumeTiming();
    if (!Summary(config, state, n)) break;
  }
}

// The usual page: index and process cache current, the Maildir re-listed.
void BM_MaildirSummaryWarm(benchmark::State& state) {
  int n = static_cast<int>(state.range(0));
  auto config = MaildirAccount(n);
  mailbridge::DropSummaryCache();
  double before = HeapMb();
  Summary(config, state, n);
  double after = HeapMb();
  for (auto _ : state) {
    if (!Summary(config, state, n)) break;
  }
  state.counters["cache_heap_MB"] = after - before;
}

BENCHMARK(BM_MaildirSummaryCold)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_MaildirSummaryFromIndex)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MaildirSummaryWarm)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);

// One 1 MB message with three attachments.
mailbridge::AccountConfig BigAccount(GUID& id) {
  static bool built = false;
  mailbridge::AccountConfig c;
  c.userName = "big";
  c.maildir = Scratch() + "/big";
  c.attachmentCacheDir = Scratch() + "/bigcache";
  if (!built) {
    MakeMaildir(c.maildir);
    std::string raw = "From: a@example.org\nSubject: big\nMIME-Version: 1.0\nContent-Type: multipart/mixed; boundary=Q\n\n"
                      "--Q\nContent-Type: text/plain\n\nthe body\n";
    std::string line(76, 'A');
    for (int a = 0; a < 3; ++a) {
      raw += "--Q\nContent-Type: application/octet-stream\nContent-Disposition: attachment; filename=part" +
             std::to_string(a) + ".bin\nContent-Transfer-Encoding: base64\n\n";
      for (int k = 0; k < 4600; ++k) raw += line + "\n";
    }
    raw += "--Q--\n";
    std::ofstream(c.maildir + "/cur/1.big:2,S", std::ios::binary) << raw;
    built = true;
  }
  auto conn = mailbridge::OpenConnection(c);
  MAPIManaged::_MAILITEM* items = nullptr;
  DWORD count = 0;
  conn->InboxSummary(u"", &items, &count, 0);
  if (count) id = items[0].guidID;
  delete[] items;
  return c;
}

void Open(const mailbridge::AccountConfig& c, const GUID& id, benchmark::State& state) {
  auto conn = mailbridge::OpenConnection(c);
  MAPIManaged::_MAILMESSAGE* m = nullptr;
  MAPIManaged::_MAILMESSAGEATTACHMENTS* a = nullptr;
  DWORD n = 0;
  if (FAILED(conn->InboxMessage(u"", id, &m, &a, &n, 0)) || n != 3) state.SkipWithError("open failed");
  delete[] m;
  delete[] a;
}

// First view: the attachments are written into the cache.
void BM_InboxMessage1MBFirst(benchmark::State& state) {
  GUID id{};
  auto c = BigAccount(id);
  for (auto _ : state) {
    state.PauseTiming();
    std::string cmd = "rm -rf '" + c.attachmentCacheDir + "'";
    if (std::system(cmd.c_str()) != 0) state.SkipWithError("rm");
    state.ResumeTiming();
    Open(c, id, state);
  }
}

// Later views: the cached files are reused.
void BM_InboxMessage1MBCached(benchmark::State& state) {
  GUID id{};
  auto c = BigAccount(id);
  Open(c, id, state);
  for (auto _ : state) Open(c, id, state);
}

BENCHMARK(BM_InboxMessage1MBFirst)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_InboxMessage1MBCached)->Unit(benchmark::kMillisecond);

// IMAP: Dovecot on loopback, the messages placed in its Maildir beforehand.
struct ImapServer {
  int port = 0;
  std::string dir;
  bool ok = false;
  ImapServer() {
    if (std::system("PATH=\"$PATH:/usr/sbin:/sbin\" command -v dovecot >/dev/null 2>&1") != 0) return;
    dir = Scratch() + "/dovecot";
    mkdir(dir.c_str(), 0755);
    port = 20000 + static_cast<int>(getpid() % 20000);
    for (int n : {1000, 10000}) {
      std::string home = dir + "/mail/" + (n == 1000 ? "alice" : "bob");
      mkdir((dir + "/mail").c_str(), 0755);
      mkdir(home.c_str(), 0755);
      Fill(home + "/Maildir", n);
    }
    std::string cmd = std::string(MAILBRIDGE_DOVECOT_SCRIPT) + " start " + dir + " " + std::to_string(port);
    ok = std::system(cmd.c_str()) == 0;
  }
  ~ImapServer() {
    if (!dir.empty()) {
      std::string cmd = std::string(MAILBRIDGE_DOVECOT_SCRIPT) + " stop " + dir;
      if (std::system(cmd.c_str()) != 0) {
      }
    }
  }
};

ImapServer& Server() {
  static ImapServer server;
  return server;
}

mailbridge::AccountConfig ImapAccount(int n) {
  mailbridge::AccountConfig c;
  c.userName = n == 1000 ? "alice" : "bob";
  c.imapHost = "127.0.0.1";
  c.imapPort = Server().port;
  c.imapUser = c.userName;
  c.imapPassword = "secret";
  c.attachmentCacheDir = Scratch() + "/imapcache" + std::to_string(n);
  mkdir(c.attachmentCacheDir.c_str(), 0700);
  return c;
}

// The session that read a freshly filled folder first stays slow in Dovecot
// (every later command there re-synchronises the Maildir, 0.4 to 3 s at
// 10,000 messages); new sessions a few seconds later are not. Warm figures
// are taken on such sessions, as a site's pool renews its sessions.
void SettleSessions() {
  mailbridge::DrainImapPool();
  std::this_thread::sleep_for(std::chrono::seconds(15));
}

void BM_ImapSummaryCold(benchmark::State& state) {
  if (!Server().ok) {
    state.SkipWithError("dovecot not available");
    return;
  }
  int n = static_cast<int>(state.range(0));
  auto c = ImapAccount(n);
  for (auto _ : state) {
    state.PauseTiming();
    mailbridge::DropSummaryCache();
    unlink((c.attachmentCacheDir + "/imap-index.sqlite").c_str());
    unlink((c.attachmentCacheDir + "/imap-index.sqlite-wal").c_str());
    state.ResumeTiming();
    if (!Summary(c, state, n)) break;
  }
}

void BM_ImapSummaryWarm(benchmark::State& state) {
  if (!Server().ok) {
    state.SkipWithError("dovecot not available");
    return;
  }
  int n = static_cast<int>(state.range(0));
  auto c = ImapAccount(n);
  if (!Summary(c, state, n)) return;
  SettleSessions();
  for (auto _ : state) {
    if (!Summary(c, state, n)) break;
  }
}

// Every thread lists the folder over and over, each listing a connection of
// its own as a page request would have (sessions come from the pool).
void BM_ImapSummaryWarmThreads(benchmark::State& state) {
  if (!Server().ok) {
    state.SkipWithError("dovecot not available");
    return;
  }
  auto c = ImapAccount(10000);
  if (!Summary(c, state, 10000)) return;
  if (state.thread_index() == 0) SettleSessions();
  for (auto _ : state) {
    if (!Summary(c, state, 10000)) break;
  }
  state.SetItemsProcessed(state.iterations());
}

// The store alone: what changed since a sync point after one flag change
// by another client (QRESYNC), against the whole UID and flags listing.
void BM_ImapStoreChanges(benchmark::State& state) {
  if (!Server().ok) {
    state.SkipWithError("dovecot not available");
    return;
  }
  bool delta = state.range(0) == 1;
  mailbridge::ImapSettings s;
  s.host = "127.0.0.1";
  s.port = Server().port;
  s.login = "bob";
  s.password = "secret";
  auto store = mailbridge::OpenImapStore(s);
  s.pooled = false;
  auto other = mailbridge::OpenImapStore(s);
  mailbridge::FolderChanges changes;
  if (!store->ListChanges("", "", changes).ok() || changes.entries.size() != 10000) {
    state.SkipWithError("listing failed");
    return;
  }
  std::vector<mailbridge::StoreEntry> all = changes.entries;
  std::string since = changes.syncPoint;
  std::size_t next = 0;
  for (auto _ : state) {
    state.PauseTiming();
    mailbridge::StoreEntry e = all[next++ % all.size()];
    e.read = false;
    if (!other->SetRead("", e).ok()) state.SkipWithError("flag change failed");
    state.ResumeTiming();
    if (!store->ListChanges("", delta ? since : std::string(), changes).ok()) {
      state.SkipWithError("changes failed");
      break;
    }
    since = changes.syncPoint;
  }
  state.counters["entries"] = static_cast<double>(changes.entries.size());
}

// Message view over IMAP: the summary is warm, the message is fetched and parsed.
void BM_ImapInboxMessage(benchmark::State& state) {
  if (!Server().ok) {
    state.SkipWithError("dovecot not available");
    return;
  }
  auto c = ImapAccount(10000);
  GUID id{};
  {
    auto conn = mailbridge::OpenConnection(c);
    MAPIManaged::_MAILITEM* items = nullptr;
    DWORD count = 0;
    conn->InboxSummary(u"", &items, &count, 0);
    if (count) id = items[count / 2].guidID;
    delete[] items;
  }
  SettleSessions();
  for (auto _ : state) {
    auto conn = mailbridge::OpenConnection(c);
    MAPIManaged::_MAILMESSAGE* m = nullptr;
    MAPIManaged::_MAILMESSAGEATTACHMENTS* a = nullptr;
    DWORD n = 0;
    if (FAILED(conn->InboxMessage(u"", id, &m, &a, &n, 0))) state.SkipWithError("view failed");
    delete[] m;
    delete[] a;
  }
}

BENCHMARK(BM_ImapSummaryCold)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond)->Iterations(2);
BENCHMARK(BM_ImapSummaryWarm)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ImapSummaryWarmThreads)->Threads(1)->Threads(4)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ImapStoreChanges)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ImapInboxMessage)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
