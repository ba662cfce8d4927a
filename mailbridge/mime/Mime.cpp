#include "mailbridge/mime/Mime.h"

#include <gmime/gmime.h>
#include <iconv.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <map>
#include <mutex>

#include "mailbridge/mime/HtmlText.h"

namespace mailbridge {
namespace {

// Owns one GObject reference.
template <typename T>
struct GRef {
  T* p = nullptr;
  explicit GRef(T* v = nullptr) : p(v) {}
  GRef(const GRef&) = delete;
  GRef& operator=(const GRef&) = delete;
  ~GRef() {
    if (p) g_object_unref(p);
  }
  T* get() const { return p; }
  explicit operator bool() const { return p != nullptr; }
};

struct GFreeStr {
  char* p;
  explicit GFreeStr(char* v) : p(v) {}
  ~GFreeStr() { g_free(p); }
  GFreeStr(const GFreeStr&) = delete;
  GFreeStr& operator=(const GFreeStr&) = delete;
};

GMimeParserOptions* Options() {
  static GMimeParserOptions* options = [] {
    GMimeParserOptions* o = g_mime_parser_options_new();
    static const char* fallback[] = {"UTF-8", "windows-1252", nullptr};
    g_mime_parser_options_set_fallback_charsets(o, fallback);
    g_mime_parser_options_set_rfc2047_compliance_mode(o, GMIME_RFC_COMPLIANCE_LOOSE);
    g_mime_parser_options_set_address_compliance_mode(o, GMIME_RFC_COMPLIANCE_LOOSE);
    g_mime_parser_options_set_parameter_compliance_mode(o, GMIME_RFC_COMPLIANCE_LOOSE);
    return o;
  }();
  return options;
}

bool EqualsNoCaseAscii(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (g_ascii_tolower(a[i]) != g_ascii_tolower(b[i])) return false;
  }
  return true;
}

// Folded header lines become one line.
std::string Unfold(std::string_view raw) {
  std::string out;
  out.reserve(raw.size());
  for (char c : raw) {
    if (c == '\r' || c == '\n') continue;
    out.push_back(c);
  }
  return out;
}

std::string TrimAscii(std::string s) {
  std::size_t b = 0, e = s.size();
  while (b < e && (s[b] == ' ' || s[b] == '\t')) ++b;
  while (e > b && (s[e - 1] == ' ' || s[e - 1] == '\t')) --e;
  return s.substr(b, e - b);
}

struct EncodedWord {
  std::size_t begin = 0, end = 0;  // span in the source text
  std::string charset;
  std::string bytes;  // the decoded payload, still in `charset`
};

bool ParseEncodedWord(std::string_view s, std::size_t pos, EncodedWord& w) {
  if (pos + 1 >= s.size() || s[pos] != '=' || s[pos + 1] != '?') return false;
  std::size_t q1 = s.find('?', pos + 2);
  if (q1 == std::string_view::npos || q1 == pos + 2 || q1 + 2 >= s.size()) return false;
  char enc = s[q1 + 1];
  if (s[q1 + 2] != '?') return false;
  std::size_t endMark = s.find("?=", q1 + 3);
  if (endMark == std::string_view::npos) return false;
  std::string_view charset = s.substr(pos + 2, q1 - pos - 2);
  std::string_view payload = s.substr(q1 + 3, endMark - q1 - 3);
  for (char c : charset) {
    if (c == ' ' || c == '\t' || c == '=') return false;
  }
  for (char c : payload) {
    if (c == ' ' || c == '\t') return false;
  }
  w.begin = pos;
  w.end = endMark + 2;
  w.charset.assign(charset);
  w.bytes.clear();
  if (enc == 'B' || enc == 'b') {
    std::string b64(payload);
    // Trailing garbage after padding inside one word is dropped by the decoder.
    gsize len = 0;
    guchar* data = g_base64_decode(b64.c_str(), &len);
    if (data) {
      w.bytes.assign(reinterpret_cast<char*>(data), len);
      g_free(data);
    }
  } else if (enc == 'Q' || enc == 'q') {
    for (std::size_t i = 0; i < payload.size(); ++i) {
      char c = payload[i];
      if (c == '_') {
        w.bytes.push_back(' ');
      } else if (c == '=' && i + 2 < payload.size() + 0 && g_ascii_isxdigit(payload[i + 1]) &&
                 g_ascii_isxdigit(payload[i + 2])) {
        w.bytes.push_back(static_cast<char>(g_ascii_xdigit_value(payload[i + 1]) * 16 +
                                            g_ascii_xdigit_value(payload[i + 2])));
        i += 2;
      } else {
        w.bytes.push_back(c);
      }
    }
  } else {
    return false;
  }
  return true;
}

std::string PartText(GMimeObject* obj) {
  if (!GMIME_IS_PART(obj)) return {};
  GMimeDataWrapper* content = g_mime_part_get_content(GMIME_PART(obj));
  if (!content) return {};
  GRef<GMimeStream> mem(g_mime_stream_mem_new());
  g_mime_data_wrapper_write_to_stream(content, mem.get());
  GByteArray* arr = g_mime_stream_mem_get_byte_array(GMIME_STREAM_MEM(mem.get()));
  std::string bytes(reinterpret_cast<const char*>(arr->data), arr->len);
  const char* charset = g_mime_object_get_content_type_parameter(obj, "charset");
  std::string text = ToUtf8(bytes, charset ? charset : "");
  // Bodies are handed over with LF line ends, whatever the store keeps.
  text.erase(std::remove(text.begin(), text.end(), '\r'), text.end());
  return text;
}

std::string PartBytes(GMimeObject* obj) {
  GRef<GMimeStream> mem(g_mime_stream_mem_new());
  if (GMIME_IS_MESSAGE_PART(obj)) {
    GMimeMessage* inner = g_mime_message_part_get_message(GMIME_MESSAGE_PART(obj));
    if (inner) g_mime_object_write_to_stream(GMIME_OBJECT(inner), nullptr, mem.get());
  } else if (GMIME_IS_PART(obj)) {
    GMimeDataWrapper* content = g_mime_part_get_content(GMIME_PART(obj));
    if (content) g_mime_data_wrapper_write_to_stream(content, mem.get());
  }
  GByteArray* arr = g_mime_stream_mem_get_byte_array(GMIME_STREAM_MEM(mem.get()));
  return std::string(reinterpret_cast<const char*>(arr->data), arr->len);
}

std::string DefaultExtension(GMimeContentType* ct) {
  static const std::map<std::string, std::string> known = {
      {"image/png", ".png"},       {"image/jpeg", ".jpg"},    {"image/gif", ".gif"},
      {"application/pdf", ".pdf"}, {"text/plain", ".txt"},    {"text/html", ".html"},
      {"text/calendar", ".ics"},   {"message/rfc822", ".eml"}, {"application/zip", ".zip"}};
  if (!ct) return ".bin";
  std::string type = std::string(g_mime_content_type_get_media_type(ct) ? g_mime_content_type_get_media_type(ct) : "") +
                     "/" + (g_mime_content_type_get_media_subtype(ct) ? g_mime_content_type_get_media_subtype(ct) : "");
  for (char& c : type) c = g_ascii_tolower(c);
  auto it = known.find(type);
  return it == known.end() ? ".bin" : it->second;
}

std::string MimeTypeOf(GMimeContentType* ct) {
  if (!ct) return "application/octet-stream";
  char* t = g_mime_content_type_get_mime_type(ct);
  std::string out = t ? t : "application/octet-stream";
  g_free(t);
  return out;
}

bool IsCalendarRequest(GMimeObject* obj, const std::string& text) {
  const char* method = g_mime_object_get_content_type_parameter(obj, "method");
  if (method && EqualsNoCaseAscii(method, "REQUEST")) return true;
  std::size_t pos = 0;
  while (pos < text.size()) {
    std::size_t eol = text.find('\n', pos);
    if (eol == std::string::npos) eol = text.size();
    std::string line = TrimAscii(std::string(text.substr(pos, eol - pos)));
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (EqualsNoCaseAscii(line, "METHOD:REQUEST")) return true;
    pos = eol + 1;
  }
  return false;
}

constexpr int kMaxDepth = 60;

// Walks the MIME tree in order. Body candidates fill the message; every
// other leaf (and each embedded message) is an attachment, numbered from 1.
struct Walker {
  ParsedMessage* msg = nullptr;   // filled when not null
  int wantId = 0;                 // when set, stop at that attachment
  GMimeObject* found = nullptr;
  MimeAttachment foundInfo;
  int nextId = 1;
  const std::function<void(const MimeAttachment&, const std::string&)>* collect = nullptr;

