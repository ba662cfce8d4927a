#include "view/Links.h"

#include <array>
#include <string_view>

#include "host/HostKit.h"
#include "platform/Debug.h"
#include "platform/Text.h"

// The rewriters walk their text once. Each one works on the original text and
// its upper-case copy (made once) and builds the result piece by piece, while
// keeping the positions where a search would resume in the changed text: the
// changed parts always lie before that position, so the rest of the search
// sees the same characters either way. The cost grows with the text, not with
// the number of links times its length.

namespace {

constexpr std::size_t npos = std::u16string::npos;

constexpr std::u16string_view kHostedUrlName = u"DARIvoredu";
constexpr std::u16string_view kHtmlFileLink = u"/HalvornSLV/Folder.asp?LFE=false&ClearName=";
constexpr std::u16string_view kHtmlMailLink =
    u"/HalvornSLV/ComposeMessage.asp?ClearSession=1&Type=NewMsg&To=";
constexpr std::u16string_view kMailTarget = u"target='HvnsEmailWindow'";
constexpr std::u16string_view kBlankTarget = u"target='_blank' ";
constexpr std::u16string_view kAnchorOpen = u"<a target='_blank' href =\"";
constexpr std::u16string_view kPlainFileLink = u"Folder.asp?LFE=false&ClearName=";
constexpr std::u16string_view kAnchorClose = u"</a>";

void Debug(std::u16string_view text) { OutputDebugStringW(std::u16string(text).c_str()); }
void Debug(std::u16string_view label, std::u16string_view text) {
  Debug(label);
  Debug(text);
}

bool StartsWith(std::u16string_view text, std::u16string_view prefix) {
  return text.substr(0, prefix.size()) == prefix;
}

// The characters that end a link in plain text.
bool IsEndOfLink(char16_t c) {
  switch (c) {
    case u' ': case u'\n': case u'\r': case u'\t': case u';': case u')':
    case u'"': case u'\'': case u'!': case u'}': case u'>': case u'<':
      return true;
    default:
      return false;
  }
}

// Link with its trailing '.' and ' ' removed.
std::u16string_view TrimLinkEnd(std::u16string_view link) {
  std::size_t n = link.size();
  while (n > 0 && (link[n - 1] == u'.' || link[n - 1] == u' ')) --n;
  return link.substr(0, n);
}

// The first of several keywords at or after a position, for positions that
// only grow: each keyword's last hit is kept until the search passes it.
template <std::size_t N>
class KeywordScan {
 public:
  KeywordScan(std::u16string_view upper, std::array<std::u16string_view, N> words)
      : upper_(upper), words_(words) {
    hits_.fill(npos);
    from_.fill(0);
    valid_.fill(false);
  }
  std::size_t First(std::size_t from) {
    std::size_t best = npos;
    for (std::size_t k = 0; k < N; ++k) {
      if (!valid_[k] || from < from_[k] || (hits_[k] != npos && hits_[k] < from)) {
        hits_[k] = upper_.find(words_[k], from);
        from_[k] = from;
        valid_[k] = true;
      }
      if (hits_[k] < best) best = hits_[k];
    }
    return best;
  }

 private:
  std::u16string_view upper_;
  std::array<std::u16string_view, N> words_;
  std::array<std::size_t, N> hits_;
  std::array<std::size_t, N> from_;
  std::array<bool, N> valid_;
};

// The first end-of-link character at or after a position, for positions that
// only grow.
class EndOfLinkScan {
 public:
  explicit EndOfLinkScan(std::u16string_view text) : text_(text) {}
  std::size_t From(std::size_t from) {
    if (!valid_ || from < from_ || (hit_ != npos && hit_ < from)) {
      hit_ = npos;
      for (std::size_t i = from; i < text_.size(); ++i) {
        if (IsEndOfLink(text_[i])) {
          hit_ = i;
          break;
        }
      }
      from_ = from;
      valid_ = true;
    }
    return hit_;
  }

