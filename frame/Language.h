// Satellite resource libraries and the request's language.
#pragma once

#include <string>

#include "platform/Resources.h"

// Loads "<Install>Bin/<base>_<code>.strings" for the first language of the
// list that has one, else "en"; code receives the two letters used. With
// direct set, baseName is a full file name loaded as it is.
HMODULE LoadSatelliteLibrary(std::u16string_view baseName, const char16_t* languageList,
                             char16_t code[5], bool direct);

// The browser's Accept-Language list, or the default language.
std::u16string GetBrowserLanguages();
// The session's language, else the Accept-Language list (empty stays empty),
// else the default language when a step fails.
void GetClientLanguage(std::u16string& language);
// The configured default language, "en" when none is configured.
std::u16string GetDefaultLanguage();

// Makes a satellite the source of string loads for the life of the scope.
class CResourceScope {
 public:
  CResourceScope() = default;
  ~CResourceScope() { Close(); }
  CResourceScope(const CResourceScope&) = delete;
  CResourceScope& operator=(const CResourceScope&) = delete;
  bool Open(std::u16string_view baseName);
  void Close();
  HMODULE Library() const { return library_; }

 private:
  HMODULE library_ = nullptr;
  HMODULE previous_ = nullptr;
};