  void Attachment(GMimeObject* obj, const std::string& name) {
    MimeAttachment a;
    a.id = nextId++;
    a.mimeType = MimeTypeOf(g_mime_object_get_content_type(obj));
    a.fileName = name.empty() ? "attachment" + std::to_string(a.id) +
                                    DefaultExtension(g_mime_object_get_content_type(obj))
                              : name;
    if (wantId && a.id == wantId) {
      found = obj;
      foundInfo = a;
    }
    if (collect) (*collect)(a, PartBytes(obj));
    if (msg) msg->attachments.push_back(std::move(a));
  }

  void Walk(GMimeObject* obj, int depth) {
    if (!obj || depth > kMaxDepth || found) return;
    if (GMIME_IS_MULTIPART(obj)) {
      GMimeMultipart* mp = GMIME_MULTIPART(obj);
      int n = g_mime_multipart_get_count(mp);
      for (int i = 0; i < n && !found; ++i) Walk(g_mime_multipart_get_part(mp, i), depth + 1);
      return;
    }
    if (GMIME_IS_MESSAGE_PART(obj)) {
      GMimeMessage* inner = g_mime_message_part_get_message(GMIME_MESSAGE_PART(obj));
      std::string name;
      GMimeContentDisposition* disp = g_mime_object_get_content_disposition(obj);
      const char* fn = disp ? g_mime_content_disposition_get_parameter(disp, "filename") : nullptr;
      if (fn) {
        name = MakeValidUtf8(fn);
      } else {
        const char* subj = inner ? g_mime_message_get_subject(inner) : nullptr;
        name = (subj && *subj ? MakeValidUtf8(subj) : std::string("message")) + ".eml";
      }
      Attachment(obj, name);
      return;
    }
    if (!GMIME_IS_PART(obj)) return;
    GMimePart* part = GMIME_PART(obj);
    GMimeContentType* ct = g_mime_object_get_content_type(obj);
    const char* fnRaw = g_mime_part_get_filename(part);
    std::string fileName = fnRaw ? MakeValidUtf8(fnRaw) : std::string();
    GMimeContentDisposition* disp = g_mime_object_get_content_disposition(obj);
    bool attachmentDisp = disp && g_mime_content_disposition_is_attachment(disp);
    bool isText = ct && g_mime_content_type_is_type(ct, "text", "*");
    bool inlineText = isText && !attachmentDisp && fileName.empty();
    if (inlineText && g_mime_content_type_is_type(ct, "text", "calendar")) {
      if (msg && msg->calendar.empty()) {
        msg->calendar = PartText(obj);
        msg->meetingRequest = IsCalendarRequest(obj, msg->calendar);
      }
      return;
    }
    if (inlineText && g_mime_content_type_is_type(ct, "text", "plain")) {
      if (msg) {
        std::string text = PartText(obj);
        if (!msg->plainBody.empty() && !text.empty()) msg->plainBody += "\n";
        msg->plainBody += text;
      }
      return;
    }
    if (inlineText && g_mime_content_type_is_type(ct, "text", "html")) {
      if (msg && msg->htmlBody.empty()) {
        msg->htmlBody = PartText(obj);
        return;
      }
      if (msg) return;  // a second HTML alternative adds nothing
      return;
    }
    Attachment(obj, fileName);
  }
};

struct Parsed {
  GRef<GMimeStream> stream;
  GRef<GMimeParser> parser;
  GRef<GMimeMessage> message;
};

void Parse(std::string_view raw, Parsed& p) {
  EnsureMimeInit();
  p.stream.p = g_mime_stream_mem_new_with_buffer(raw.data(), raw.size());
  p.parser.p = g_mime_parser_new_with_stream(p.stream.get());
  g_mime_parser_set_format(p.parser.get(), GMIME_FORMAT_MESSAGE);
  p.message.p = g_mime_parser_construct_message(p.parser.get(), Options());
}

std::string RawHeader(GMimeObject* obj, const char* name) {
  GMimeHeaderList* list = g_mime_object_get_header_list(obj);
  if (!list) return {};
  GMimeHeader* h = g_mime_header_list_get_header(list, name);
  if (!h) return {};
  const char* raw = g_mime_header_get_raw_value(h);
  return raw ? std::string(raw) : std::string();
}

int ImportanceOf(GMimeObject* obj) {
  std::string imp = TrimAscii(Unfold(RawHeader(obj, "Importance")));
  if (!imp.empty()) {
    if (EqualsNoCaseAscii(imp, "high")) return 2;
    if (EqualsNoCaseAscii(imp, "low")) return 0;
    return 1;
  }
  std::string prio = TrimAscii(Unfold(RawHeader(obj, "X-Priority")));
  if (!prio.empty() && prio[0] >= '1' && prio[0] <= '5') {
    if (prio[0] <= '2') return 2;
    if (prio[0] >= '4') return 0;
    return 1;
  }
  std::string p2 = TrimAscii(Unfold(RawHeader(obj, "Priority")));
  if (EqualsNoCaseAscii(p2, "urgent")) return 2;
  if (EqualsNoCaseAscii(p2, "non-urgent")) return 0;
  return 1;
}

}  // namespace

