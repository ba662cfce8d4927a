// Answers to meeting requests: an iCalendar REPLY built by hand with libical.
#pragma once

#include <string>
#include <string_view>

namespace mailbridge {

enum class MeetingAnswer { Tentative = 2, Accept = 3, Decline = 4 };

struct MeetingReply {
  std::string calendar;        // the REPLY object
  std::string organizerEmail;  // where it goes
  std::string summary;
};

// False when the request cannot be read or has no event.
bool BuildMeetingReply(const std::string& requestCalendar, MeetingAnswer answer,
                       const std::string& attendeeEmail, const std::string& attendeeName,
                       MeetingReply& out);

// The language of a meeting reply: the first entry of a language list such as
// an Accept-Language header ("fr-CH, fr;q=0.9, en;q=0.8") whose primary tag is
// one the replies are written in (en, fr, de, the portal's satellite
// languages); entries with q=0 are skipped. English when none is.
std::string MeetingReplyLanguage(std::string_view languageList);

// The reply's subject and text in that language.
struct MeetingReplyText {
  std::string subject;
  std::string body;
};
MeetingReplyText MeetingReplyWording(MeetingAnswer answer, std::string_view languageList,
                                     const std::string& topic, const std::string& attendeeName);

}  // namespace mailbridge
