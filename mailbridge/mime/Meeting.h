// Answers to meeting requests: an iCalendar REPLY built by hand with libical.
#pragma once

#include <string>

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

}  // namespace mailbridge
