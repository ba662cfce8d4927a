// Outgoing mail: composing with GMime and handing the bytes to SMTP
// (libcurl) or to local Maildirs.
#pragma once

#include <string>
#include <vector>

#include "mailbridge/mime/Mime.h"
#include "mailbridge/Status.h"

namespace mailbridge {

struct OutgoingFile {
  std::string name;   // as the recipient sees it
  std::string bytes;
};

struct OutgoingMessage {
  MailAddress from;
  std::vector<MailAddress> to, cc, bcc;  // bcc only reaches the envelope
  std::string subject;
  std::string body;
  std::vector<OutgoingFile> files;
  std::string calendar;        // an iCalendar object sent beside the text
  std::string calendarMethod;  // its METHOD, e.g. "REPLY"
  std::string domain = "localhost";  // for the Message-ID
};

// The whole message, 7-bit clean, CRLF line ends, no Bcc header.
std::string ComposeMessage(const OutgoingMessage& message);

// Every envelope recipient of the message, in order, without repeats.
std::vector<std::string> EnvelopeRecipients(const OutgoingMessage& message);

// One SMTP transaction; any refused recipient fails it as a whole.
Status SendSmtp(const std::string& url, const std::string& user, const std::string& password,
                 const std::string& from, const std::vector<std::string>& recipients,
                 const std::string& raw);

// Delivers into every Maildir or into none: all copies are written to tmp/
// first and renamed into new/ only when each was written completely.
Status DeliverToMaildirs(const std::vector<std::string>& maildirs, const std::string& raw);

}  // namespace mailbridge
