// Small helpers of the portal: the URL-safe text encoding the component uses
// for folder names and file references, HTML and URL escaping, random ids and
// path confinement.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Text.h"

namespace portal {

// Base64 over UTF-8 with the alphabet A-Z a-z 0-9 _ * and "-" as pad.
std::string EncodeUrlSafe(std::string_view utf8);
// Empty when the text holds a character outside the alphabet and the pad.
std::string DecodeUrlSafe(std::string_view encoded);
// True when every character belongs to the alphabet or the pad.
bool IsUrlSafeText(std::string_view text);

using platform::HtmlEscape;
std::string UrlEncode(std::string_view text);
// '+' becomes a blank; a bad escape is kept as it stands.
std::string UrlDecode(std::string_view text);
// Splits "a=1&b=2" into decoded pairs, in order.
std::vector<std::pair<std::string, std::string>> ParseUrlEncoded(std::string_view text);

std::string ToLowerAscii(std::string_view text);
bool EqualsNoCaseAscii(std::string_view a, std::string_view b);
std::string Trim(std::string_view text);
std::vector<std::string> Split(std::string_view text, char sep);

// count random bytes from the system's generator, as lower-case hex.
std::string RandomHex(std::size_t bytes);

// Whether path, resolved (symbolic links followed, ".." removed), lies inside
// root. Paths that do not exist are resolved as far as they exist.
bool IsInside(const std::filesystem::path& root, const std::filesystem::path& path);

// Reads a whole file; false when it cannot be read.
bool ReadFile(const std::filesystem::path& path, std::string& out);
bool WriteFile(const std::filesystem::path& path, std::string_view data);

// Content type by file extension (a small table of common types).
std::string ContentTypeFor(const std::filesystem::path& path);

}  // namespace portal
