#include "portal/Util.h"

#include <sodium.h>

#include <algorithm>
#include <fstream>
#include <sstream>

namespace portal {

namespace {
constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789_*";

int AlphabetValue(char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '_') return 62;
  if (c == '*') return 63;
  if (c == '-') return -2;  // pad, skipped
  return -1;
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}
}  // namespace

std::string EncodeUrlSafe(std::string_view in) {
  std::string out;
  unsigned bits = 0;
  int held = 0;
  for (unsigned char c : in) {
    bits = (bits << 8) | c;
    held += 8;
    while (held >= 6) {
      held -= 6;
      out.push_back(kAlphabet[(bits >> held) & 0x3F]);
    }
  }
  if (held > 0) out.push_back(kAlphabet[(bits << (6 - held)) & 0x3F]);
  while (out.size() % 4) out.push_back('-');
  return out;
}

std::string DecodeUrlSafe(std::string_view in) {
  std::string out;
  unsigned bits = 0;
  int held = 0;
  for (char c : in) {
    int v = AlphabetValue(static_cast<char>(c & 0x7F));
    if (v == -1) return {};
    if (v == -2) continue;
    bits = (bits << 6) | static_cast<unsigned>(v);
    held += 6;
    if (held >= 8) {
      held -= 8;
      out.push_back(static_cast<char>((bits >> held) & 0xFF));
    }
  }
  return out;
}

bool IsUrlSafeText(std::string_view text) {
  return std::all_of(text.begin(), text.end(), [](char c) { return AlphabetValue(c) != -1; });
}

std::string UrlEncode(std::string_view text) {
  static const char hex[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : text) {
    if (std::isalnum(c) || c == '-' || c == '_' || c == '.' || c == '~') {
      out.push_back(static_cast<char>(c));
    } else {
      out.push_back('%');
      out.push_back(hex[c >> 4]);
      out.push_back(hex[c & 15]);
    }
  }
  return out;
}

std::string UrlDecode(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c == '+') {
      out.push_back(' ');
    } else if (c == '%' && i + 2 < text.size() && HexValue(text[i + 1]) >= 0 && HexValue(text[i + 2]) >= 0) {
      out.push_back(static_cast<char>(HexValue(text[i + 1]) * 16 + HexValue(text[i + 2])));
      i += 2;
    } else {
      out.push_back(c);
    }
  }
  return out;
}

std::vector<std::pair<std::string, std::string>> ParseUrlEncoded(std::string_view text) {
  std::vector<std::pair<std::string, std::string>> out;
  for (const auto& piece : Split(text, '&')) {
    if (piece.empty()) continue;
    auto eq = piece.find('=');
    if (eq == std::string::npos)
      out.emplace_back(UrlDecode(piece), "");
    else
      out.emplace_back(UrlDecode(piece.substr(0, eq)), UrlDecode(piece.substr(eq + 1)));
  }
  return out;
}

std::string ToLowerAscii(std::string_view text) {
  std::string out(text);
  for (auto& c : out)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return out;
}

bool EqualsNoCaseAscii(std::string_view a, std::string_view b) {
  return a.size() == b.size() && ToLowerAscii(a) == ToLowerAscii(b);
}

std::string Trim(std::string_view text) {
  auto b = text.find_first_not_of(" \t\r\n");
  if (b == std::string_view::npos) return {};
  auto e = text.find_last_not_of(" \t\r\n");
  return std::string(text.substr(b, e - b + 1));
}

std::vector<std::string> Split(std::string_view text, char sep) {
  std::vector<std::string> out;
  std::size_t start = 0;
  while (true) {
    auto pos = text.find(sep, start);
    if (pos == std::string_view::npos) {
      out.emplace_back(text.substr(start));
      break;
    }
    out.emplace_back(text.substr(start, pos - start));
    start = pos + 1;
  }
  return out;
}

std::string RandomHex(std::size_t bytes) {
  std::string raw(bytes, '\0');
  randombytes_buf(raw.data(), raw.size());
  static const char hex[] = "0123456789abcdef";
  std::string out;
  for (unsigned char c : raw) {
    out.push_back(hex[c >> 4]);
    out.push_back(hex[c & 15]);
  }
  return out;
}

bool IsInside(const std::filesystem::path& root, const std::filesystem::path& path) {
  std::error_code ec;
  if (root.empty() || path.empty() || !path.is_absolute()) return false;
  auto r = std::filesystem::weakly_canonical(root, ec);
  if (ec) return false;
  auto p = std::filesystem::weakly_canonical(path, ec);
  if (ec) return false;
  auto rs = r.lexically_normal().string();
  auto ps = p.lexically_normal().string();
  while (rs.size() > 1 && rs.back() == '/') rs.pop_back();
  if (ps == rs) return true;
  return ps.size() > rs.size() && ps.compare(0, rs.size(), rs) == 0 && ps[rs.size()] == '/';
}

bool ReadFile(const std::filesystem::path& path, std::string& out) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::ostringstream ss;
  ss << in.rdbuf();
  out = ss.str();
  return true;
}

bool WriteFile(const std::filesystem::path& path, std::string_view data) {
  std::error_code ec;
  if (path.has_parent_path()) std::filesystem::create_directories(path.parent_path(), ec);
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  if (!out) return false;
  out.write(data.data(), static_cast<std::streamsize>(data.size()));
  return static_cast<bool>(out);
}

std::string ContentTypeFor(const std::filesystem::path& path) {
  static const std::pair<const char*, const char*> table[] = {
      {".html", "text/html; charset=utf-8"}, {".htm", "text/html; charset=utf-8"},
      {".css", "text/css"}, {".js", "text/javascript"},
      {".txt", "text/plain; charset=utf-8"}, {".gif", "image/gif"},
      {".png", "image/png"}, {".jpg", "image/jpeg"}, {".jpeg", "image/jpeg"},
      {".pdf", "application/pdf"}, {".wav", "audio/wav"}, {".ics", "text/calendar"},
      {".csv", "text/csv"}, {".zip", "application/zip"}, {".url", "text/plain"},
      {".doc", "application/msword"}, {".xls", "application/vnd.ms-excel"},
  };
  auto ext = ToLowerAscii(path.extension().string());
  for (const auto& [e, t] : table)
    if (ext == e) return t;
  return "application/octet-stream";
}

}  // namespace portal
