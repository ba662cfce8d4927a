// Page size, sort codes and string ids of the folder listing.
#pragma once

#include "platform/WinTypes.h"

namespace listing {

// Messages per page; also the cap on rows written.
constexpr LONG kPageSize = 30;

// Sort codes of the Sort query key; code + 1 is the same column asked for
// again while the listing is already in that column's code.
constexpr LONG kSortReceived = 0;
constexpr LONG kSortFrom = 2;
constexpr LONG kSortSubject = 4;

// String-table ids.
constexpr UINT kIdsInbox = 3106;
constexpr UINT kIdsPageUrl = 3107;
constexpr UINT kIdsPrevious = 3108;
constexpr UINT kIdsNext = 3109;
constexpr UINT kIdsComposeUrl = 3129;
constexpr UINT kIdsCompose = 3130;
constexpr UINT kIdsViewUrl = 3141;
constexpr UINT kIdsSubjectLink = 3142;
constexpr UINT kIdsCannotRead = 3143;
constexpr UINT kIdsFolderTitle = 3189;
constexpr UINT kIdsHeaderSort = 3190;
constexpr UINT kIdsHeaderNoSort = 3195;
constexpr UINT kIdsSessionFailed = 3198;
constexpr UINT kIdsOpen = 3199;
constexpr UINT kIdsReply = 3200;
constexpr UINT kIdsReplyAll = 3204;
constexpr UINT kIdsForward = 3205;
constexpr UINT kIdsDelete = 3206;
constexpr UINT kIdsGo = 3208;
constexpr UINT kIdsRefresh = 3213;
constexpr UINT kIdsRefreshUrl = 3214;
constexpr UINT kIdsSearchFor = 3215;
// Only localized libraries carry these.
constexpr UINT kIdsSearchCell = 3240;
constexpr UINT kIdsDateFormat = 3247;
constexpr UINT kIdsAllPublicFolders = 3255;
constexpr UINT kIdsFavorites = 3256;

}  // namespace listing
