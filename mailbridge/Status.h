// The mail library's own result type. Stores, the index, sending and the
// directory say what went wrong in these terms; only the adapter
// (Connection.cpp) turns a Status into the codes the component expects.
#pragma once

#include <string>
#include <utility>

namespace mailbridge {

enum class Errc {
  kOk,
  kNotFound,         // no such folder, message, file or entry
  kAmbiguous,        // a typed name that several directory entries carry
  kUnreachable,      // no way to deliver to an address: no relay for another domain, no such local mailbox
  kAccessDenied,     // refused by the server or the file system
  kInvalidArgument,  // the request itself is malformed
  kNoSpace,          // disk full or quota exceeded
  kNoMemory,
  kUnavailable,      // a server is down, silent or broke the connection
  kFailed,           // anything else
};

class [[nodiscard]] Status {
 public:
  Status() = default;
  Status(Errc code, std::string detail = {}) : code_(code), detail_(std::move(detail)) {}  // NOLINT: implicit on purpose

  bool ok() const { return code_ == Errc::kOk; }
  Errc code() const { return code_; }
  // A short text for logs, e.g. the server's answer; may be empty.
  const std::string& detail() const { return detail_; }

 private:
  Errc code_ = Errc::kOk;
  std::string detail_;
};

inline Status OkStatus() { return {}; }

// Status from an errno value of a failed file operation.
Status ErrnoStatus(int err);

}  // namespace mailbridge