 private:
  std::u16string_view text_;
  std::size_t hit_ = npos;
  std::size_t from_ = 0;
  bool valid_ = false;
};

enum class LinkKind { Web, File, Mail };

// Rewrites one anchor tag. Returns true when the body takes the new tag;
// false leaves the body as it was (the tag may still have been changed by
// the file-scheme rework, which decides where the scan goes on).
bool RewriteAnchorTag(std::u16string& tag) {
  std::u16string upper = platform::ToUpper(tag);
  if (upper.find(u"HREF") == npos) {
    Debug(u"This is not exactly a HREF. Ignoring it");
    return false;
  }

  LinkKind kind;
  std::size_t i;
  if ((i = upper.find(u"HTTP://")) != npos) {
    kind = LinkKind::Web;
  } else if ((i = upper.find(u"HTTPS://")) != npos) {
    kind = LinkKind::Web;
  } else {
    // File schemes become share paths: "file:///\x" and "file://\x" lose the
    // scheme, "file://server/x" becomes "\\server/x", "file:x" becomes "x".
    bool reworked = true;
    if ((i = upper.find(u"FILE:///\\")) != npos) {
      tag.erase(i, 8);
    } else if ((i = upper.find(u"FILE://\\")) != npos) {
      tag.erase(i, 7);
    } else if ((i = upper.find(u"FILE://")) != npos) {
      tag.replace(i, 7, u"\\\\");
    } else if ((i = upper.find(u"FILE:")) != npos) {
      tag.erase(i, 5);
    } else {
      reworked = false;
    }
    if (reworked) upper = platform::ToUpper(tag);
    if ((i = upper.find(u"\\\\")) != npos) {
      kind = LinkKind::File;
    } else if ((i = upper.find(u"//")) != npos) {
      kind = LinkKind::File;
    } else if ((i = upper.find(u"MAILTO:")) != npos) {
      kind = LinkKind::Mail;
    } else {
      return false;
    }
  }

  std::size_t e = tag.find(u'"', i);
  if (e == npos) e = tag.find(u'\'', i);
  if (e == npos) e = tag.find(u' ', i);
  if (e == npos) {
    Debug(u"Unable to find end of link in this HREF. Ignoring...");
    return false;
  }
  const std::u16string link = tag.substr(i, e - i);
  Debug(u"Found Link - ", link);

  std::u16string fresh;
  switch (kind) {
    case LinkKind::File:
      fresh = std::u16string(kHtmlFileLink) + link;
      platform::ReplaceAll(tag, link, fresh);
      break;
    case LinkKind::Web:
      // A failing encoder leaves no link at all rather than a direct one: the
      // browser must never go straight to a mail's web target.
      if (FAILED(VEncodeHostedUrl(link, kHostedUrlName, fresh))) fresh.clear();
      platform::ReplaceAll(tag, link, fresh);
      break;
    case LinkKind::Mail: {
      fresh = std::u16string(kHtmlMailLink) + link.substr(std::min<std::size_t>(7, link.size()));
      platform::ReplaceAll(tag, link, fresh);
      std::size_t href = platform::ToUpper(tag).find(u"HREF");
      if (href != npos) tag.insert(href, kMailTarget);
      break;
    }
  }
  AddBlankTarget(tag);
  Debug(u"Replacing link with - ", fresh);
  Debug(u"New HREF - ", tag);
  return true;
}

}  // namespace

void AddBlankTarget(std::u16string& tag) {
  const std::u16string upper = platform::ToUpper(tag);
  if (upper.find(u"TARGET='") != npos) return;
  std::size_t href = upper.find(u"HREF");
  if (href != npos) tag.insert(href, kBlankTarget);
}

void RewriteHtmlLinks(std::u16string& body) {
  const std::u16string upper = platform::ToUpper(body);
  std::size_t pos = upper.find(u"<A");
  if (pos == npos) return;

  std::u16string out;
  std::size_t copied = 0;  // body[copied...] is not in out yet
  bool changed = false;
  while (pos != npos) {
    const std::size_t close = body.find(u'>', pos);
    // An "<A" that is never closed ends the scan; the rest stays as it is.
    if (close == npos) break;
    std::u16string tag = body.substr(pos, close - pos + 1);
    const std::size_t originalLength = tag.size();
    Debug(u"Found HREF - ", tag);
    std::size_t next;
    if (RewriteAnchorTag(tag)) {
      out.append(body, copied, pos - copied);
      out += tag;
      copied = pos + originalLength;
      changed = true;
      // The new tag stands where the old one stood; the scan goes on after it.
      next = pos + originalLength;
    } else {
      // The body is unchanged here; the scan steps over the tag as it now is.
      next = pos + tag.size();
    }
    pos = upper.find(u"<A", next);
  }
  if (!changed) return;
  out.append(body, copied, npos);
  body = std::move(out);
}

