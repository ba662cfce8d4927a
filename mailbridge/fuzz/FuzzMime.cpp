// libFuzzer entry: raw bytes through the MIME-to-record path (parse, header
// decoding, attachment walk and extraction, HTML encoding of the texts).
#include <cstddef>
#include <cstdint>
#include <string>

#include "mailbridge/mime/HtmlText.h"
#include "mailbridge/mime/Mime.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view raw(reinterpret_cast<const char*>(data), size);
  mailbridge::ParsedMessage m = mailbridge::ParseMessage(raw);
  std::string sink = mailbridge::HtmlEncode(m.subject) + mailbridge::HtmlEncode(m.from.Display()) +
                     mailbridge::HtmlEncode(m.plainBody);
  for (const auto& a : m.attachments) sink += mailbridge::SafeFileName(a.fileName);
  mailbridge::ForEachAttachment(raw, [&](const mailbridge::MimeAttachment& a, const std::string& bytes) {
    sink += std::to_string(a.id + static_cast<int>(bytes.size()));
  });
  (void)mailbridge::DecodeHeaderText(raw.substr(0, 512));
  (void)mailbridge::DecodeAddressList(raw.substr(0, 512));
  (void)mailbridge::HtmlToText(raw);
  return sink.size() > size * 1000 ? -1 : 0;  // keeps the work observable
}
