// Text helpers for what reaches a page: HTML encoding, text from HTML, and
// attachment file names that are safe to put on disk.
#pragma once

#include <string>
#include <string_view>

namespace mailbridge {

// Encodes & < > " ' so the text can stand anywhere in a page, inside
// attribute values with either quote too (platform::HtmlEscape).
std::string HtmlEncode(std::string_view utf8);
std::u16string HtmlEncode16(std::string_view utf8);
// Encodes only < > " : no markup can start, and the text can stand as element
// text or inside a double-quoted attribute; & and ' stay as they are.
std::u16string HtmlEncodeMarkup16(std::string_view utf8);
// Decodes the named entities HtmlEncode writes plus &nbsp; and numeric ones.
std::string HtmlDecode(std::string_view text);
// Readable plain text from an HTML document: drops scripts, styles and
// tags, turns block ends into line breaks, decodes entities.
std::string HtmlToText(std::string_view html);
// Keeps letters of any script, digits, blanks and . _ - ( ); everything
// else becomes '_'. Never empty, never "." or "..", at most 150 bytes.
std::string SafeFileName(std::string_view utf8);
// A valid UTF-8 copy: invalid bytes are read as Windows-1252.
std::string MakeValidUtf8(std::string_view bytes);
// The first maxUnits UTF-16 units of a UTF-8 text, cut on a character edge.
std::string TruncateUtf16Units(std::string_view utf8, std::size_t maxUnits);

}  // namespace mailbridge