void LinkifyPlainText(std::u16string& text) {
  text = VHTMLEncodeString3(VHTMLDecodeString(text));
  const std::u16string upper = platform::ToUpper(text);
  KeywordScan<4> candidates(upper, {u"HTTP://", u"HTTPS://", u"FILE://", u"\\\\"});
  EndOfLinkScan ends(text);

  std::u16string out;
  std::size_t copied = 0;
  std::size_t next = 0;
  for (std::size_t start = candidates.First(next); start != npos; start = candidates.First(next)) {
    const std::size_t end = ends.From(start);
    if (end == npos) {
      next = start + 2;
      continue;
    }
    const std::size_t e = end - start;
    std::u16string link(TrimLinkEnd(std::u16string_view(text).substr(start, e)));
    std::u16string anchor(kAnchorOpen);
    if (StartsWith(link, u"\\\\") || StartsWith(platform::ToUpper(link), u"FILE://")) {
      if (!StartsWith(link, u"\\\\")) {
        link.erase(0, 7);
        for (char16_t& c : link)
          if (c == u'/') c = u'\\';
        if (!StartsWith(link, u"\\\\")) link.insert(0, u"\\\\");
      }
      anchor += kPlainFileLink;
      anchor += VURLEncodeW(link);
    } else {
      std::u16string fresh;
      anchor += SUCCEEDED(VEncodeHostedUrl(link, kHostedUrlName, fresh)) ? fresh : link;
    }
    anchor += u"\">";
    out.append(text, copied, start - copied);
    out += anchor;
    out.append(text, start, e);  // the visible text keeps the trimmed characters
    out += kAnchorClose;
    copied = start + e;
    // In the changed text the scan resumes on the link's last character,
    // which is followed by "</a>": no keyword can begin there or inside
    // "</a>", so resuming at the end-of-link character finds the same.
    next = start + e;
  }
  if (copied == 0) return;
  out.append(text, copied, npos);
  text = std::move(out);
}

void LinkifyUncPaths(std::u16string& text) {
  const std::u16string upper = platform::ToUpper(text);
  KeywordScan<5> candidates(upper, {u"HTTP://", u"HTTPS://", u"FILE://", u"\\\\", u"//"});
  EndOfLinkScan ends(text);

  std::u16string out;
  std::size_t copied = 0;
  std::size_t next = 0;
  bool changed = false;
  for (std::size_t start = candidates.First(next); start != npos; start = candidates.First(next)) {
    const std::size_t end = ends.From(start);
    if (end == npos) {
      next = start + 2;
      continue;
    }
    const std::size_t e = end - start;
    std::u16string_view link = TrimLinkEnd(std::u16string_view(text).substr(start, e));
    if (StartsWith(link, u"\\\\") || StartsWith(link, u"//")) {
      std::u16string path(link);
      for (char16_t& c : path)
        if (c == u'/') c = u'\\';
      out.append(text, copied, start - copied);
      out += u"file://";
      out += path;
      copied = start + link.size();
      changed = true;
    }
    // The scan resumes on the character before the end of the link; no
    // keyword can begin there (its second character would be the
    // end-of-link character), so resuming at the end-of-link character
    // finds the same.
    next = end;
  }
  if (!changed) return;
  out.append(text, copied, npos);
  text = std::move(out);
}

void WrapBodyContent(std::u16string& html) {
  const std::u16string upper = platform::ToUpper(html);
  const std::size_t body = upper.find(u"<BODY");
  if (body == npos) return;
  const std::size_t open = html.find(u'>', body);
  // An unclosed BODY tag is left alone.
  if (open == npos) return;
  // The closing tag is looked for after the opening one, so that a
  // "</BODY>" inside the opening tag cannot split it; without one the
  // wrapper closes at the end of the text.
  std::size_t close = upper.find(u"</BODY>", open + 1);
  if (close == npos) close = html.size();
  html.insert(close, u"</DIV>");
  html.insert(open + 1, u"<DIV class=ContentBodyPreview>");
}
