#include "mailbridge/send/Send.h"

#include <curl/curl.h>
#include <gmime/gmime.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <mutex>
#include <set>

#include "mailbridge/store/Store.h"

namespace mailbridge {
namespace {

void AddAddresses(GMimeMessage* msg, GMimeAddressType type, const std::vector<MailAddress>& list) {
  for (const auto& a : list) {
    g_mime_message_add_mailbox(msg, type, a.name.empty() ? nullptr : a.name.c_str(), a.address.c_str());
  }
}

GMimeObject* TextPart(const char* subtype, const std::string& text) {
  GMimeTextPart* part = g_mime_text_part_new_with_subtype(subtype);
  g_mime_text_part_set_text(part, text.c_str());
  g_mime_text_part_set_charset(part, "utf-8");
  return GMIME_OBJECT(part);
}

// Bare LF becomes CRLF (GMime's DOS format covers headers; be sure of the rest).
std::string ToCrlf(const std::string& in) {
  std::string out;
  out.reserve(in.size() + in.size() / 32);
  for (std::size_t i = 0; i < in.size(); ++i) {
    if (in[i] == '\n' && (i == 0 || in[i - 1] != '\r')) out.push_back('\r');
    out.push_back(in[i]);
  }
  return out;
}

std::string MessageId(const std::string& domain) {
  static std::atomic<unsigned> counter{0};
  auto now = std::chrono::system_clock::now().time_since_epoch();
  auto us = std::chrono::duration_cast<std::chrono::microseconds>(now).count();
  guint32 r = g_random_int();
  return std::to_string(us) + "." + std::to_string(r) + "." + std::to_string(++counter) + "@" +
         (domain.empty() ? "localhost" : domain);
}

struct ReadState {
  const std::string* data;
  std::size_t pos;
};

size_t ReadChunk(char* buffer, size_t size, size_t items, void* user) {
  auto* st = static_cast<ReadState*>(user);
  size_t room = size * items;
  size_t left = st->data->size() - st->pos;
  size_t n = std::min(room, left);
  std::memcpy(buffer, st->data->data() + st->pos, n);
  st->pos += n;
  return n;
}

}  // namespace

std::string ComposeMessage(const OutgoingMessage& m) {
  EnsureMimeInit();
  GMimeMessage* msg = g_mime_message_new(TRUE);
  AddAddresses(msg, GMIME_ADDRESS_TYPE_FROM, {m.from});
  AddAddresses(msg, GMIME_ADDRESS_TYPE_TO, m.to);
  AddAddresses(msg, GMIME_ADDRESS_TYPE_CC, m.cc);
  g_mime_message_set_subject(msg, m.subject.c_str(), "utf-8");
  GDateTime* now = g_date_time_new_now_local();
  g_mime_message_set_date(msg, now);
  g_date_time_unref(now);
  std::string id = MessageId(m.domain);
  g_mime_message_set_message_id(msg, id.c_str());

  GMimeObject* body = TextPart("plain", m.body);
  if (!m.calendar.empty()) {
    GMimeMultipart* alt = g_mime_multipart_new_with_subtype("alternative");
    g_mime_multipart_add(alt, body);
    g_object_unref(body);
    GMimeObject* cal = TextPart("calendar", m.calendar);
    if (!m.calendarMethod.empty()) g_mime_object_set_content_type_parameter(cal, "method", m.calendarMethod.c_str());
    g_mime_multipart_add(alt, cal);
    g_object_unref(cal);
    body = GMIME_OBJECT(alt);
  }
  GMimeObject* top = body;
  if (!m.files.empty()) {
    GMimeMultipart* mixed = g_mime_multipart_new_with_subtype("mixed");
    g_mime_multipart_add(mixed, body);
    g_object_unref(body);
    for (const auto& f : m.files) {
      GMimePart* part = g_mime_part_new_with_type("application", "octet-stream");
      GMimeStream* stream = g_mime_stream_mem_new_with_buffer(f.bytes.data(), f.bytes.size());
      GMimeDataWrapper* wrapper = g_mime_data_wrapper_new_with_stream(stream, GMIME_CONTENT_ENCODING_DEFAULT);
      g_mime_part_set_content(part, wrapper);
      g_object_unref(wrapper);
      g_object_unref(stream);
      g_mime_part_set_filename(part, f.name.c_str());
      g_mime_part_set_content_encoding(part, GMIME_CONTENT_ENCODING_BASE64);
      g_mime_multipart_add(mixed, GMIME_OBJECT(part));
      g_object_unref(part);
    }
    top = GMIME_OBJECT(mixed);
  }
  g_mime_message_set_mime_part(msg, top);
  g_object_unref(top);
  g_mime_object_encode(GMIME_OBJECT(msg), GMIME_ENCODING_CONSTRAINT_7BIT);

  GMimeFormatOptions* fo = g_mime_format_options_new();
  g_mime_format_options_set_newline_format(fo, GMIME_NEWLINE_FORMAT_DOS);
  GMimeStream* out = g_mime_stream_mem_new();
  g_mime_object_write_to_stream(GMIME_OBJECT(msg), fo, out);
  GByteArray* arr = g_mime_stream_mem_get_byte_array(GMIME_STREAM_MEM(out));
  std::string raw(reinterpret_cast<const char*>(arr->data), arr->len);
  g_object_unref(out);
  g_mime_format_options_free(fo);
  g_object_unref(msg);
  return ToCrlf(raw);
}

std::vector<std::string> EnvelopeRecipients(const OutgoingMessage& m) {
  std::vector<std::string> out;
  std::set<std::string> seen;
  for (const auto* list : {&m.to, &m.cc, &m.bcc}) {
    for (const auto& a : *list) {
      gchar* lower = g_ascii_strdown(a.address.c_str(), -1);
      std::string key = lower;
      g_free(lower);
      if (seen.insert(key).second) out.push_back(a.address);
    }
  }
  return out;
}

Status SendSmtp(const std::string& url, const std::string& user, const std::string& password,
                 const std::string& from, const std::vector<std::string>& recipients, const std::string& raw) {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
  if (recipients.empty()) return Errc::kInvalidArgument;
  CURL* curl = curl_easy_init();
  if (!curl) return Errc::kNoMemory;
  curl_slist* rcpt = nullptr;
  for (const auto& r : recipients) rcpt = curl_slist_append(rcpt, ("<" + r + ">").c_str());
  std::string mailFrom = "<" + from + ">";
  ReadState state{&raw, 0};
  curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
  curl_easy_setopt(curl, CURLOPT_MAIL_FROM, mailFrom.c_str());
  curl_easy_setopt(curl, CURLOPT_MAIL_RCPT, rcpt);
  curl_easy_setopt(curl, CURLOPT_UPLOAD, 1L);
  curl_easy_setopt(curl, CURLOPT_READFUNCTION, ReadChunk);
  curl_easy_setopt(curl, CURLOPT_READDATA, &state);
  curl_easy_setopt(curl, CURLOPT_INFILESIZE_LARGE, static_cast<curl_off_t>(raw.size()));
  curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
  // STARTTLS whenever the server offers it (the certificate is checked).
  curl_easy_setopt(curl, CURLOPT_USE_SSL, static_cast<long>(CURLUSESSL_TRY));
  curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT, 10L);
  curl_easy_setopt(curl, CURLOPT_TIMEOUT, 120L);
  if (!user.empty()) {
    curl_easy_setopt(curl, CURLOPT_USERNAME, user.c_str());
    curl_easy_setopt(curl, CURLOPT_PASSWORD, password.c_str());
  }
  CURLcode rc = curl_easy_perform(curl);
  curl_slist_free_all(rcpt);
  curl_easy_cleanup(curl);
  return rc == CURLE_OK ? OkStatus() : Errc::kFailed;
}

Status DeliverToMaildirs(const std::vector<std::string>& maildirs, const std::string& raw) {
  std::vector<PendingDelivery> pending;
  for (const auto& dir : maildirs) {
    PendingDelivery p;
    Status st = PrepareMaildirDelivery(dir, raw, false, p);
    if (!st.ok()) {
      for (const auto& q : pending) AbandonMaildirDelivery(q);
      return st;
    }
    pending.push_back(p);
  }
  Status result = OkStatus();
  for (const auto& p : pending) {
    Status st = CommitMaildirDelivery(p);
    if (!st.ok()) result = st;
  }
  return result;
}

}  // namespace mailbridge
