// Framework exceptions. Methods with a handler catch CException (and
// std::bad_alloc, which counts as a memory exception) at their boundary.
#pragma once

#include <new>
#include <string>

#include "platform/WinTypes.h"

class CException {
 public:
  virtual ~CException() = default;
  // The exception's own message, like GetErrorMessage into a bounded buffer.
  virtual std::u16string GetErrorMessage() const = 0;
  bool GetErrorMessage(char16_t* buffer, UINT maxChars) const;
};

class CSimpleException : public CException {
 public:
  explicit CSimpleException(std::u16string message) : message_(std::move(message)) {}
  using CException::GetErrorMessage;
  std::u16string GetErrorMessage() const override { return message_; }

 private:
  std::u16string message_;
};

class CMemoryException : public CSimpleException {
 public:
  CMemoryException() : CSimpleException(u"Out of memory.") {}
};

class CInvalidArgException : public CSimpleException {
 public:
  explicit CInvalidArgException(std::u16string m = u"Encountered an improper argument.")
      : CSimpleException(std::move(m)) {}
};

class CFileException : public CException {
 public:
  CFileException(DWORD osError, std::u16string fileName)
      : osError_(osError), fileName_(std::move(fileName)) {}
  using CException::GetErrorMessage;
  std::u16string GetErrorMessage() const override;
  DWORD OsError() const { return osError_; }

 private:
  DWORD osError_;
  std::u16string fileName_;
};

// A COM error, as raised by smart-pointer wrappers on a failed HRESULT.
class CComError {
 public:
  explicit CComError(HRESULT hr) : hr_(hr) {}
  HRESULT Error() const { return hr_; }
  // The system message for the code, "IDispatch error #%d" for dispatch
  // codes without one, else "Unknown error 0x%0lX".
  std::u16string ErrorMessage() const;

 private:
  HRESULT hr_;
};

namespace platform {
// The system's message text for a code, like FormatMessage; false when none.
bool SystemMessage(HRESULT hr, std::u16string& text);
// Raises CComError when hr is a failure.
inline void ThrowIfFailed(HRESULT hr) {
  if (FAILED(hr)) throw CComError(hr);
}
}  // namespace platform
