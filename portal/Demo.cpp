#include "portal/Demo.h"

#include <algorithm>
#include <chrono>
#include <ctime>
#include <fstream>
#include <vector>

#include "portal/Accounts.h"
#include "portal/Util.h"

namespace portal {

namespace fs = std::filesystem;

namespace {

std::string Base64(std::string_view data) {
  static const char a[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  std::size_t i = 0;
  for (; i + 2 < data.size(); i += 3) {
    unsigned v = (static_cast<unsigned char>(data[i]) << 16) | (static_cast<unsigned char>(data[i + 1]) << 8) |
                 static_cast<unsigned char>(data[i + 2]);
    out += {a[v >> 18], a[(v >> 12) & 63], a[(v >> 6) & 63], a[v & 63]};
    if (out.size() % 77 == 76) out += "\r\n";
  }
  if (i + 1 == data.size()) {
    unsigned v = static_cast<unsigned char>(data[i]) << 16;
    out += {a[v >> 18], a[(v >> 12) & 63], '=', '='};
  } else if (i + 2 == data.size()) {
    unsigned v = (static_cast<unsigned char>(data[i]) << 16) | (static_cast<unsigned char>(data[i + 1]) << 8);
    out += {a[v >> 18], a[(v >> 12) & 63], a[(v >> 6) & 63], '='};
  }
  // Lines of at most 76 characters.
  std::string wrapped;
  std::size_t col = 0;
  for (char c : out) {
    if (c == '\r' || c == '\n') continue;
    wrapped.push_back(c);
    if (++col == 76) {
      wrapped += "\r\n";
      col = 0;
    }
  }
  return wrapped;
}

// RFC 2047 encoded word for a header text outside ASCII.
std::string HeaderText(const std::string& text) {
  bool ascii = true;
  for (unsigned char c : text)
    if (c >= 0x80) ascii = false;
  if (ascii) return text;
  std::string b = Base64(text);
  std::string flat;
  for (char c : b)
    if (c != '\r' && c != '\n') flat.push_back(c);
  return "=?UTF-8?B?" + flat + "?=";
}

std::string DateHeader(std::time_t t) {
  std::tm tm{};
  gmtime_r(&t, &tm);
  char buf[64];
  std::strftime(buf, sizeof buf, "%a, %d %b %Y %H:%M:%S +0000", &tm);
  return buf;
}

struct Attachment {
  std::string name;
  std::string type;
  std::string data;
};

struct Message {
  std::string fromName, fromAddr, to, cc, subject, text, html;
  std::vector<Attachment> attachments;
  std::string calendar;  // a text/calendar REQUEST part
  std::time_t date = 0;
  bool seen = false;
  int priority = 3;  // 1 high, 3 normal, 5 low
  std::string messageId, inReplyTo;
};

std::string Render(const Message& m) {
  std::string boundary = "=_lumarest_" + RandomHex(8);
  std::string out;
  out += "From: " + HeaderText(m.fromName) + " <" + m.fromAddr + ">\r\n";
  out += "To: " + m.to + "\r\n";
  if (!m.cc.empty()) out += "Cc: " + m.cc + "\r\n";
  out += "Subject: " + HeaderText(m.subject) + "\r\n";
  out += "Date: " + DateHeader(m.date) + "\r\n";
  out += "Message-ID: <" + m.messageId + ">\r\n";
  if (!m.inReplyTo.empty()) out += "In-Reply-To: <" + m.inReplyTo + ">\r\n";
  if (m.priority != 3) out += "X-Priority: " + std::to_string(m.priority) + "\r\n";
  out += "MIME-Version: 1.0\r\n";
  auto textPart = [](const std::string& type, const std::string& body) {
    return "Content-Type: " + type + "; charset=utf-8\r\nContent-Transfer-Encoding: 8bit\r\n\r\n" + body + "\r\n";
  };
  bool multi = !m.attachments.empty() || !m.html.empty() || !m.calendar.empty();
  if (!multi) return out + textPart("text/plain", m.text);
  std::string kind = m.attachments.empty() && m.calendar.empty() ? "alternative" : "mixed";
  out += "Content-Type: multipart/" + kind + "; boundary=\"" + boundary + "\"\r\n\r\n";
  out += "This is a message in MIME format.\r\n";
  if (!m.html.empty() && kind == "mixed") {
    std::string inner = "=_alt_" + RandomHex(8);
    out += "--" + boundary + "\r\nContent-Type: multipart/alternative; boundary=\"" + inner + "\"\r\n\r\n";
    out += "--" + inner + "\r\n" + textPart("text/plain", m.text);
    out += "--" + inner + "\r\n" + textPart("text/html", m.html);
    out += "--" + inner + "--\r\n";
  } else {
    out += "--" + boundary + "\r\n" + textPart("text/plain", m.text);
    if (!m.html.empty()) out += "--" + boundary + "\r\n" + textPart("text/html", m.html);
  }
  if (!m.calendar.empty())
    out += "--" + boundary + "\r\nContent-Type: text/calendar; method=REQUEST; charset=utf-8\r\n"
           "Content-Transfer-Encoding: 8bit\r\n\r\n" + m.calendar + "\r\n";
  for (const auto& a : m.attachments)
    out += "--" + boundary + "\r\nContent-Type: " + a.type + "; name=\"" + a.name +
           "\"\r\nContent-Disposition: attachment; filename=\"" + a.name +
           "\"\r\nContent-Transfer-Encoding: base64\r\n\r\n" + Base64(a.data) + "\r\n";
  out += "--" + boundary + "--\r\n";
  return out;
}

void Deliver(const fs::path& maildir, const Message& m, int serial) {
  std::string base = std::to_string(m.date) + ".M" + std::to_string(serial) + "P" +
                     RandomHex(4) + ".lumarest";
  std::string data = Render(m);
  fs::path file = m.seen ? maildir / "cur" / (base + ":2,S") : maildir / "new" / base;
  WriteFile(file, data);
  // A delivered file's time is its arrival time.
  std::error_code ec;
  fs::last_write_time(file, fs::file_time_type::clock::now() -
                                std::chrono::seconds(std::time(nullptr) - m.date), ec);
}

// A short sound: half a second of a 440 Hz square wave, 8 kHz, 8 bit.
std::string WaveFile() {
  const int rate = 8000, samples = rate / 2;
  std::string pcm;
  for (int i = 0; i < samples; ++i) pcm.push_back(static_cast<char>((i / 9) % 2 ? 0xC0 : 0x40));
  auto u32 = [](unsigned v) { return std::string{char(v), char(v >> 8), char(v >> 16), char(v >> 24)}; };
  auto u16 = [](unsigned v) { return std::string{char(v), char(v >> 8)}; };
  return "RIFF" + u32(36 + samples) + "WAVEfmt " + u32(16) + u16(1) + u16(1) + u32(rate) + u32(rate) +
         u16(1) + u16(8) + "data" + u32(samples) + pcm;
}

// A one-page PDF with a line of text.
std::string PdfFile(const std::string& line) {
  std::string stream = "BT /F1 18 Tf 72 720 Td (" + line + ") Tj ET";
  std::vector<std::string> objs = {
      "<< /Type /Catalog /Pages 2 0 R >>",
      "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
      "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Contents 4 0 R /Resources << /Font << /F1 5 0 R >> >> >>",
      "<< /Length " + std::to_string(stream.size()) + " >>\nstream\n" + stream + "\nendstream",
      "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>"};
  std::string out = "%PDF-1.4\n";
  std::vector<std::size_t> offsets;
  for (std::size_t i = 0; i < objs.size(); ++i) {
    offsets.push_back(out.size());
    out += std::to_string(i + 1) + " 0 obj\n" + objs[i] + "\nendobj\n";
  }
  std::size_t xref = out.size();
  out += "xref\n0 " + std::to_string(objs.size() + 1) + "\n0000000000 65535 f \n";
  for (auto o : offsets) {
    char buf[24];
    std::snprintf(buf, sizeof buf, "%010zu 00000 n \n", o);
    out += buf;
  }
  out += "trailer\n<< /Size " + std::to_string(objs.size() + 1) + " /Root 1 0 R >>\nstartxref\n" +
         std::to_string(xref) + "\n%%EOF\n";
  return out;
}

// A GIF picture: 4 colours, LZW codes of 3 bits kept fixed by a clear code
// before every second pixel.
std::string GifFile() {
  const int w = 32, h = 32;
  std::string g = "GIF89a";
  g += std::string{char(w), 0, char(h), 0, char(0x81), 0, 0};
  g += std::string{char(0xFF), char(0xFF), char(0xFF), char(0x2A), char(0x5D), char(0xB0),
                   char(0xF0), char(0xB0), char(0x20), char(0x30), char(0x30), char(0x30)};
  g += std::string{0x2C, 0, 0, 0, 0, char(w), 0, char(h), 0, 0, 2};
  std::string codes;
  unsigned acc = 0;
  int bits = 0;
  auto put = [&](unsigned code) {
    acc |= code << bits;
    bits += 3;
    while (bits >= 8) {
      codes.push_back(static_cast<char>(acc & 0xFF));
      acc >>= 8;
      bits -= 8;
    }
  };
  for (int i = 0; i < w * h; ++i) {
    int x = i % w, y = i / w;
    unsigned c = (x - 16) * (x - 16) + (y - 16) * (y - 16) < 120 ? 2 : (x < 4 || y < 4 || x > 27 || y > 27) ? 1 : 0;
    if (i % 2 == 0) put(4);
    put(c);
  }
  put(5);
  if (bits) codes.push_back(static_cast<char>(acc & 0xFF));
  for (std::size_t i = 0; i < codes.size(); i += 255) {
    std::size_t n = std::min<std::size_t>(255, codes.size() - i);
    g.push_back(static_cast<char>(n));
    g += codes.substr(i, n);
  }
  g.push_back(0);
  g += ";";
  return g;
}

const char* kPeople[][2] = {
    {"Ada Lindqvist", "ada.lindqvist@example.org"},   {"Bruno Ferreira", "bruno@example.net"},
    {"Chloé Dubois", "chloe.dubois@example.fr"},      {"Dmitri Sokolov", "dmitri@example.com"},
    {"Emma Schäfer", "emma.schaefer@example.de"},     {"Farah Haddad", "farah@example.org"},
    {"Gustavo Núñez", "gustavo@example.es"},          {"Hana Takahashi", "hana@example.jp"},
    {"Ian O'Brien", "ian.obrien@example.ie"},         {"Józef Wiśniewski", "jozef@example.pl"},
};

}  // namespace

void FillMaildir(const fs::path& maildir, int count, const std::string& domain) {
  EnsureMaildir(maildir);
  std::time_t base = 1767225600;  // 2026-01-01
  static const char* topics[] = {"Quarterly figures", "Lunch on Friday", "Build is green again",
                                 "Travel plans", "Invoice 2041", "Server maintenance window",
                                 "Re: design review", "Photos from the trip", "Password reset policy",
                                 "Weekly status"};
  for (int i = 0; i < count; ++i) {
    Message m;
    const auto& p = kPeople[i % 10];
    m.fromName = p[0];
    m.fromAddr = p[1];
    m.to = "demo@" + domain;
    m.subject = std::string(topics[i % 10]) + " #" + std::to_string(i + 1);
    m.text = "Message number " + std::to_string(i + 1) + " of a generated folder.\r\n"
             "The quick brown fox jumps over the lazy dog. Pack my box with five dozen liquor jugs.";
    m.date = base + i * 3600;
    m.seen = i % 3 != 0;
    m.messageId = "gen-" + std::to_string(i) + "-" + RandomHex(6) + "@" + domain;
    Deliver(maildir, m, i);
  }
}

DemoUser CreateDemo(const fs::path& dataDir, Accounts& accounts, const std::string& domain) {
  DemoUser demo{"demo", "", false};
  if (accounts.Find("demo")) return demo;
  demo.password = RandomHex(6);
  Account a = accounts.Add("demo", demo.password, {}, domain);
  demo.created = true;
  const fs::path md = a.maildir;
  std::string me = "demo@" + domain;
  std::time_t now = std::time(nullptr);
  std::time_t t = now - 40 * 86400;
  int serial = 0;
  auto next = [&](Message m) {
    m.date = t;
    t += 86400 + (serial * 3733) % 7200;
    if (m.to.empty()) m.to = "Demo User <" + me + ">";
    if (m.messageId.empty()) m.messageId = "demo-" + std::to_string(serial) + "@" + domain;
    Deliver(md, m, serial++);
  };

  // Ordinary traffic, the oldest: it fills a second page of the listing.
  static const char* subjects[] = {"Lunch on Friday?", "Build is green again", "Travel plans for May",
                                   "Invoice 2041", "Server maintenance window", "Photos from the trip",
                                   "Password policy reminder", "Weekly status", "Coffee machine fixed",
                                   "New starter next week", "Conference tickets", "Δοκιμή: Greek subject",
                                   "Тестовое сообщение", "日本語の件名", "Budget questions",
                                   "Parking spaces", "Holiday rota", "Printer on floor 3",
                                   "Customer feedback", "Security training", "Office move",
                                   "Question about the API", "Minutes of yesterday's call"};
  for (int i = 0; i < 23; ++i) {
    Message m;
    const auto& p = kPeople[i % 10];
    m.fromName = p[0];
    m.fromAddr = p[1];
    m.subject = subjects[i];
    m.text = "Hello,\r\n\r\n" + std::string(subjects[i]) + " — details follow in this short note.\r\n\r\nBest regards,\r\n" + p[0];
    m.seen = i % 4 != 0;
    if (i % 7 == 3) m.attachments = {{"agenda.txt", "text/plain", "1. Welcome\r\n2. Topics\r\n3. Close\r\n"}};
    next(m);
  }

  // A long thread.
  std::string parent;
  for (int i = 0; i < 8; ++i) {
    Message r;
    const auto& p = kPeople[(i * 3) % 10];
    r.fromName = p[0];
    r.fromAddr = p[1];
    r.subject = i == 0 ? "Release planning" : "RE: Release planning";
    r.text = "Point " + std::to_string(i + 1) + " of the discussion: we should ship " +
             (i % 2 ? "after" : "before") + " the holidays.\r\n\r\n> earlier text\r\n> and more of it\r\n";
    r.messageId = "thread-" + std::to_string(i) + "@" + domain;
    r.inReplyTo = parent;
    parent = r.messageId;
    r.seen = i < 5;
    next(r);
  }

  Message longBody;
  longBody.fromName = "Józef Wiśniewski";
  longBody.fromAddr = "jozef@example.pl";
  longBody.subject = "Zażółć gęślą jaźń — a long message";
  for (int i = 0; i < 60; ++i)
    longBody.text += "Line " + std::to_string(i + 1) + ": Lorem ipsum dolor sit amet, consectetur adipiscing elit.\r\n";
  next(longBody);

  Message low;
  low.fromName = "Newsletter";
  low.fromAddr = "news@example.com";
  low.subject = "This week's newsletter";
  low.text = "Low priority news. Read it when you have time: https://news.example.com/issue/42";
  low.priority = 5;
  low.seen = true;
  next(low);

  // The featured messages last: the listing shows the newest first.
  Message html;
  html.fromName = "Chloé Dubois";
  html.fromAddr = "chloe.dubois@example.fr";
  html.subject = "Réunion de l'équipe – ordre du jour";
  html.text = "Bonjour,\r\n\r\nvoici l'ordre du jour de la réunion.\r\n";
  html.html = "<html><body><h2 style='color:#2a5db0'>Ordre du jour</h2><ol><li>Budget</li><li>Planning</li>"
              "<li>Divers</li></ol><p>Voir <a href='https://www.example.fr/agenda'>l'agenda</a>.</p>"
              "<script>alert('scripts never run here')</script></body></html>";
  next(html);

  Message report;
  report.fromName = "Emma Schäfer";
  report.fromAddr = "emma.schaefer@example.de";
  report.cc = "Bruno Ferreira <bruno@example.net>";
  report.subject = "Quarterly report with attachments";
  report.text = "Hi,\r\n\r\nplease find the report, the figures and a picture attached.\r\n\r\nEmma";
  report.attachments = {{"Report.pdf", "application/pdf", PdfFile("Quarterly report")},
                        {"figures.csv", "text/csv", "quarter,revenue\r\nQ1,120\r\nQ2,135\r\nQ3,150\r\n"},
                        {"logo.gif", "image/gif", GifFile()},
                        {"notes.txt", "text/plain", "Remember to check the Q3 numbers.\r\n"}};
  report.priority = 1;
  next(report);

  Message link;
  link.fromName = "Farah Haddad";
  link.fromAddr = "farah@example.org";
  link.subject = "Link to the project wiki";
  link.text = "The shortcut in this message opens the wiki.";
  link.attachments = {{"Project wiki.url", "application/octet-stream",
                       "[InternetShortcut]\r\nURL=https://wiki.example.org/project\r\n"}};
  next(link);

  Message voice;
  voice.fromName = "Voice Mail";
  voice.fromAddr = "voicemail@" + domain;
  voice.subject = "Voice message from +44 20 7946 0000";
  voice.text = "You have a new voice message (0:01).";
  voice.attachments = {{"message.wav", "audio/wav", WaveFile()}};
  next(voice);

  Message meeting;
  meeting.fromName = "Hana Takahashi";
  meeting.fromAddr = "hana@example.jp";
  meeting.subject = "Planning meeting";
  meeting.text = "Please join the planning meeting on Monday at 10:00 in room 4.";
  std::time_t start = now + 5 * 86400;
  std::tm tm{};
  gmtime_r(&start, &tm);
  char dt[32], dtEnd[32];
  std::strftime(dt, sizeof dt, "%Y%m%dT100000Z", &tm);
  std::strftime(dtEnd, sizeof dtEnd, "%Y%m%dT110000Z", &tm);
  meeting.calendar = std::string("BEGIN:VCALENDAR\r\nPRODID:-//Lumarest//Demo//EN\r\nVERSION:2.0\r\nMETHOD:REQUEST\r\n"
                                 "BEGIN:VEVENT\r\nUID:planning-") + RandomHex(6) + "@example.jp\r\nDTSTAMP:" + dt +
                     "\r\nDTSTART:" + dt + "\r\nDTEND:" + dtEnd +
                     "\r\nSUMMARY:Planning meeting\r\nLOCATION:Room 4\r\n"
                     "ORGANIZER;CN=Hana Takahashi:mailto:hana@example.jp\r\n"
                     "ATTENDEE;CN=Demo User;RSVP=TRUE;PARTSTAT=NEEDS-ACTION:mailto:" + me +
                     "\r\nEND:VEVENT\r\nEND:VCALENDAR";
  next(meeting);

  Message welcome;
  welcome.fromName = "LumarestInbox";
  welcome.fromAddr = "postmaster@" + domain;
  welcome.subject = "Welcome to your mailbox";
  welcome.text = "Hello,\r\n\r\nthis is a demo mailbox. Select a message and use Open, Reply, Reply to All,\r\n"
                 "Forward or Delete in the tool bar, or double-click a row to open it.\r\n\r\n"
                 "Our web site is http://www.example.org/ and the file share is \\\\fileserver\\public.\r\n";
  welcome.seen = true;
  next(welcome);

  // Folders.
  EnsureMaildir(md / ".Sent");
  EnsureMaildir(md / ".Trash");
  EnsureMaildir(md / ".Projects");
  Message archived;
  archived.fromName = "Ada Lindqvist";
  archived.fromAddr = "ada.lindqvist@example.org";
  archived.subject = "Archived project notes";
  archived.text = "Kept in the Projects folder.";
  archived.seen = true;
  archived.date = now - 90 * 86400;
  archived.messageId = "archived@" + domain;
  Deliver(md / ".Projects", archived, 999);

  // Contacts and the global address list, as vCards.
  std::string contacts;
  for (int i = 0; i < 6; ++i)
    contacts += std::string("BEGIN:VCARD\r\nVERSION:3.0\r\nFN:") + kPeople[i][0] + "\r\nEMAIL:" + kPeople[i][1] +
                "\r\nEND:VCARD\r\n";
  WriteFile(a.Contacts(), contacts);
  std::string gal;
  for (const auto& p : kPeople)
    gal += std::string("BEGIN:VCARD\r\nVERSION:3.0\r\nFN:") + p[0] + "\r\nEMAIL:" + p[1] + "\r\nEND:VCARD\r\n";
  gal += "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:Demo User\r\nEMAIL:" + me + "\r\nEND:VCARD\r\n";
  WriteFile(dataDir / "gal.vcf", gal);

  // A file share for the file browser.
  fs::path share = dataDir / "files" / "shared";
  WriteFile(share / "Readme.txt", "Files in this folder can be sent by mail from the file browser.\r\n");
  WriteFile(share / "Price list.csv", "item,price\r\npaper,4.50\r\ntoner,39.90\r\n");
  return demo;
}

}  // namespace portal
