// String ids of the compose form, its posts and forwarded attachments. The
// recipient button labels and the picker's labels, which name resolution and
// the picker use as well, are in recipients/RecipientsConstants.h.
#pragma once

#include "platform/WinTypes.h"

namespace compose {

// Only localized libraries carry these.
constexpr UINT kIdsPolicyDenial = 112;   // a file the policy refuses to attach
constexpr UINT kIdsBodyCaption = 113;
constexpr UINT kIdsQuotedMessage = 3257;  // format with five texts: from, to, cc, subject, body

constexpr UINT kIdsSubjectCaption = 3162;  // full output
constexpr UINT kIdsFormClose = 3163;
constexpr UINT kIdsAttachmentRow = 3165;
constexpr UINT kIdsSend = 3184;
constexpr UINT kIdsCheckNames = 3185;
constexpr UINT kIdsAttachments = 3187;
constexpr UINT kIdsSubjectLabel = 3191;  // reduced output
constexpr UINT kIdsCancel = 3196;
constexpr UINT kIdsWebEmail = 3230;  // title of the reports to the host
constexpr UINT kIdsForwardFailed = 3231;
constexpr UINT kIdsNoRecipient = 3238;
constexpr UINT kIdsCopyFailedSize = 3250;
constexpr UINT kIdsUploadStoreFailed = 3251;

}  // namespace compose
