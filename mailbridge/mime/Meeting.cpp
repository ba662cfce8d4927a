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

namespace {

struct Wording {
  const char* language;
  const char* subject[3];  // tentative, accept, decline
  const char* body[3];     // follows the attendee's name
};

constexpr Wording kWordings[] = {
    {"en",
     {"Tentative: ", "Accepted: ", "Declined: "},
     {" has tentatively accepted this invitation.", " has accepted this invitation.",
      " has declined this invitation."}},
    {"fr",
     {"Provisoire : ", "Accept\u00e9 : ", "Refus\u00e9 : "},
     {" a accept\u00e9 provisoirement cette invitation.", " a accept\u00e9 cette invitation.",
      " a refus\u00e9 cette invitation."}},
    {"de",
     {"Mit Vorbehalt angenommen: ", "Angenommen: ", "Abgelehnt: "},
     {" hat diese Einladung mit Vorbehalt angenommen.", " hat diese Einladung angenommen.",
      " hat diese Einladung abgelehnt."}},
};

std::string_view TrimBlanks(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

// "q=0", "q=0.0", "q=0.000": the entry is refused.
bool RefusedEntry(std::string_view params) {
  for (std::size_t semi; (semi = params.find(';')) != std::string_view::npos;) {
    params.remove_prefix(semi + 1);
    std::string_view p = TrimBlanks(params.substr(0, params.find(';')));
    if (p.size() >= 3 && (p[0] == 'q' || p[0] == 'Q') && p[1] == '=') {
      std::string_view v = p.substr(2);
      return !v.empty() && v.find_first_not_of("0.") == std::string_view::npos;
    }
  }
  return false;
}

const Wording& WordingFor(std::string_view languageList) {
  std::string_view rest = languageList;
  while (!rest.empty()) {
    std::size_t comma = rest.find(',');
    std::string_view entry = rest.substr(0, comma);
    rest = comma == std::string_view::npos ? std::string_view() : rest.substr(comma + 1);
    std::string_view tag = TrimBlanks(entry.substr(0, entry.find(';')));
    if (RefusedEntry(entry)) continue;
    std::size_t dash = tag.find_first_of("-_");
    std::string primary(tag.substr(0, dash));
    for (char& c : primary) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
    for (const auto& w : kWordings)
      if (primary == w.language) return w;
  }
  return kWordings[0];
}

}  // namespace

std::string MeetingReplyLanguage(std::string_view languageList) { return WordingFor(languageList).language; }

MeetingReplyText MeetingReplyWording(MeetingAnswer answer, std::string_view languageList, const std::string& topic,
                                     const std::string& attendeeName) {
  const Wording& w = WordingFor(languageList);
  int i = answer == MeetingAnswer::Accept ? 1 : answer == MeetingAnswer::Decline ? 2 : 0;
  return {w.subject[i] + topic, attendeeName + w.body[i]};
}

}  // namespace mailbridge
