// String ids of name resolution and the contacts picker. The compose post
// recognises its buttons by the same labels.
#pragma once

#include "platform/WinTypes.h"

namespace recipients {

// Recipient button labels and field captions; only localized libraries carry these.
constexpr UINT kIdsTo = 102;
constexpr UINT kIdsCc = 103;
constexpr UINT kIdsBcc = 104;

constexpr UINT kIdsPickerLimit = 3197;  // format with the number of entries shown
constexpr UINT kIdsPickerTitle = 3203;
constexpr UINT kIdsClose = 3209;
constexpr UINT kIdsAddTo = 3210;
constexpr UINT kIdsAddCc = 3211;
constexpr UINT kIdsAddBcc = 3212;
constexpr UINT kIdsAcceptSelections = 3224;
constexpr UINT kIdsPickerForm = 3239;  // format: search label twice, source marker twice, options
constexpr UINT kIdsNoMatch = 3242;
constexpr UINT kIdsOneMatch = 3243;
constexpr UINT kIdsRemoveName = 3244;
constexpr UINT kIdsKeepAsTyped = 3245;
constexpr UINT kIdsManyMatches = 3246;
constexpr UINT kIdsSearch = 3249;

}  // namespace recipients