void EnsureMimeInit() {
  static std::once_flag once;
  std::call_once(once, [] { g_mime_init(); });
}

std::string ToUtf8(std::string_view bytes, std::string_view charset) {
  std::string cs(charset);
  for (char& c : cs) c = g_ascii_tolower(c);
  if (cs.empty() || cs == "utf-8" || cs == "utf8" || cs == "us-ascii" || cs == "ascii") {
    return MakeValidUtf8(bytes);
  }
  // Opening a converter loads glibc's module each time: keep them open.
  struct Converters {
    std::map<std::string, iconv_t> open;
    ~Converters() {
      for (auto& [name, cd] : open) {
        if (cd != reinterpret_cast<iconv_t>(-1)) iconv_close(cd);
      }
    }
  };
  thread_local Converters cache;
  auto& converters = cache.open;
  iconv_t cd;
  auto it = converters.find(cs);
  if (it != converters.end()) {
    cd = it->second;
  } else {
    EnsureMimeInit();
    const char* name = g_mime_charset_iconv_name(cs.c_str());
    cd = iconv_open("UTF-8", name ? name : cs.c_str());
    converters.emplace(cs, cd);
  }
  if (cd == reinterpret_cast<iconv_t>(-1)) return MakeValidUtf8(bytes);
  iconv(cd, nullptr, nullptr, nullptr, nullptr);
  std::string out;
  out.resize(bytes.size() * 4 + 16);
  char* in = const_cast<char*>(bytes.data());
  size_t inLeft = bytes.size();
  char* outp = out.data();
  size_t outLeft = out.size();
  while (inLeft > 0) {
    size_t r = iconv(cd, &in, &inLeft, &outp, &outLeft);
    if (r != static_cast<size_t>(-1)) break;
    if (errno == E2BIG) {
      size_t used = static_cast<size_t>(outp - out.data());
      out.resize(out.size() * 2);
      outp = out.data() + used;
      outLeft = out.size() - used;
      continue;
    }
    // Invalid or truncated input: one replacement character, skip a byte.
    if (outLeft < 3) {
      size_t used = static_cast<size_t>(outp - out.data());
      out.resize(out.size() + 16);
      outp = out.data() + used;
      outLeft = out.size() - used;
    }
    std::memcpy(outp, "\xEF\xBF\xBD", 3);
    outp += 3;
    outLeft -= 3;
    ++in;
    --inLeft;
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
  }
  out.resize(static_cast<size_t>(outp - out.data()));
  return MakeValidUtf8(out);
}

