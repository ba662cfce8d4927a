// Page chrome: the tool bar, its cells in both output modes, and the
// reduced-output navigation bar.
#include "frame/Chrome.h"

#include "frame/Language.h"
#include "host/HostKit.h"

namespace {

// Writes a cell built with formatting as it is: percent signs in it stay.
template <class... A>
void WriteCell(const char16_t* format, const A&... args) {
  VWriteResponseString(u"%s", platform::FormatW(format, args...));
}

std::u16string BlanksAsNbsp(std::u16string_view caption) {
  std::u16string out;
  out.reserve(caption.size());
  for (char16_t c : caption) {
    if (c == u' ')
      out += u"&nbsp;";
    else
      out += c;
  }
  return out;
}

void WriteScriptCell(LONG fullOutput, std::u16string_view caption, std::u16string_view image,
                     std::u16string_view script) {
  if (!fullOutput) return;  // reduced output has no script buttons at all
  if (!image.empty())
    WriteCell(u"<td class='coolButton' nowrap=\"true\" onclick=\"%s\"><img border='0' src='%s' "
              u"align='absmiddle'>&nbsp;%s</td>\r\n",
              script, image, caption);
  else
    WriteCell(u"<td class='coolButton' nowrap=\"true\" onclick=\"%s\">&nbsp;%s</td>\r\n", script,
              caption);
}

}  // namespace

void WriteBarStart(LONG fullOutput) {
  if (fullOutput)
    VWriteResponseString(u"<TABLE width=\"100%%\" class=\"coolBar\"><TR valign=\"middle\">\r\n");
  else
    VWriteResponseString(
        u"<TABLE width=\"100%%\" border=0 bgcolor=\"#D4D0C8\"><TR valign=\"middle\">\r\n");
}

void WriteLocationButton(LONG fullOutput, std::u16string_view image, std::u16string_view url,
                         std::u16string_view caption) {
  const std::u16string shown = BlanksAsNbsp(caption);
  if (fullOutput) {
    if (!image.empty())
      WriteCell(u"<td class='coolButton' nowrap=\"true\" onclick=\"self.location='%s'\"><img "
                u"border='0' src='%s' align='absmiddle'>&nbsp;%s</td>\r\n",
                url, image, shown);
    else
      WriteCell(u"<td class='coolButton' nowrap=\"true\" onclick=\"self.location='%s'\">&nbsp;%s</td>\r\n",
                url, shown);
  } else {
    if (!image.empty())
      WriteCell(u"<td align=center><a href='%s'><img border='0' src='%s'><br><small>%s</small></a></td>\r\n",
                url, image, shown);
    else
      WriteCell(u"<td align=center><a href='%s'><br><small>%s</small></a></td>\r\n", url, shown);
  }
}

void WriteScriptButton(LONG fullOutput, UINT captionId, std::u16string_view image,
                       std::u16string_view script) {
  if (!fullOutput) return;
  WriteScriptCell(fullOutput, platform::LoadString(captionId), image, script);
}

void WriteScriptButtonFromModule(LONG fullOutput, HMODULE module, UINT captionId,
                                 std::u16string_view image, std::u16string_view script) {
  if (!fullOutput) return;
  WriteScriptCell(fullOutput, platform::LoadString(module, captionId), image, script);
}

void WriteDisabledButton(LONG fullOutput, HMODULE module, UINT captionId, std::u16string_view image) {
  const std::u16string caption = platform::LoadString(module, captionId);
  if (fullOutput) {
    if (!image.empty())
      WriteCell(u"<td class='coolDisabled' nowrap=\"true\" ><img border='0' src='%s' "
                u"align='absmiddle'>&nbsp;%s</td>\r\n",
                image, caption);
    else
      WriteCell(u"<td class='coolDisabled' nowrap=\"true\" >&nbsp;%s</td>\r\n", caption);
  } else {
    if (!image.empty())
      WriteCell(u"<td align=center><img border='0' src='%s'><br><small>%s</small></td>\r\n", image,
                caption);
    else
      WriteCell(u"<td align=center><br><small>%s</small></td>\r\n", caption);
  }
}

