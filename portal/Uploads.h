// The upload store: files a user uploaded for a message being composed, and
// the attachments of forwarded messages. Each user has a store folder of
// its own; an upload's identifier is "<32 hex digits>|<shown name>", and the
// file is kept as <store>/<32 hex digits>.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace portal {

class UploadStore {
 public:
  // A name safe to show and to carry in a list: no path, no ';', '|' or
  // control characters, at most 120 bytes; "file" when nothing is left.
  static std::string CleanName(std::string_view name);

  // Stores the bytes; returns the identifier, or nullopt when writing fails.
  static std::optional<std::string> Save(const std::filesystem::path& store, std::string_view name,
                                         std::string_view bytes);
  // The file of an identifier in this store, when the identifier is
  // well formed and the file exists.
  static std::optional<std::filesystem::path> Resolve(const std::filesystem::path& store,
                                                      std::string_view id);
  // The shown name of an identifier ("" when it has none).
  static std::string ShownName(std::string_view id);
};

}  // namespace portal