std::string MergeEncodedWords(std::string_view s) {
  std::string out;
  out.reserve(s.size());
  std::size_t pos = 0;
  while (pos < s.size()) {
    EncodedWord first;
    if (!ParseEncodedWord(s, pos, first)) {
      out.push_back(s[pos++]);
      continue;
    }
    // Collect the run of words of the same charset separated by blanks only.
    std::string bytes = first.bytes;
    std::size_t runEnd = first.end;
    int count = 1;
    for (;;) {
      std::size_t next = runEnd;
      while (next < s.size() && (s[next] == ' ' || s[next] == '\t' || s[next] == '\r' || s[next] == '\n')) ++next;
      EncodedWord w;
      if (next >= s.size() || !ParseEncodedWord(s, next, w) || !EqualsNoCaseAscii(w.charset, first.charset)) break;
      bytes += w.bytes;
      runEnd = w.end;
      ++count;
    }
    if (count == 1) {
      out.append(s.substr(first.begin, first.end - first.begin));
    } else {
      gchar* b64 = g_base64_encode(reinterpret_cast<const guchar*>(bytes.data()), bytes.size());
      out += "=?" + first.charset + "?B?" + b64 + "?=";
      g_free(b64);
    }
    pos = runEnd;
  }
  return out;
}

std::string DecodeHeaderText(std::string_view raw) {
  EnsureMimeInit();
  std::string merged = MergeEncodedWords(Unfold(raw));
  char* decoded = g_mime_utils_header_decode_text(Options(), merged.c_str());
  std::string out = decoded ? decoded : merged;
  g_free(decoded);
  return TrimAscii(MakeValidUtf8(out));
}