void WriteSubmitButton(LONG fullOutput, std::u16string_view name, std::u16string_view value,
                       std::u16string_view image) {
  if (fullOutput) {
    if (!image.empty())
      WriteCell(u"<td class='coolButton' nowrap=\"true\" ><input class='inputbutton' type=submit "
                u"style='background-image: url(%s); background-repeat : no-repeat; "
                u"background-position-x : left; padding-left: 14px; padding-top: 5px; cursor: hand; "
                u"white-space:nowrap;' name='%s' value='%s'></td>\r\n",
                image, name, value);
    else
      WriteCell(u"<td class='coolButton' nowrap=\"true\" >&nbsp;<input class='inputbutton' "
                u"type=submit style='cursor: hand; white-space:nowrap;' name='%s' value='%s'></td>\r\n",
                name, value);
  } else {
    WriteCell(u"<td align=center><small><input type=submit name='%s' value='%s' "
              u"style='white-space:nowrap;'></small></td>\r\n",
              name, value);
  }
}

void WriteSubmitButtonById(LONG fullOutput, UINT captionId, std::u16string_view image) {
  const std::u16string caption = platform::LoadString(captionId);
  WriteSubmitButton(fullOutput, caption, caption, image);
}

void WriteSubmitButtonByIdFromModule(LONG fullOutput, HMODULE module, UINT captionId,
                                     std::u16string_view image) {
  const std::u16string caption = platform::LoadString(module, captionId);
  WriteSubmitButton(fullOutput, caption, caption, image);
}

void WriteBarText(std::u16string_view text) {
  WriteCell(u"<td class='coolButton' nowrap=\"true\" align=center>%s</td>\r\n", text);
}

void WriteNavigationBarText(LONG fullOutput, std::u16string_view /*title*/) {
  if (fullOutput) return;
  // Captions come from the quorraCore satellite of the browser's languages;
  // any that cannot be had takes its English default.
  const std::u16string languages = GetBrowserLanguages();
  char16_t code[5] = {};
  HMODULE core = LoadSatelliteLibrary(u"quorraCore", languages.c_str(), code, false);
  auto caption = [core](UINT id, const char16_t* fallback) {
    std::u16string text = core ? platform::LoadString(core, id) : std::u16string();
    return text.empty() ? std::u16string(fallback) : text;
  };
  const std::u16string inbox = caption(1144, u"Inbox");
  const std::u16string mailboxes = caption(1210, u"Mailboxes");
  const std::u16string myFiles = caption(1213, u"My Files");
  const std::u16string logout = caption(1130, u"Logout");

  VWriteResponseString(u"<table width=100%% border=0 bgcolor='#D4D0C8'><tr>");
  if (!VIsMailDisabled()) {
    VWriteResponseString(u"<td align=center><a href='Inbox.asp'><img border=0 "
                         u"src='gifs/Inbox.gif'><br><small>%s</small></a></td>",
                         inbox);
    VWriteResponseString(u"<td align=center><a href='InboxFolders.asp?Recurse=true&amp;Vis=Inbox'><img "
                         u"border=0 src='gifs/Inbox.gif'><br><small>%s</small></a></td>",
                         mailboxes);
  }
  VWriteResponseString(u"<td align=center><a href='MyFiles.asp?Recurse=true&amp;Vis=Files'><img "
                       u"border=0 src='gifs/My_Computer.gif'><br><small>%s</small></a></td>",
                       myFiles);
  VWriteResponseString(u"<td align=center><a href='Logout.asp'><img border=0 "
                       u"src='gifs/Logout.gif'><br><small>%s</small></a></td>",
                       logout);
  VWriteResponseString(u"</tr></table>");
  if (core) FreeLibrary(core);
}
