// The demo: a user with a mailbox of varied messages (plain and HTML bodies,
// attachments of several types, an internet shortcut, a sound, a meeting
// request, long threads, non-ASCII senders and subjects), personal contacts
// and a global address list.
#pragma once

#include <filesystem>
#include <string>

namespace portal {

class Accounts;

struct DemoUser {
  std::string name;
  std::string password;
  bool created = false;
};

// Fills an empty data folder; an existing demo user is left as it is.
DemoUser CreateDemo(const std::filesystem::path& dataDir, Accounts& accounts,
                    const std::string& localDomain);

// Writes count generated messages into a Maildir folder (for load tests).
void FillMaildir(const std::filesystem::path& maildir, int count, const std::string& localDomain);

}  // namespace portal
