-- wrk script of bench/soak.sh, run with one connection per thread: each
-- connection mixes the folder listing,
-- paging, searches, message views, sending and deleting. Message ids come
-- from the listings this thread saw; a thread views only generated messages
-- and deletes only the ones it sent itself, so that no request depends on
-- another thread's timing. Errors counted here: any answer other than
-- 200/302, a send that reports failure, a listing without rows. A request
-- lost to a broken connection is one of wrk's socket errors and an answer
-- slower than the time-out one of its time-outs; bench/soak.sh adds those.
-- Requests are not counted against answers: wrk calls request() once more
-- in the first thread, before the run, to check the request it makes, and
-- cuts each connection's request in flight when the run ends.

local threads = {}
local counter = 1

function setup(thread)
  thread:set("id", counter)
  thread:set("cookie", os.getenv("SOAK_COOKIE_" .. counter) or os.getenv("SOAK_COOKIE_1"))
  counter = counter + 1
  table.insert(threads, thread)
end

local views, mine = {}, {}
local sent, kind = 0, nil
local step = 0
-- Globals, read by done() through the thread object.
errors = 0
local words = { "budget", "nowhere", "quick", "Friday", "trip" }

-- Sec-Fetch-Site as a browser sends it from the portal's own pages: the
-- portal refuses a form post that does not show where it came from.
local function get(path)
  return wrk.format("GET", path, { Cookie = "LumarestSession=" .. cookie, ["Sec-Fetch-Site"] = "same-origin" })
end

local function post(path, body)
  return wrk.format("POST", path, {
    Cookie = "LumarestSession=" .. cookie,
    ["Sec-Fetch-Site"] = "same-origin",
    ["Content-Type"] = "application/x-www-form-urlencoded",
  }, body)
end

local function braces(guid)
  return guid:gsub("{", "%%7B"):gsub("}", "%%7D")
end

-- 20 steps: 8 listings, 4 pages further on, 2 searches (one for a word, one
-- for this thread's own sent messages, which it then deletes), 4 views, 1
-- send, 1 delete.
local plan = { "list", "view", "page", "list", "search", "list", "view", "page", "list", "send",
               "list", "view", "page", "list", "mine", "delete", "list", "view", "page", "list" }

function request()
  step = step % #plan + 1
  kind = plan[step]
  if kind == "view" and #views == 0 then kind = "list" end
  if kind == "delete" and #mine == 0 then kind = "list" end
  if kind == "list" then
    return get("/HalvornSLV/Inbox.asp")
  elseif kind == "page" then
    return get("/HalvornSLV/Inbox.asp?Folder=&TopIndex=" .. (30 * math.random(1, 300)) .. "&Sort=" .. math.random(0, 5))
  elseif kind == "search" then
    return post("/HalvornSLV/Inbox.asp", "SearchType=" .. math.random(0, 2) .. "&SearchText=" .. words[math.random(#words)])
  elseif kind == "mine" then
    return post("/HalvornSLV/Inbox.asp", "SearchType=2&SearchText=soak-" .. id .. "-")
  elseif kind == "view" then
    return get("/HalvornSLV/ViewInboxMessage.asp?Guid=" .. braces(views[math.random(#views)]) .. "&TI=0&Folder=&Store=")
  elseif kind == "send" then
    sent = sent + 1
    return post("/HalvornSLV/ComposeMessage.asp", "IsCompose=true&Send=Send&TTo=" .. os.getenv("SOAK_ADDRESS") ..
                "&Subject=soak-" .. id .. "-" .. sent .. "&MessageText=Sent+by+the+soak+run.")
  else
    local guid = table.remove(mine)
    return get("/HalvornSLV/DeleteMessage.asp?Guid=" .. braces(guid))
  end
end

function response(status, headers, body)
  if status ~= 200 and status ~= 302 then
    if os.getenv("SOAK_DEBUG") then io.stderr:write(kind .. " " .. status .. "\n") end
    errors = errors + 1
    return
  end
  if kind == "send" then
    local location = headers["Location"] or ""
    if not location:find("Success=true", 1, true) then
      if os.getenv("SOAK_DEBUG") then io.stderr:write("send " .. location .. "\n") end
      errors = errors + 1
    end
  elseif kind == "list" or kind == "mine" then
    local found, generated, own = 0, {}, {}
    for row in body:gmatch("<tr class='Inbox.-</tr>") do
      local guid = row:match("Guid=({[^}]+})")
      if guid then
        found = found + 1
        if row:find("soak%-" .. id .. "%-") then
          table.insert(own, guid)
        elseif not row:find("soak-", 1, true) then
          table.insert(generated, guid)
        end
      end
    end
    if kind == "list" then
      if found == 0 then
        if os.getenv("SOAK_DEBUG") then io.stderr:write("list without rows\n") end
        errors = errors + 1
      end
      views = generated
    else
      mine = own
    end
  end
end

function done(summary, latency, requests)
  local total = 0
  for _, t in ipairs(threads) do
    total = total + t:get("errors")
  end
  io.write(string.format("soak-errors %d\n", total))
end
