// The top of the listing page: the tool bar with compose, refresh, message
// and paging buttons, the search bar, and the column header row.
#include <algorithm>
#include <cstdint>

#include "frame/Chrome.h"
#include "frame/Encoding.h"
#include "host/HostKit.h"
#include "inbox/MyInbox.h"
#include "listing/ListingConstants.h"
#include "platform/Files.h"
#include "platform/Format.h"
#include "platform/Resources.h"

namespace {

// The name shown for the folder: the last part of its path, the localized
// names of the two well-known roots, "Inbox" for the mailbox root.
std::u16string FolderDisplayName(const std::u16string& folder) {
  platform::PathParts parts = platform::SplitPath(folder);
  std::u16string name = parts.fname + parts.ext;
  if (name.empty()) return platform::LoadString(listing::kIdsInbox);
  HMODULE current = AfxGetResourceHandle();
  if (name == u"All Public Folders" && platform::HasString(current, listing::kIdsAllPublicFolders))
    return platform::LoadString(current, listing::kIdsAllPublicFolders);
  if (name == u"Favorites" && platform::HasString(current, listing::kIdsFavorites))
    return platform::LoadString(current, listing::kIdsFavorites);
  return name;
}

// The sort code a column header link asks for: the reverse order when the
// listing is already sorted by that column, else the column's own code.
LONG ToggledSort(LONG current, LONG column) { return current == column ? column + 1 : column; }

}  // namespace

void CMyInbox::WriteListingToolbar(LONG topIndex, DWORD count, LONG sort) {
  using namespace listing;
  LONG fullOutput = 0;
  m_pTarget->get_FullOutput(&fullOutput);

  // 64-bit arithmetic: a hand-typed top index near the 32-bit limit must not wrap.
  const std::int64_t top = topIndex;
  const std::int64_t next = top + kPageSize;
  const std::int64_t lastShown = std::min<std::int64_t>(next, count);
  const std::u16string folderName = FolderDisplayName(m_strFolder);
  const std::u16string folder = EncodeUrlSafe(m_strFolder);
  const std::u16string_view store = m_bstrStore.View();

  m_pTarget->StartPage();
  // The title is not shown; it names the folder and the page for the bar.
  WriteNavigationBarFromModule(fullOutput, m_hResourceLib, kIdsFolderTitle, folderName, topIndex,
                               static_cast<LONG>(lastShown), count);
  WriteBarStart(fullOutput);

  if (fullOutput) {
    std::u16string script = u"ComposeMessage('NewMsg', '";
    script += platform::FormatBounded(
        5012, u"ParentType=2&amp;Parent=%d&amp;Folder=%s&amp;Store=%s", m_nTopIndex, folder, store);
    script += u"');";
    WriteScriptButtonFromModule(fullOutput, m_hResourceLib, kIdsCompose, u"gifs/new.gif", script);
  } else {
    WriteLinkButtonFromModule(fullOutput, m_hResourceLib, kIdsCompose, u"gifs/new.gif",
                              kIdsComposeUrl, m_nTopIndex, folder, store);
  }

  // Refresh goes back to the first page in the default order.
  WriteLinkButtonFromModule(fullOutput, m_hResourceLib, kIdsRefresh, u"gifs/refresh.gif",
                            kIdsRefreshUrl, folder, store);

  if (fullOutput) {
    WriteScriptButtonFromModule(fullOutput, m_hResourceLib, kIdsOpen, u"gifs/openmail.gif",
                                u"OpenMessage()");
    WriteScriptButtonFromModule(fullOutput, m_hResourceLib, kIdsReply, u"gifs/reply.gif",
                                u"ComposeMessage('Reply')");
    WriteScriptButtonFromModule(fullOutput, m_hResourceLib, kIdsReplyAll, u"gifs/replytoall.gif",
                                u"ComposeMessage('ReplyAll')");
    WriteScriptButtonFromModule(fullOutput, m_hResourceLib, kIdsForward, u"gifs/forward.gif",
                                u"ComposeMessage('Fwd')");
    WriteScriptButtonFromModule(fullOutput, m_hResourceLib, kIdsDelete, u"gifs/delete.gif",
                                u"DeleteSelectedMsg()");
  }

  // Paging keeps the current sort code.
  if (m_nTopIndex > 0) {
    WriteLinkButtonFromModule(fullOutput, m_hResourceLib, kIdsPrevious, u"gifs/previous.gif",
                              kIdsPageUrl, static_cast<LONG>(top - kPageSize), folder, store, sort);
  } else {
    WriteDisabledButton(fullOutput, m_hResourceLib, kIdsPrevious, u"gifs/previous.gif");
  }
  if (next < static_cast<std::int64_t>(count)) {
    WriteLinkButtonFromModule(fullOutput, m_hResourceLib, kIdsNext, u"gifs/next.gif", kIdsPageUrl,
                              static_cast<LONG>(next), folder, store, sort);
  } else {
    WriteDisabledButton(fullOutput, m_hResourceLib, kIdsNext, u"gifs/next.gif");
  }
  VWriteResponseText(kBarClose);

  if (!fullOutput) return;

  // The search bar posts to the first page of the folder, without sort.
  WriteBarStart(fullOutput);
  VWriteResponseString(
      u"<form id=searchForm name=searchForm method='POST' action='Inbox.asp?Folder=%s'>", folder);
  WriteDisabledButton(fullOutput, m_hResourceLib, kIdsSearchFor, u"");
  // The cell ahead of the text box (search type choice, Show All) comes
  // only from a localized library.
  const std::u16string searchCell = platform::LoadString(kIdsSearchCell);
  if (!searchCell.empty()) WriteBarText(searchCell);
  WriteBarText(u"<input type='text' id=SearchText name=SearchText size='13'>");
  WriteSubmitButtonByIdFromModule(fullOutput, m_hResourceLib, kIdsGo, u"gifs/Find.gif");
  VWriteResponseText(u"</form><script>document.searchForm.SearchText.focus();</script>");
  VWriteResponseText(kBarClose);
}

void CMyInbox::WriteColumnHeader(bool searching, LONG sort) {
  using namespace listing;
  if (searching) {
    // A filtered list is not re-sorted: the header has no links.
    VWriteResponseString(kIdsHeaderNoSort);
    return;
  }
  const std::u16string folder = EncodeUrlSafe(m_strFolder);
  const std::u16string_view store = u"";
  // The links carry no TopIndex, so a new order starts at the first page.
  VWriteResponseString(platform::FormatW(platform::LoadString(kIdsHeaderSort),  //
                                         folder, store, ToggledSort(sort, kSortFrom),
                                         folder, store, ToggledSort(sort, kSortSubject),
                                         folder, store, ToggledSort(sort, kSortReceived)));
}
