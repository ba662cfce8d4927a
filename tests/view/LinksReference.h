// A literal, slow rendering of the link rewriters: after every change the
// whole upper-case copy is made again and every search starts over from the
// resume position. The product code walks its text once; the tests and the
// fuzzer check that both give the same text.
#pragma once

#include <algorithm>
#include <string>

#include "host/HostKit.h"
#include "platform/Text.h"

namespace reference {

constexpr std::size_t npos = std::u16string::npos;

inline std::u16string Up(const std::u16string& s) { return platform::ToUpper(s); }

inline void ReplaceAll(std::u16string& t, const std::u16string& what, const std::u16string& with) {
  if (what.empty()) return;
  for (std::size_t at = t.find(what); at != npos; at = t.find(what, at + with.size()))
    t.replace(at, what.size(), with);
}

inline std::size_t EndOfLink(const std::u16string& rest) {
  return rest.find_first_of(std::u16string(u" \n\r\t;)\"'!}><", 12));
}

inline std::u16string Trim(std::u16string s) {
  while (!s.empty() && (s.back() == u'.' || s.back() == u' ')) s.pop_back();
  return s;
}

inline void RewriteHtmlLinks(std::u16string& body) {
  std::u16string U = Up(body);
  std::size_t pos = U.find(u"<A");
  while (pos != npos) {
    std::size_t gt = body.find(u'>', pos);
    if (gt == npos) return;
    std::u16string tag = body.substr(pos, gt - pos + 1);
    const std::size_t L0 = tag.size();
    std::u16string T = Up(tag);
    bool apply = false;
    if (T.find(u"HREF") != npos) {
      int kind = 0;  // 1 web, 2 file, 3 mail
      std::size_t i;
      if ((i = T.find(u"HTTP://")) != npos || (i = T.find(u"HTTPS://")) != npos) {
        kind = 1;
      } else {
        if ((i = T.find(u"FILE:///\\")) != npos) tag.erase(i, 8), T = Up(tag);
        else if ((i = T.find(u"FILE://\\")) != npos) tag.erase(i, 7), T = Up(tag);
        else if ((i = T.find(u"FILE://")) != npos) tag.replace(i, 7, u"\\\\"), T = Up(tag);
        else if ((i = T.find(u"FILE:")) != npos) tag.erase(i, 5), T = Up(tag);
        if ((i = T.find(u"\\\\")) != npos || (i = T.find(u"//")) != npos) kind = 2;
        else if ((i = T.find(u"MAILTO:")) != npos) kind = 3;
      }
      std::size_t e = npos;
      if (kind) {
        e = tag.find(u'"', i);
        if (e == npos) e = tag.find(u'\'', i);
        if (e == npos) e = tag.find(u' ', i);
      }
      if (e != npos) {
        std::u16string link = tag.substr(i, e - i), fresh;
        if (kind == 2) fresh = u"/HalvornSLV/Folder.asp?LFE=false&ClearName=" + link;
        if (kind == 1 && FAILED(VEncodeHostedUrl(link, u"DARIvoredu", fresh))) fresh.clear();
        if (kind == 3) fresh = u"/HalvornSLV/ComposeMessage.asp?ClearSession=1&Type=NewMsg&To=" + link.substr(7);
        ReplaceAll(tag, link, fresh);
        if (kind == 3) tag.insert(Up(tag).find(u"HREF"), u"target='HvnsEmailWindow'");
        if (Up(tag).find(u"TARGET='") == npos && Up(tag).find(u"HREF") != npos)
          tag.insert(Up(tag).find(u"HREF"), u"target='_blank' ");
        apply = true;
      }
    }
    if (apply) {
      body.erase(pos, L0);
      body.insert(pos, tag);
      U = Up(body);
    }
    pos = U.find(u"<A", pos + tag.size());
  }
}

template <std::size_t N>
std::size_t FirstOf(const std::u16string& U, const char16_t* const (&words)[N], std::size_t from) {
  std::size_t best = npos;
  for (auto* w : words) best = std::min(best, U.find(w, from));
  return best;
}

inline void LinkifyPlainText(std::u16string& text) {
  static const char16_t* const kWords[] = {u"HTTP://", u"HTTPS://", u"FILE://", u"\\\\"};
  text = VHTMLEncodeString3(VHTMLDecodeString(text));
  std::size_t start = FirstOf(Up(text), kWords, 0);
  while (start != npos) {
    std::u16string rest = text.substr(start);
    std::size_t e = EndOfLink(rest), next;
    if (e == npos) {
      next = start + 2;
    } else {
      std::u16string link = Trim(rest.substr(0, e)), anchor;
      if (link.rfind(u"\\\\", 0) == 0 || Up(link).rfind(u"FILE://", 0) == 0) {
        if (Up(link).rfind(u"FILE://", 0) == 0) {
          link.erase(0, 7);
          for (auto& c : link) c = c == u'/' ? u'\\' : c;
          if (link.rfind(u"\\\\", 0) != 0) link = u"\\\\" + link;
        }
        anchor = u"<a target='_blank' href =\"Folder.asp?LFE=false&ClearName=" + VURLEncodeW(link) + u"\">";
      } else {
        std::u16string fresh;
        anchor = u"<a target='_blank' href =\"" +
                 (SUCCEEDED(VEncodeHostedUrl(link, u"DARIvoredu", fresh)) ? fresh : link) + u"\">";
      }
      text.insert(start + e, u"</a>");
      text.insert(start, anchor);
      next = start + anchor.size() + e - 1;
    }
    start = FirstOf(Up(text), kWords, next);
  }
}

inline void LinkifyUncPaths(std::u16string& text) {
  static const char16_t* const kWords[] = {u"HTTP://", u"HTTPS://", u"FILE://", u"\\\\", u"//"};
  std::size_t start = FirstOf(Up(text), kWords, 0);
  while (start != npos) {
    std::u16string rest = text.substr(start);
    std::size_t e = EndOfLink(rest), next;
    if (e == npos) {
      next = start + 2;
    } else {
      std::u16string link = Trim(rest.substr(0, e));
      if (link.rfind(u"\\\\", 0) == 0 || link.rfind(u"//", 0) == 0) {
        std::u16string path = link;
        for (auto& c : path) c = c == u'/' ? u'\\' : c;
        std::u16string fresh = u"file://" + path;
        text.erase(start, link.size());
        text.insert(start, fresh);
        e += fresh.size() - link.size();
      }
      next = start + e - 1;
    }
    start = FirstOf(Up(text), kWords, next);
  }
}

}  // namespace reference
