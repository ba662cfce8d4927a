// Attachment links of the message view: icons by file type (with the
// process-wide icon cache, shared with the compose form), the wave-file test
// for the page's hidden media player.
#pragma once

#include <map>
#include <mutex>
#include <string>

#include "host/InboxInterfaces.h"
#include "records/MailRecords.h"

// Extension (with its '.', or empty) to icon path, one per process. Request
// threads look up and fill it at the same time, so both go through a lock.
// Entries are never removed; a "gifs/Default.gif" answer is kept like any other.
class IconCache {
 public:
  static IconCache& Instance();
  bool Find(const std::u16string& key, std::u16string& icon) const;
  void Store(const std::u16string& ext, const std::u16string& icon);
  std::size_t Size() const;

 private:
  mutable std::mutex mutex_;
  std::map<std::u16string, std::u16string> icons_;
};

// Replaces name (a file name or path) by the icon path for its type. False,
// with name emptied, when the target shows no images.
bool GetFileIconPath(std::u16string& name, ILumarestTarget* target);

// The extension, in any letter case, is ".wav".
bool IsWaveFile(const char16_t* name);
bool HasWaveAttachment(const MAPIManaged::_MAILMESSAGEATTACHMENTS* attachments, DWORD count);
