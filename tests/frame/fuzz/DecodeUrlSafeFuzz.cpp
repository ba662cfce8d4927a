// Fuzzes the URL-safe decoder: any input must decode without reading out of
// bounds (the address sanitizer watches), give no more characters than it
// had, and encoding any text then decoding it must give the text back.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "frame/Encoding.h"
#include "platform/Text.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // Decode the raw input as UTF-16 units (a copy of exactly the input's
  // size, so any read past the end is caught).
  std::u16string units(size / 2, u'\0');
  for (std::size_t i = 0; i < units.size(); ++i)
    units[i] = static_cast<char16_t>(data[2 * i] | (data[2 * i + 1] << 8));
  std::u16string decoded = DecodeUrlSafe(units);
  if (decoded.size() > units.size()) std::abort();

  // Encode then decode. Text that is not valid UTF-16 is normalised by the
  // UTF-8 conversion, so compare against its normalised form.
  std::u16string text = platform::Utf8ToUtf16(platform::Utf16ToUtf8(units));
  std::u16string encoded = EncodeUrlSafe(text);
  if (encoded.size() % 4 != 0) std::abort();
  if (DecodeUrlSafe(encoded) != text) std::abort();
  return 0;
}
