// The upload store: files a user uploaded for a message being composed, and
// the attachments of forwarded messages. Each user has a store folder of
// its own; an upload's identifier is "<32 hex digits>|<shown name>", and the
// file is kept as <store>/<32 hex digits>.
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <set>
#include <optional>
#include <string>
#include <string_view>

namespace portal {

class IniFile;

// [portal] upload_quota_bytes (default 100 MB) and upload_expiry_hours
// (default 24): what one user's upload store may hold, and how long an
// upload no draft names is kept.
struct UploadLimits {
  std::uintmax_t quota = 100ull * 1024 * 1024;
  std::chrono::seconds expiry = std::chrono::hours(24);
  static UploadLimits From(const IniFile& ini);
};

class UploadStore {
 public:
  // A name safe to show and to carry in a list: no path, no ';', '|' or
  // control characters, at most 120 bytes; "file" when nothing is left.
  static std::string CleanName(std::string_view name);

  // Stores the bytes; returns the identifier, or nullopt when writing fails.
  // The identifier derives from the name and the bytes, so storing the same
  // file again (a message forwarded twice) keeps one copy, freshly dated.
  static std::optional<std::string> Save(const std::filesystem::path& store, std::string_view name,
                                         std::string_view bytes);
  // Bytes the store holds now.
  static std::uintmax_t UsedBytes(const std::filesystem::path& store);
  // Removes files older than maxAge whose token is not among keep (the
  // uploads a draft still names); returns how many went.
  static int Expire(const std::filesystem::path& store, std::chrono::seconds maxAge,
                    const std::set<std::string>& keep);
  // The upload tokens an attachment list ("a;b;c", items URL-safe encoded
  // or not) names.
  static std::set<std::string> TokensIn(std::string_view fileList);
  // The file of an identifier in this store, when the identifier is
  // well formed and the file exists.
  static std::optional<std::filesystem::path> Resolve(const std::filesystem::path& store,
                                                      std::string_view id);
  // The shown name of an identifier ("" when it has none).
  static std::string ShownName(std::string_view id);
};

}  // namespace portal
