// /healthz: 200 "ok" when the services the site depends on answer (Redis
// when sessions live there, the IMAP server when mail lives there), else
// 503 with one line per service that does not.
#pragma once

namespace httplib {
struct Response;
}

namespace portal {

class Portal;

void AnswerHealth(Portal& portal, httplib::Response& res);

}  // namespace portal
