// Page chrome: the tool bar and its cells in full and reduced output, and the
// reduced-output navigation bar. All output goes to the response.
#pragma once

#include <string>
#include <string_view>

#include "platform/Exceptions.h"
#include "platform/Format.h"
#include "platform/Resources.h"

// The fixed text that closes a tool bar.
inline constexpr char16_t kBarClose[] =
    u"<TD class=\"coolFiller\" id=\"LocationFiller\">&nbsp;</TD></TR></TABLE>\r\n";

void WriteBarStart(LONG fullOutput);
void WriteLocationButton(LONG fullOutput, std::u16string_view image, std::u16string_view url,
                         std::u16string_view caption);
void WriteScriptButton(LONG fullOutput, UINT captionId, std::u16string_view image,
                       std::u16string_view script);
void WriteScriptButtonFromModule(LONG fullOutput, HMODULE module, UINT captionId,
                                 std::u16string_view image, std::u16string_view script);
void WriteDisabledButton(LONG fullOutput, HMODULE module, UINT captionId, std::u16string_view image);
void WriteSubmitButton(LONG fullOutput, std::u16string_view name, std::u16string_view value,
                       std::u16string_view image);
void WriteSubmitButtonById(LONG fullOutput, UINT captionId, std::u16string_view image);
void WriteSubmitButtonByIdFromModule(LONG fullOutput, HMODULE module, UINT captionId,
                                     std::u16string_view image);
void WriteBarText(std::u16string_view text);
// Reduced output only; the title does not change what is written.
void WriteNavigationBarText(LONG fullOutput, std::u16string_view title);

// The URL format (a string id) is formatted with the arguments into a buffer
// of 5012 characters, longer results cut.
template <class... A>
void WriteLinkButton(LONG fullOutput, UINT captionId, std::u16string_view image, UINT urlFormatId,
                     const A&... args) {
  WriteLocationButton(fullOutput, image,
                      platform::FormatBounded(5012, platform::LoadString(urlFormatId), args...),
                      platform::LoadString(captionId));
}
template <class... A>
void WriteLinkButtonFromModule(LONG fullOutput, HMODULE module, UINT captionId,
                               std::u16string_view image, UINT urlFormatId, const A&... args) {
  WriteLocationButton(fullOutput, image,
                      platform::FormatBounded(5012, platform::LoadString(module, urlFormatId), args...),
                      platform::LoadString(module, captionId));
}
// The title is formatted into a buffer of 2048 characters but changes
// nothing that is written; a title whose format does not match its
// arguments is therefore dropped rather than raised.
namespace chrome_detail {
template <class... A>
std::u16string NavigationTitle(const std::u16string& format, const A&... args) {
  try {
    return platform::FormatBounded(2048, format, args...);
  } catch (const CInvalidArgException&) {
    return {};
  }
}
}  // namespace chrome_detail
template <class... A>
void WriteNavigationBar(LONG fullOutput, UINT titleId, const A&... args) {
  if (fullOutput) return;
  WriteNavigationBarText(fullOutput,
                         chrome_detail::NavigationTitle(platform::LoadString(titleId), args...));
}
template <class... A>
void WriteNavigationBarFromModule(LONG fullOutput, HMODULE module, UINT titleId, const A&... args) {
  if (fullOutput) return;
  WriteNavigationBarText(fullOutput, chrome_detail::NavigationTitle(
                                         platform::LoadString(module, titleId), args...));
}