namespace {
void CollectAddresses(InternetAddressList* list, std::vector<MailAddress>& out, int depth) {
  if (!list || depth > 4) return;
  int n = internet_address_list_length(list);
  for (int i = 0; i < n; ++i) {
    InternetAddress* ia = internet_address_list_get_address(list, i);
    if (INTERNET_ADDRESS_IS_GROUP(ia)) {
      CollectAddresses(internet_address_group_get_members(INTERNET_ADDRESS_GROUP(ia)), out, depth + 1);
      continue;
    }
    MailAddress a;
    const char* name = internet_address_get_name(ia);
    if (name) a.name = TrimAscii(MakeValidUtf8(name));
    if (INTERNET_ADDRESS_IS_MAILBOX(ia)) {
      const char* addr = internet_address_mailbox_get_addr(INTERNET_ADDRESS_MAILBOX(ia));
      if (addr) a.address = MakeValidUtf8(addr);
    }
    if (!a.name.empty() || !a.address.empty()) out.push_back(std::move(a));
  }
}
}  // namespace

std::vector<MailAddress> DecodeAddressList(std::string_view raw) {
  EnsureMimeInit();
  std::vector<MailAddress> out;
  std::string merged = MergeEncodedWords(Unfold(raw));
  if (TrimAscii(merged).empty()) return out;
  InternetAddressList* list = internet_address_list_parse(Options(), merged.c_str());
  if (list) {
    CollectAddresses(list, out, 0);
    g_object_unref(list);
  }
  if (out.empty()) {
    MailAddress a;
    a.name = DecodeHeaderText(merged);
    if (!a.name.empty()) out.push_back(std::move(a));
  }
  return out;
}

ParsedMessage ParseMessage(std::string_view raw) {
  ParsedMessage msg;
  Parsed p;
  Parse(raw, p);
  if (!p.message) {
    msg.plainBody = MakeValidUtf8(raw);
    return msg;
  }
  GMimeObject* top = GMIME_OBJECT(p.message.get());
  auto from = DecodeAddressList(RawHeader(top, "From"));
  if (from.empty()) from = DecodeAddressList(RawHeader(top, "Sender"));
  if (!from.empty()) msg.from = from.front();
  msg.to = DecodeAddressList(RawHeader(top, "To"));
  msg.cc = DecodeAddressList(RawHeader(top, "Cc"));
  msg.subject = DecodeHeaderText(RawHeader(top, "Subject"));
  if (GDateTime* date = g_mime_message_get_date(p.message.get())) msg.sent = g_date_time_to_unix(date);
  if (const char* id = g_mime_message_get_message_id(p.message.get())) msg.messageId = MakeValidUtf8(id);
  msg.importance = ImportanceOf(top);
  Walker w;
  w.msg = &msg;
  w.Walk(g_mime_message_get_mime_part(p.message.get()), 0);
  if (msg.plainBody.empty() && !msg.htmlBody.empty()) msg.plainBody = HtmlToText(msg.htmlBody);
  return msg;
}

bool ExtractAttachment(std::string_view raw, int id, std::string& bytes, MimeAttachment& info) {
  if (id <= 0) return false;
  Parsed p;
  Parse(raw, p);
  if (!p.message) return false;
  ParsedMessage scratch;
  Walker w;
  w.msg = &scratch;
  w.wantId = id;
  w.Walk(g_mime_message_get_mime_part(p.message.get()), 0);
  if (!w.found) return false;
  bytes = PartBytes(w.found);
  info = w.foundInfo;
  return true;
}

void ForEachAttachment(std::string_view raw,
                       const std::function<void(const MimeAttachment& info, const std::string& bytes)>& sink) {
  Parsed p;
  Parse(raw, p);
  if (!p.message) return;
  ParsedMessage scratch;
  Walker w;
  w.msg = &scratch;
  w.collect = &sink;
  w.Walk(g_mime_message_get_mime_part(p.message.get()), 0);
}

}  // namespace mailbridge
