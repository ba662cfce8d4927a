/* LumarestInbox portal: the script functions the mail component's pages call.
   Rows of the listing call selectItem, openMessage and displayMenu; the tool
   bars call ComposeMessage, OpenMessage and DeleteSelectedMsg. */

var selectedRow = null;
var selectedQuery = null;
var openMenu = null;

/* A value of a query text ("Guid=...&Folder=..."), undecoded. */
function queryValue(query, name) {
  var parts = (query || "").replace(/&amp;/g, "&").split("&");
  for (var i = 0; i < parts.length; i++) {
    var eq = parts[i].indexOf("=");
    var key = eq < 0 ? parts[i] : parts[i].substring(0, eq);
    if (key.toLowerCase() == name.toLowerCase()) return eq < 0 ? "" : parts[i].substring(eq + 1);
  }
  return null;
}

/* The message the tool bar acts on: the selected row of a listing, or the
   message a view page shows. */
function currentMessageQuery() {
  if (selectedQuery) return selectedQuery;
  if (/ViewInboxMessage\.asp$/i.test(location.pathname) && queryValue(location.search.substring(1), "Guid"))
    return location.search.substring(1);
  return null;
}

function selectItem(row, query, kind) {
  if (selectedRow && selectedRow.classList) selectedRow.classList.remove("Selected");
  selectedRow = row;
  selectedQuery = query;
  if (row && row.classList) row.classList.add("Selected");
  hideMenu();
}

function openMessage(query) {
  location.href = "ViewInboxMessage.asp?" + query.replace(/&amp;/g, "&");
}

function OpenMessage() {
  var q = currentMessageQuery();
  if (!q) { window.alert("Select a message first."); return; }
  openMessage(q);
}

function messageUrl(page, query, extra) {
  var guid = queryValue(query, "Guid") || "";
  var folder = queryValue(query, "Folder") || "";
  return page + "?" + extra + "Guid=" + guid + "&ParentType=2&Parent=0&Folder=" + folder + "&Store=";
}

/* ComposeMessage('NewMsg', 'ParentType=2&...') opens an empty message;
   'Reply', 'ReplyAll' and 'Fwd' answer the current message. */
function ComposeMessage(type, params) {
  if (type == "NewMsg") {
    location.href = "ComposeMessage.asp?Type=NewMsg" + (params ? "&" + params.replace(/&amp;/g, "&") : "");
    return;
  }
  var q = currentMessageQuery();
  if (!q) { window.alert("Select a message first."); return; }
  var extra = "Type=" + type + "&" + (type == "Fwd" ? "OrigText=1&" : "");
  location.href = messageUrl("ComposeMessage.asp", q, extra);
}

function DeleteSelectedMsg() {
  var q = currentMessageQuery();
  if (!q) { window.alert("Select a message first."); return; }
  if (!window.confirm("Delete the selected message?")) return;
  location.href = messageUrl("DeleteMessage.asp", q, "");
}

function meetingResponse(type) {
  return function (q) { location.href = messageUrl("MeetingResponse.asp", q, "Type=" + type + "&"); };
}

/* Context menus: a list of [caption, action(query)]. */
var mailPreviewOptionsMenu = [
  ["Open", function (q) { openMessage(q); }],
  ["Reply", function () { ComposeMessage("Reply"); }],
  ["Reply to All", function () { ComposeMessage("ReplyAll"); }],
  ["Forward", function () { ComposeMessage("Fwd"); }],
  ["Delete", function () { DeleteSelectedMsg(); }]
];

var mailMeetingPreviewOptionsMenu = [
  ["Open", function (q) { openMessage(q); }],
  ["Accept", meetingResponse("AcceptMeeting")],
  ["Decline", meetingResponse("DeclineMeeting")],
  ["Tentative", meetingResponse("TentativeMeeting")]
];

function hideMenu() {
  if (openMenu && openMenu.parentNode) openMenu.parentNode.removeChild(openMenu);
  openMenu = null;
}

function displayMenu(row, menu, query, kind) {
  var e = window.event;
  selectItem(row, query, kind);
  if (e && e.preventDefault) e.preventDefault();
  var box = document.createElement("div");
  box.className = "ContextMenu";
  for (var i = 0; i < menu.length; i++) {
    var item = document.createElement("div");
    item.className = "ContextMenuItem";
    item.appendChild(document.createTextNode(menu[i][0]));
    item.onclick = (function (action) {
      return function (ev) { hideMenu(); action(query); if (ev) ev.stopPropagation(); };
    })(menu[i][1]);
    box.appendChild(item);
  }
  box.style.left = ((e ? e.pageX : 40) + 2) + "px";
  box.style.top = ((e ? e.pageY : 40) + 2) + "px";
  hideMenu();
  document.body.appendChild(box);
  openMenu = box;
  return false;
}

document.addEventListener("click", function () { hideMenu(); });
document.addEventListener("keydown", function (e) { if (e.key == "Escape") hideMenu(); });
