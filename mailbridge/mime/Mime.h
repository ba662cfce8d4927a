// MIME to plain data: one parser (GMime) for Maildir files and IMAP bytes.
// Every text here is decoded, valid UTF-8 and not yet HTML-encoded.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace mailbridge {

void EnsureMimeInit();

struct MailAddress {
  std::string name;
  std::string address;
  std::string Display() const { return name.empty() ? address : name; }
};

struct MimeAttachment {
  int id = 0;  // 1-based, in MIME tree order
  std::string fileName;
  std::string mimeType;
};

struct ParsedMessage {
  MailAddress from;
  std::vector<MailAddress> to;
  std::vector<MailAddress> cc;
  std::string subject;
  std::string plainBody;  // from text/plain, or derived from the HTML
  std::string htmlBody;   // the text/html part, raw
  std::int64_t sent = 0;  // Date: header, Unix seconds; 0 when absent
  int importance = 1;     // 0 low, 1 normal, 2 high
  bool meetingRequest = false;
  std::string calendar;   // the text/calendar part, when there is one
  std::string messageId;
  std::vector<MimeAttachment> attachments;
};

// Never fails: a file without a header block becomes a message whose body
// is the file's text.
ParsedMessage ParseMessage(std::string_view raw);

// The decoded bytes of attachment `id` (as numbered by ParseMessage).
bool ExtractAttachment(std::string_view raw, int id, std::string& bytes, MimeAttachment& info);

// RFC 2047 helpers, exposed for tests. MergeEncodedWords joins adjacent
// encoded words of one charset so that a character split across two of
// them decodes whole.
std::string MergeEncodedWords(std::string_view raw);
std::string DecodeHeaderText(std::string_view raw);
std::vector<MailAddress> DecodeAddressList(std::string_view raw);

// Bytes in a charset to UTF-8, with converters kept open per thread;
// unknown charsets and invalid bytes fall back to Windows-1252.
std::string ToUtf8(std::string_view bytes, std::string_view charset);

}  // namespace mailbridge

#include <functional>
namespace mailbridge {
// Every attachment with its decoded bytes, from one parse.
void ForEachAttachment(std::string_view raw,
                       const std::function<void(const MimeAttachment& info, const std::string& bytes)>& sink);
}  // namespace mailbridge
