// The URL-safe text encoding (base64 over UTF-8 with the alphabet
// A-Z a-z 0-9 _ * and "-" as padding), mail time formatting, and the key
// names shared by the page writers.
#pragma once

#include <string>
#include <string_view>

#include "platform/WinTypes.h"

std::u16string EncodeUrlSafe(const char16_t* text);
std::u16string EncodeUrlSafe(std::u16string_view text);
// Any character outside the alphabet and "-" gives the empty text.
std::u16string DecodeUrlSafe(std::u16string_view encoded);

// Formats a FILETIME (no time-zone shift) with strftime conventions into at
// most 256 characters; "Invalid DateTime" when the time cannot be shown.
std::u16string FormatMailTime(const FILETIME& time, std::u16string_view format);

namespace keys {
// Query keys.
inline constexpr char16_t kSort[] = u"Sort";
inline constexpr char16_t kFolder[] = u"Folder";
// Web-session variables.
inline constexpr char16_t kClientLanguage[] = u"System.ClientLanguage";
inline constexpr char16_t kCredentialsFormat[] = u"System.PrimaryCredentialsFormat";
inline constexpr char16_t kADUserName[] = u"Halvorn.Slv.ADUserName";
inline constexpr char16_t kADDomain[] = u"Halvorn.Slv.ADDomain";
inline constexpr char16_t kSessionPrefix[] = u"Halvorn.Slv.";
// Compose state.
inline constexpr char16_t kComposeSubject[] = u"composeSubject";
inline constexpr char16_t kComposeBody[] = u"composeBody";
inline constexpr char16_t kComposeTo[] = u"composeTo";
inline constexpr char16_t kComposeCC[] = u"composeCC";
inline constexpr char16_t kComposeBCC[] = u"composeBCC";
inline constexpr char16_t kFileID[] = u"FileID";
inline constexpr char16_t kReturnTo[] = u"ReturnTo";
// Compose form buttons.
inline constexpr char16_t kClear[] = u"Clear";
inline constexpr char16_t kDoneAttachments[] = u"DoneAttachments";
inline constexpr char16_t kFind[] = u"Find";
inline constexpr char16_t kClose[] = u"Close";
// Compose form fields.
inline constexpr char16_t kTo[] = u"To";
inline constexpr char16_t kCc[] = u"Cc";
inline constexpr char16_t kBCc[] = u"BCc";
inline constexpr char16_t kTTo[] = u"TTo";
inline constexpr char16_t kTCC[] = u"TCC";
inline constexpr char16_t kTBCC[] = u"TBCC";
inline constexpr char16_t kSubject[] = u"Subject";
inline constexpr char16_t kMessageText[] = u"MessageText";
inline constexpr char16_t kContacts[] = u"Contacts";
inline constexpr char16_t kSearch[] = u"Search";
inline constexpr char16_t kIsCompose[] = u"IsCompose";
inline constexpr char16_t kContactSource[] = u"ContactSource";
inline constexpr char16_t kCheckTo[] = u"CHECK:To";
inline constexpr char16_t kCheckCc[] = u"CHECK:Cc";
inline constexpr char16_t kCheckBcc[] = u"CHECK:Bcc";
}  // namespace keys
