#include "platform/Exceptions.h"

#include <algorithm>

#include "platform/Format.h"

bool CException::GetErrorMessage(char16_t* buffer, UINT maxChars) const {
  if (!buffer || maxChars == 0) return false;
  std::u16string m = GetErrorMessage();
  std::size_t n = std::min<std::size_t>(m.size(), maxChars - 1);
  std::copy(m.begin(), m.begin() + static_cast<std::ptrdiff_t>(n), buffer);
  buffer[n] = 0;
  return true;
}

std::u16string CFileException::GetErrorMessage() const {
  std::u16string text;
  if (!platform::SystemMessage(HRESULT_FROM_WIN32(osError_), text))
    text = u"A file error occurred.";
  if (!fileName_.empty()) text += u" (" + fileName_ + u")";
  return text;
}

std::u16string CComError::ErrorMessage() const {
  std::u16string text;
  if (platform::SystemMessage(hr_, text)) return text;
  auto code = static_cast<std::uint32_t>(hr_);
  if (code >= 0x80040200u && code <= 0x8004FFFFu)
    return platform::FormatW(u"IDispatch error #%d", static_cast<int>(code & 0xFFFF) - 0x200);
  return platform::FormatW(u"Unknown error 0x%0lX", static_cast<unsigned long>(code));
}

namespace platform {

bool SystemMessage(HRESULT hr, std::u16string& text) {
  struct Entry {
    std::uint32_t code;
    const char16_t* text;
  };
  static constexpr Entry kMessages[] = {
      {0x00000000u, u"The operation completed successfully."},
      {0x80004001u, u"Not implemented"},
      {0x80004002u, u"No such interface supported"},
      {0x80004003u, u"Invalid pointer"},
      {0x80004004u, u"Operation aborted"},
      {0x80004005u, u"Unspecified error"},
      {0x8000FFFFu, u"Catastrophic failure"},
      {0x80070002u, u"The system cannot find the file specified."},
      {0x80070003u, u"The system cannot find the path specified."},
      {0x80070005u, u"Access is denied."},
      {0x80070006u, u"The handle is invalid."},
      {0x8007000Eu, u"Not enough memory resources are available to complete this operation."},
      {0x80070020u, u"The process cannot access the file because it is being used by another process."},
      {0x80070050u, u"The file exists."},
      {0x80070057u, u"The parameter is incorrect."},
      {0x80070070u, u"There is not enough space on the disk."},
      {0x8007007Bu, u"The filename, directory name, or volume label syntax is incorrect."},
      {0x80040110u, u"Class does not support aggregation (or class object is remote)"},
      {0x80040111u, u"ClassFactory cannot supply requested class"},
      {0x80040154u, u"Class not registered"},
      {0x800401F3u, u"Invalid class string"},
      {0x800401F8u, u"DLL for class not found"},
      {0x80020003u, u"Member not found."},
      {0x80020005u, u"Type mismatch."},
      {0x80020006u, u"Unknown name."},
      {0x8002000Eu, u"Invalid number of parameters."},
  };
  auto code = static_cast<std::uint32_t>(hr);
  for (const auto& e : kMessages) {
    if (e.code == code) {
      text = e.text;
      return true;
    }
  }
  return false;
}

}  // namespace platform
