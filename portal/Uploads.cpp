#include "portal/Uploads.h"

#include "portal/Util.h"

namespace portal {

namespace fs = std::filesystem;

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
  std::string token = RandomHex(16);
  if (!WriteFile(store / token, bytes)) return std::nullopt;
  return token + "|" + CleanName(name);
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
