#include "mailbridge/mime/Meeting.h"

#include <libical/ical.h>

#include <cstdlib>
#include <cstring>
#include <set>
#include <strings.h>

namespace mailbridge {
namespace {

std::string StripMailto(const char* value) {
  if (!value) return {};
  std::string v = value;
  if (v.size() >= 7 && strncasecmp(v.c_str(), "mailto:", 7) == 0) v = v.substr(7);
  return v;
}

void NoteTzid(icalproperty* p, std::set<std::string>& tzids) {
  if (!p) return;
  icalparameter* tz = icalproperty_get_first_parameter(p, ICAL_TZID_PARAMETER);
  if (tz && icalparameter_get_tzid(tz)) tzids.insert(icalparameter_get_tzid(tz));
}

}  // namespace

bool BuildMeetingReply(const std::string& requestCalendar, MeetingAnswer answer, const std::string& attendeeEmail,
                       const std::string& attendeeName, MeetingReply& out) {
  icalcomponent* cal = icalparser_parse_string(requestCalendar.c_str());
  if (!cal) return false;
  icalcomponent* root = cal;
  if (icalcomponent_isa(cal) != ICAL_VCALENDAR_COMPONENT) {
    icalcomponent_free(cal);
    return false;
  }
  icalcomponent* event = icalcomponent_get_first_component(root, ICAL_VEVENT_COMPONENT);
  const char* uid = event ? icalcomponent_get_uid(event) : nullptr;
  if (!event || !uid) {
    icalcomponent_free(cal);
    return false;
  }

  icalcomponent* reply = icalcomponent_new(ICAL_VCALENDAR_COMPONENT);
  icalcomponent_add_property(reply, icalproperty_new_prodid("-//Lumarest//Inbox mail library//EN"));
  icalcomponent_add_property(reply, icalproperty_new_version("2.0"));
  icalcomponent_add_property(reply, icalproperty_new_method(ICAL_METHOD_REPLY));

  icalcomponent* ev = icalcomponent_new(ICAL_VEVENT_COMPONENT);
  icalcomponent_add_property(ev, icalproperty_new_uid(uid));
  icaltimetype now = icaltime_current_time_with_zone(icaltimezone_get_utc_timezone());
  icalcomponent_add_property(ev, icalproperty_new_dtstamp(now));
  icalproperty* seq = icalcomponent_get_first_property(event, ICAL_SEQUENCE_PROPERTY);
  icalcomponent_add_property(ev, icalproperty_new_sequence(seq ? icalproperty_get_sequence(seq) : 0));

  std::set<std::string> tzids;
  icalproperty* organizer = icalcomponent_get_first_property(event, ICAL_ORGANIZER_PROPERTY);
  if (organizer) {
    out.organizerEmail = StripMailto(icalproperty_get_organizer(organizer));
    icalcomponent_add_property(ev, icalproperty_new_clone(organizer));
  }
  for (icalproperty_kind kind : {ICAL_RECURRENCEID_PROPERTY, ICAL_DTSTART_PROPERTY, ICAL_DTEND_PROPERTY,
                                 ICAL_SUMMARY_PROPERTY}) {
    icalproperty* p = icalcomponent_get_first_property(event, kind);
    if (!p) continue;
    NoteTzid(p, tzids);
    icalcomponent_add_property(ev, icalproperty_new_clone(p));
  }
  if (const char* summary = icalcomponent_get_summary(event)) out.summary = summary;

  // Only the answering attendee, with the new participation status.
  icalproperty* mine = nullptr;
  for (icalproperty* a = icalcomponent_get_first_property(event, ICAL_ATTENDEE_PROPERTY); a;
       a = icalcomponent_get_next_property(event, ICAL_ATTENDEE_PROPERTY)) {
    if (strcasecmp(StripMailto(icalproperty_get_attendee(a)).c_str(), attendeeEmail.c_str()) == 0) {
      mine = icalproperty_new_clone(a);
      break;
    }
  }
  if (!mine) {
    mine = icalproperty_new_attendee(("mailto:" + attendeeEmail).c_str());
    if (!attendeeName.empty()) icalproperty_add_parameter(mine, icalparameter_new_cn(attendeeName.c_str()));
  }
  icalproperty_remove_parameter_by_kind(mine, ICAL_PARTSTAT_PARAMETER);
  icalproperty_remove_parameter_by_kind(mine, ICAL_RSVP_PARAMETER);
  icalparameter_partstat status = answer == MeetingAnswer::Accept    ? ICAL_PARTSTAT_ACCEPTED
                                  : answer == MeetingAnswer::Decline ? ICAL_PARTSTAT_DECLINED
                                                                     : ICAL_PARTSTAT_TENTATIVE;
  icalproperty_add_parameter(mine, icalparameter_new_partstat(status));
  icalcomponent_add_property(ev, mine);

  // Time zones that the copied times name travel along.
  for (icalcomponent* tz = icalcomponent_get_first_component(root, ICAL_VTIMEZONE_COMPONENT); tz;
       tz = icalcomponent_get_next_component(root, ICAL_VTIMEZONE_COMPONENT)) {
    icalproperty* id = icalcomponent_get_first_property(tz, ICAL_TZID_PROPERTY);
    if (id && icalproperty_get_tzid(id) && tzids.count(icalproperty_get_tzid(id))) {
      icalcomponent_add_component(reply, icalcomponent_new_clone(tz));
    }
  }
  icalcomponent_add_component(reply, ev);

  char* text = icalcomponent_as_ical_string_r(reply);
  out.calendar = text ? text : "";
  free(text);
  icalcomponent_free(reply);
  icalcomponent_free(cal);
  return !out.calendar.empty();
}

}  // namespace mailbridge
