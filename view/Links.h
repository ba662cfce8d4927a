// Link detection and rewriting for mail bodies. A mail is read through the
// portal, so no link in it may send the browser straight to its target: web
// links go through the portal's hosted-URL encoder, file and share links go
// to the portal's file browser, mail links go to the compose page, and every
// rewritten anchor opens in another window.
//
// Every operation changes its text in place. Keywords are searched in an
// upper-case copy of the text, so they match in any letter case; positions
// found there are used in the text itself (upper-casing keeps the length).
#pragma once

#include <string>

// Rewrites the anchors ("<A ...>") of an HTML body.
void RewriteHtmlLinks(std::u16string& body);

// Adds "target='_blank' " in front of the first HREF of a tag unless the tag
// already has a target written as TARGET='.
void AddBlankTarget(std::u16string& tag);

// Makes a plain-text body HTML-safe and puts anchors around the web, file and
// share links in it.
void LinkifyPlainText(std::u16string& text);

// Send-time variant: turns bare network paths ("\\server\share" or
// "//server/share") in an outgoing body into "file://" URLs; adds no markup.
void LinkifyUncPaths(std::u16string& text);

// Wraps the content of an HTML body's BODY element in
// <DIV class=ContentBodyPreview>...</DIV>.
void WrapBodyContent(std::u16string& html);
