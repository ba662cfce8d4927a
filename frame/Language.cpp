// Satellite resource libraries, the request's language, and resource scopes.
#include "frame/Language.h"

#include <cstring>

#include "frame/Diagnostics.h"
#include "frame/Encoding.h"
#include "host/HostKit.h"
#include "inbox/MyInbox.h"
#include "platform/Debug.h"
#include "platform/Registry.h"
#include "platform/Text.h"
#include "platform/Variant.h"
#include "platform/Bstr.h"

namespace {

// Source path that accompanies the language reports.
constexpr char16_t kLanguageSource[] = u"frame/Language.h";

// Line numbers of the four request steps, per caller. Fixed: the reports name
// the language header (kLanguageSource) and these lines, which the host's
// report readers key on; they do not follow the lines of this file.
struct ReportLines {
  int noRequest, noServerVariables, itemLookup, changeType;
};
constexpr ReportLines kBrowserLines = {82, 77, 72, 67};
constexpr ReportLines kClientLines = {166, 161, 156, 151};

constexpr std::size_t kMaxPath = 260;         // characters, without the terminator
constexpr std::size_t kMaxListChars = 100;    // of a language list
constexpr std::size_t kDefaultLanguageChars = 260 / sizeof(char16_t);  // buffer, terminator included

// Reads HTTP_ACCEPT_LANGUAGE from the request's server variables. Each failed
// step is reported with its line; returns false when a step failed.
bool ReadAcceptLanguage(const ReportLines& lines, std::u16string& value) {
  value.clear();
  CComPtr<IRequest> request;
  HRESULT hr = VGetIISObject(request);
  if (FAILED(hr) || !request) {
    VReportEvent(kEventException, FAILED(hr) ? hr : E_POINTER, lines.noRequest, kLanguageSource, u"");
    return false;
  }
  CComPtr<IRequestDictionary> variables;
  hr = request->get_ServerVariables(&variables);
  if (FAILED(hr) || !variables) {
    VReportEvent(kEventException, FAILED(hr) ? hr : E_POINTER, lines.noServerVariables, kLanguageSource, u"");
    return false;
  }
  CComVariant key(u"HTTP_ACCEPT_LANGUAGE");
  CComVariant item;
  hr = variables->get_Item(key, &item);
  if (FAILED(hr)) {
    VReportEvent(kEventException, hr, lines.itemLookup, kLanguageSource, u"");
    return false;
  }
  CComVariant text;
  hr = VariantChangeType(&text, &item, 0, VT_BSTR);
  if (FAILED(hr)) {
    VReportEvent(kEventException, hr, lines.changeType, kLanguageSource, u"");
    return false;
  }
  value = std::u16string(platform::BstrView(text.bstrVal));
  return true;
}

HMODULE LoadDataFile(const std::u16string& path) {
  return LoadLibraryExW(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
}

}  // namespace

HMODULE LoadSatelliteLibrary(std::u16string_view baseName, const char16_t* languageList,
                             char16_t code[5], bool direct) {
  if (direct) {
    // A full file name, loaded as it is; one that does not fit a path is refused.
    if (baseName.empty() || baseName.size() > kMaxPath) return nullptr;
    return LoadDataFile(std::u16string(baseName));
  }

  std::u16string prefix;
  if (!platform::RegReadText(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Halvorn\\TALQ", u"Install", prefix))
    return nullptr;
  if (prefix.size() > kMaxPath) return nullptr;  // does not fit the path buffer
  if (!prefix.empty() && prefix.back() != u'/' && prefix.back() != u'\\') prefix += u'/';
  prefix += u"Bin/";
  for (char16_t c : baseName) prefix += c == u' ' ? u'_' : c;
  prefix += u'_';

  if (code) std::memcpy(code, u"en", 3 * sizeof(char16_t));

  if (languageList) {
    // The first 100 characters, in pieces at each ",". Each piece gives its
    // first two characters as they stand; an empty one ends the walk.
    std::u16string_view list = platform::View(languageList).substr(0, kMaxListChars);
    std::size_t start = 0;
    for (;;) {
      std::size_t comma = list.find(u',', start);
      std::u16string_view piece =
          list.substr(start, comma == std::u16string_view::npos ? std::u16string_view::npos
                                                                 : comma - start);
      std::u16string_view twoLetters = piece.substr(0, 2);
      if (twoLetters.empty()) break;
      std::u16string path = prefix + std::u16string(twoLetters) +
                            std::u16string(platform::kSatelliteExtension);
      if (HMODULE library = LoadDataFile(path)) {
        if (code) {
          std::size_t n = twoLetters.size();
          std::memcpy(code, twoLetters.data(), n * sizeof(char16_t));
          code[n] = 0;
        }
        return library;
      }
      if (comma == std::u16string_view::npos) break;
      start = comma + 1;
    }
  }
  return LoadDataFile(prefix + u"en" + std::u16string(platform::kSatelliteExtension));
}

std::u16string GetDefaultLanguage() {
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"Software\\Halvorn\\MUI", 0, KEY_READ, &key) !=
      static_cast<LONG>(ERROR_SUCCESS))
    return u"en";
  char16_t buffer[kDefaultLanguageChars] = {};
  DWORD type = 0;
  DWORD size = sizeof(buffer);
  LONG rc = RegQueryValueExW(key, u"TALQ_DefaultLanguage", nullptr, &type,
                             reinterpret_cast<BYTE*>(buffer), &size);
  RegCloseKey(key);
  if (rc != static_cast<LONG>(ERROR_SUCCESS) || type != REG_SZ) return u"en";
  std::size_t chars = std::min<std::size_t>(size / sizeof(char16_t), kDefaultLanguageChars);
  std::u16string value(buffer, chars);
  std::size_t nul = value.find(u'\0');
  if (nul != std::u16string::npos) value.resize(nul);
  return value;
}

std::u16string GetBrowserLanguages() {
  std::u16string languages;
  ReadAcceptLanguage(kBrowserLines, languages);
  if (languages.empty()) languages = GetDefaultLanguage();
  return languages;
}

void GetClientLanguage(std::u16string& language) {
  language.clear();
  VGetSessionVariable(keys::kClientLanguage, language);
  if (!language.empty()) return;
  // A header that is present but empty stays empty.
  if (!ReadAcceptLanguage(kClientLines, language)) language = GetDefaultLanguage();
}

bool CResourceScope::Open(std::u16string_view baseName) {
  if (library_) return true;
  std::u16string language;
  GetClientLanguage(language);
  char16_t code[5] = {};
  HMODULE library = LoadSatelliteLibrary(baseName, language.c_str(), code, false);
  if (!library) {
    OutputDebugStringW(u"Unable to load satellite DLL");
    return false;
  }
  previous_ = AfxGetResourceHandle();
  AfxSetResourceHandle(library);
  library_ = library;
  return true;
}

void CResourceScope::Close() {
  if (!library_) return;
  AfxSetResourceHandle(previous_);
  FreeLibrary(library_);
  library_ = nullptr;
  previous_ = nullptr;
}

bool CMyInbox::LoadResourceLibrary(const char16_t* languageList) {
  // A handle already held is replaced, not leaked.
  if (m_hResourceLib) {
    FreeLibrary(m_hResourceLib);
    m_hResourceLib = nullptr;
  }
  char16_t code[5] = {};
  if (languageList) {
    m_hResourceLib = LoadSatelliteLibrary(u"quorraFax", languageList, code, false);
  } else {
    std::u16string languages = GetBrowserLanguages();
    m_hResourceLib = LoadSatelliteLibrary(u"quorraFax", languages.c_str(), code, false);
  }
  if (m_hResourceLib) return true;
  trace::TraceMessage(trace::DTF_ERROR, trace::kMsgNoResourceLibrary, {});
  return false;
}
