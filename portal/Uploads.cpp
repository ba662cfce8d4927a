#include "portal/Uploads.h"

#include <sodium.h>

#include "portal/Config.h"
#include "portal/Util.h"

namespace portal {

namespace fs = std::filesystem;

UploadLimits UploadLimits::From(const IniFile& ini) {
  UploadLimits l;
  try {
    l.quota = std::stoull(ini.Get("portal", "upload_quota_bytes", std::to_string(l.quota)));
    l.expiry = std::chrono::hours(std::stoll(ini.Get("portal", "upload_expiry_hours", "24")));
  } catch (const std::exception&) {
  }
  return l;
}

std::string UploadStore::CleanName(std::string_view name) {
  auto slash = name.find_last_of("/\\");
  if (slash != std::string_view::npos) name = name.substr(slash + 1);
  std::string out;
  for (unsigned char c : name) {
    if (c < 0x20 || c == 0x7F || c == ';' || c == '|' || c == '<' || c == '>' || c == '"' ||
        c == '\'')
      out.push_back('_');
    else
      out.push_back(static_cast<char>(c));
  }
  out = Trim(out);
  while (!out.empty() && out[0] == '.') out.erase(0, 1);
  if (out.size() > 120) {
    // Keep the extension; cut on a UTF-8 character boundary.
    auto dot = out.rfind('.');
    std::string ext = (dot != std::string::npos && out.size() - dot <= 10) ? out.substr(dot) : "";
    std::size_t keep = 120 - ext.size();
    while (keep > 0 && (static_cast<unsigned char>(out[keep]) & 0xC0) == 0x80) --keep;
    out = out.substr(0, keep) + ext;
  }
  return out.empty() ? "file" : out;
}

std::optional<std::string> UploadStore::Save(const fs::path& store, std::string_view name,
                                             std::string_view bytes) {
  std::error_code ec;
  fs::create_directories(store, ec);
  std::string shown = CleanName(name);
  unsigned char hash[16];
  crypto_generichash_state state;
  crypto_generichash_init(&state, nullptr, 0, sizeof hash);
  crypto_generichash_update(&state, reinterpret_cast<const unsigned char*>(shown.data()), shown.size() + 1);
  crypto_generichash_update(&state, reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
  crypto_generichash_final(&state, hash, sizeof hash);
  static const char hex[] = "0123456789abcdef";
  std::string token;
  for (unsigned char c : hash) {
    token.push_back(hex[c >> 4]);
    token.push_back(hex[c & 15]);
  }
  fs::path file = store / token;
  if (fs::is_regular_file(file, ec) && fs::file_size(file, ec) == bytes.size()) {
    fs::last_write_time(file, fs::file_time_type::clock::now(), ec);
  } else {
    // Written under a name of its own and renamed: a reader never sees half a file.
    fs::path part = store / (token + ".part" + RandomHex(4));
    if (!WriteFile(part, bytes)) {
      fs::remove(part, ec);
      return std::nullopt;
    }
    fs::rename(part, file, ec);
    if (ec) {
      fs::remove(part, ec);
      return std::nullopt;
    }
  }
  return token + "|" + shown;
}

std::uintmax_t UploadStore::UsedBytes(const fs::path& store) {
  std::uintmax_t total = 0;
  std::error_code ec;
  for (const auto& e : fs::directory_iterator(store, ec))
    if (e.is_regular_file(ec)) total += e.file_size(ec);
  return total;
}

int UploadStore::Expire(const fs::path& store, std::chrono::seconds maxAge, const std::set<std::string>& keep) {
  int removed = 0;
  std::error_code ec;
  auto now = fs::file_time_type::clock::now();
  for (const auto& e : fs::directory_iterator(store, ec)) {
    std::string name = e.path().filename().string();
    if (!e.is_regular_file(ec) || keep.count(name.substr(0, 32))) continue;
    auto written = e.last_write_time(ec);
    if (!ec && now - written > maxAge && fs::remove(e.path(), ec)) ++removed;
  }
  return removed;
}

std::set<std::string> UploadStore::TokensIn(std::string_view fileList) {
  std::set<std::string> tokens;
  for (const auto& item : Split(fileList, ';')) {
    std::string text = Trim(item);
    if (IsUrlSafeText(text)) {
      std::string decoded = DecodeUrlSafe(text);
      if (decoded.find("UPLOADID") != std::string::npos) text = decoded;
    }
    auto at = text.find("UPLOADID");
    if (at != std::string::npos && text.size() >= at + 8 + 32) tokens.insert(text.substr(at + 8, 32));
  }
  return tokens;
}

std::optional<fs::path> UploadStore::Resolve(const fs::path& store, std::string_view id) {
  auto bar = id.find('|');
  std::string_view token = id.substr(0, bar);
  if (token.size() != 32) return std::nullopt;
  for (char c : token)
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return std::nullopt;
  fs::path file = store / std::string(token);
  std::error_code ec;
  if (!fs::is_regular_file(file, ec)) return std::nullopt;
  return file;
}

std::string UploadStore::ShownName(std::string_view id) {
  auto bar = id.find('|');
  return bar == std::string_view::npos ? "" : std::string(id.substr(bar + 1));
}

}  // namespace portal
