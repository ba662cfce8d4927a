// An output target for tests: records every call with its arguments, in
// order, and (when echo is on) writes a marker for each call into the
// response, so that a test sees the target's calls between the page's own
// response writes.
#pragma once

#include <string>
#include <vector>

#include "host/InboxInterfaces.h"
#include "platform/ComObject.h"

namespace testing_support {

class RecordingTarget final : public platform::DispatchObject<ILumarestTarget> {
 public:
  static CComPtr<RecordingTarget> Create();

  std::vector<std::u16string> calls;
  LONG fullOutput = 1;
  LONG supportsImages = 1;
  LONG displayWidth = 800;
  bool echo = false;

  // Number of calls whose text starts with the prefix.
  int Count(std::u16string_view prefix) const;
  ULONG RefCount() const { return References(); }

  HRESULT get_IsValid(LONG* v) override;
  HRESULT get_DisplayWidth(LONG* v) override;
  HRESULT get_DisplayHeight(LONG* v) override;
  HRESULT get_MaximumColours(LONG* v) override;
  HRESULT get_SupportsImages(LONG* v) override;
  HRESULT StartPage() override;
  HRESULT EndPage() override;
  HRESULT get_PageSize(LONG* v) override;
  HRESULT put_PageSize(LONG v) override;
  HRESULT WriteLink(BSTR href, BSTR text, BSTR image, BSTR alt, LONG border, LONG newWindow) override;
  HRESULT WriteLine() override;
  HRESULT StartParagraph(LONG wrap, LONG align) override;
  HRESULT EndParagraph() override;
  HRESULT StartTable(BSTR name, LONG alignment) override;
  HRESULT EndTable() override;
  HRESULT StartTableData() override;
  HRESULT EndTableData() override;
  HRESULT StartTableRow() override;
  HRESULT EndTableRow() override;
  HRESULT WriteText(BSTR text, LONG style) override;
  HRESULT get_ReducedOutput(LONG* v) override;
  HRESULT put_ReducedOutput(LONG v) override;
  HRESULT WriteImage(BSTR image, BSTR alt, LONG border) override;
  HRESULT SetTitle(BSTR title) override;
  HRESULT get_SupportsPNG(LONG* v) override;
  HRESULT get_UsePNG(LONG* v) override;
  HRESULT put_UsePNG(LONG v) override;
  HRESULT StartToolBar() override;
  HRESULT EndToolBar() override;
  HRESULT get_SupportsUpload(LONG* v) override;
  HRESULT get_SupportsOpen(LONG* v) override;
  HRESULT put_SupportsOpen(LONG v) override;
  HRESULT WriteUIText(BSTR text, LONG style) override;
  HRESULT get_DoPagination(LONG* v) override;
  HRESULT get_FullOutput(LONG* v) override;
  HRESULT SetOutputFile(BSTR file) override;
  HRESULT get_PdaFullOutput(LONG* v) override;

 private:
  RecordingTarget() = default;
  ~RecordingTarget() = default;
  HRESULT Record(std::u16string call);
  HRESULT Get(const char16_t* name, LONG value, LONG* out);
};

}  // namespace testing_support
