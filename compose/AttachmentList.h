// The attachment list of a message being composed: the session variable
// FileID, a ";"-separated list of items in the URL-safe encoding. Decoded, an
// item is a file path (local or UNC) or "UPLOADID" followed by an upload
// store identifier, whose file-name part may carry the name to show after
// a "|". The list operations are CMyInbox members (ListAttachments,
// RemoveAttachment, RemoveDuplicateAttachments).
#pragma once

#include <string>
#include <string_view>

// The name shown for a decoded item: its file name (the text after the first
// "|" when it has one) followed by its extension, dot included.
std::u16string AttachmentShownName(std::u16string_view decodedItem);
