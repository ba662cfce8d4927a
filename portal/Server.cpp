#include "portal/Server.h"

#include <httplib.h>

#include <algorithm>
#include <chrono>
#include <ctime>
#include <fstream>
#include <iostream>
#include <thread>

#include "platform/Registry.h"
#include "platform/Text.h"
#include "portal/ComClasses.h"
#include "portal/Connections.h"
#include "portal/Health.h"
#include "portal/Pages.h"
#include "portal/TraceDriver.h"
#include "portal/Util.h"

namespace portal {

namespace fs = std::filesystem;

namespace {
std::string TimeStamp() {
  auto now = std::chrono::system_clock::now();
  std::time_t t = std::chrono::system_clock::to_time_t(now);
  std::tm tm{};
  gmtime_r(&t, &tm);
  char buf[32];
  std::strftime(buf, sizeof buf, "%Y-%m-%dT%H:%M:%SZ", &tm);
  return buf;
}

// A site file by its path under the site folder, matched without regard to
// case ("Gifs/Previous.gif" is "gifs/previous.gif").
fs::path FindSiteFile(const fs::path& site, const std::string& relative) {
  fs::path current = site;
  for (const auto& part : Split(relative, '/')) {
    if (part.empty() || part == "." || part == "..") return {};
    fs::path exact = current / part;
    std::error_code ec;
    if (fs::exists(exact, ec)) {
      current = exact;
      continue;
    }
    fs::path found;
    for (const auto& e : fs::directory_iterator(current, ec))
      if (EqualsNoCaseAscii(e.path().filename().string(), part)) {
        found = e.path();
        break;
      }
    if (found.empty()) return {};
    current = found;
  }
  std::error_code ec;
  return fs::is_regular_file(current, ec) ? current : fs::path();
}

// Control characters (and the backslash that escapes them) as \xNN: a value
// with a line feed cannot start a line of its own in a log.
std::string EscapeControls(const std::string& line) {
  std::string out;
  out.reserve(line.size());
  for (unsigned char c : line) {
    if (c < 0x20 || c == 0x7F || c == '\\') {
      static const char hex[] = "0123456789abcdef";
      out += "\\x";
      out.push_back(hex[c >> 4]);
      out.push_back(hex[c & 15]);
    } else {
      out.push_back(static_cast<char>(c));
    }
  }
  return out;
}

int IniInt(const Config& c, const char* key, int fallback) {
  try {
    return std::stoi(c.ini.Get("portal", key, std::to_string(fallback)));
  } catch (const std::exception&) {
    return fallback;
  }
}
}  // namespace

Portal::Portal(PortalOptions options)
    : options_(std::move(options)),
      config_((fs::create_directories(options_.dataDir), Config::Load(options_.dataDir))),
      accounts_(options_.dataDir),
      hashSlots_(std::clamp(IniInt(config_, "password_hash_slots",
                                   std::max(1, static_cast<int>(std::thread::hardware_concurrency()) / 2)),
                            1, 64)) {
  if (options_.sourceDir.empty()) options_.sourceDir = LUMAREST_PORTAL_SOURCE_DIR;
  if (options_.modulePath.empty()) {
    const char* env = std::getenv("LUMAREST_MODULE");
    options_.modulePath = env && *env ? env : LUMAREST_MODULE_DEFAULT;
  }
  if (!options_.listen.empty()) config_.listen = options_.listen;
  fs::create_directories(options_.dataDir / "logs");
  sessions_ = MakeSessionStore(config_.redis, std::chrono::minutes(config_.sessionIdleMinutes));
  PrepareInstall();
  RegisterHostClasses();
  // The trace driver goes in before the module loads: the module opens its
  // trace channel when it starts.
  trace_ = InstallTraceDriver(options_.dataDir, ParseBool(config_.ini.Get("trace", "enabled"), false),
                              static_cast<std::uint32_t>(std::stoul(config_.ini.Get("trace", "classes", "0x3"), nullptr, 0)),
                              static_cast<std::uint8_t>(std::stoul(config_.ini.Get("trace", "level", "1"))));
  if (options_.registerModule) RegisterComponentModule(options_.modulePath);

  ConnectionLimits limits;
  limits.headerDeadline = std::chrono::seconds(std::max(1, IniInt(config_, "header_timeout_seconds", 10)));
  limits.keepAliveIdle = std::chrono::seconds(std::max(1, IniInt(config_, "keep_alive_seconds", 5)));
  limits.perAddress = static_cast<std::size_t>(std::max(1, IniInt(config_, "max_connections_per_address", 32)));
  limits.total = static_cast<std::size_t>(std::max(1, IniInt(config_, "max_connections", 1024)));
  pageSlots_ = std::make_unique<FairSlots>(std::clamp(IniInt(config_, "page_workers", 8), 1, 1024));
  server_ = std::make_unique<PortalServer>(limits);
  server_->set_payload_max_length(config_.maxRequestBytes);
  server_->set_read_timeout(15, 0);
  server_->set_write_timeout(30, 0);
  server_->set_keep_alive_max_count(1000);
  // Answers go out in several writes; without this, delayed acknowledgements
  // hold each answer back by tens of milliseconds.
  server_->set_tcp_nodelay(true);
  auto handler = [this](const httplib::Request& req, httplib::Response& res) { Route(req, res); };
  server_->Get(".*", handler);
  server_->Post(".*", handler);
  server_->set_logger([this](const httplib::Request& req, const httplib::Response& res) {
    Log(req.remote_addr + " " + req.method + " " + req.path + " " + std::to_string(res.status) + " " +
        std::to_string(res.body.size()));
  });
  server_->set_error_handler([](const httplib::Request&, httplib::Response& res) {
    // Pages write their own error answers; fill in only what is still empty.
    if (!res.body.empty()) return;
    if (res.status == 413)
      res.set_content("<p>The request is larger than this site accepts.</p>", "text/html");
    else
      res.set_content("<p>Error " + std::to_string(res.status) + "</p>", "text/html");
  });
}

Portal::~Portal() { Stop(); }

fs::path Portal::SiteDir() const { return options_.sourceDir / "site"; }
fs::path Portal::InstallDir() const { return options_.dataDir / "install"; }

void Portal::PrepareInstall() {
  // The registry lives in the data folder; the component finds its
  // satellites through the install folder it names.
  platform::SetRegistryPath((options_.dataDir / "registry.reg").string());
  platform::ReloadRegistry();
  fs::path bin = InstallDir() / "Bin";
  fs::create_directories(bin);
  std::error_code ec;
  for (const auto& e : fs::directory_iterator(options_.sourceDir / "satellites", ec))
    if (e.path().extension() == ".strings")
      fs::copy_file(e.path(), bin / e.path().filename(), fs::copy_options::overwrite_existing, ec);
  std::string install = InstallDir().string() + "/";
  platform::RegWriteText(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Halvorn\\TALQ", u"Install",
                         platform::U16(install));
  std::u16string lang;
  if (!platform::RegReadText(HKEY_LOCAL_MACHINE, u"Software\\Halvorn\\MUI", u"TALQ_DefaultLanguage", lang))
    platform::RegWriteText(HKEY_LOCAL_MACHINE, u"Software\\Halvorn\\MUI", u"TALQ_DefaultLanguage", u"en");
}

int Portal::Bind() {
  auto colon = config_.listen.rfind(':');
  host_ = colon == std::string::npos ? "127.0.0.1" : config_.listen.substr(0, colon);
  int port = colon == std::string::npos ? 8080 : std::stoi(config_.listen.substr(colon + 1));
  if (port == 0)
    port_ = server_->bind_to_any_port(host_.c_str());
  else
    port_ = server_->bind_to_port(host_.c_str(), port) ? port : -1;
  if (port_ <= 0) throw std::runtime_error("cannot listen on " + config_.listen);
  static_cast<PortalServer&>(*server_).WidenBacklog();
  return port_;
}

void Portal::Run() { server_->listen_after_bind(); }

void Portal::Stop() {
  if (server_) server_->stop();
}

void Portal::Log(const std::string& line) {
  std::lock_guard lock(logMutex_);
  std::ostream& out = options_.log ? *options_.log : std::cerr;
  out << TimeStamp() << " " << EscapeControls(line) << "\n";
  out.flush();
}

void Portal::Report(const std::string& line) {
  std::lock_guard lock(reportMutex_);
  std::ofstream out(options_.dataDir / "logs" / "reports.log", std::ios::app);
  out << TimeStamp() << " " << EscapeControls(line) << "\n";
}

void Portal::Route(const httplib::Request& req, httplib::Response& res) {
  const std::string& path = req.path;
  static const std::string prefix = "/halvornslv/";
  std::string lower = ToLowerAscii(path);
  if (lower == "/healthz") {
    AnswerHealth(*this, res);
    return;
  }
  if (lower == "/" || lower == "/halvornslv" || lower == "/halvornslv/") {
    res.status = 302;
    res.set_header("Location", "/HalvornSLV/Inbox.asp");
    return;
  }
  if (lower.rfind(prefix, 0) != 0) {
    res.status = 404;
    res.set_content("<p>Not found.</p>", "text/html");
    return;
  }
  std::string rest = path.substr(prefix.size());
  std::string restLower = lower.substr(prefix.size());
  if (restLower.find('/') == std::string::npos) {
    PageEnv env{*this, req, res, restLower, {}, {}, std::nullopt, nullptr};
    auto q = req.target.find('?');
    if (q != std::string::npos)
      for (auto& [k, v] : ParseUrlEncoded(req.target.substr(q + 1)))
        env.query.emplace_back(platform::U16(k), platform::U16(v));
    if (req.method == "POST") {
      if (req.is_multipart_form_data()) {
        for (const auto& [name, part] : req.files)
          if (part.filename.empty()) env.form.emplace_back(platform::U16(name), platform::U16(part.content));
      } else {
        for (auto& [k, v] : ParseUrlEncoded(req.body))
          env.form.emplace_back(platform::U16(k), platform::U16(v));
      }
      if (env.form.size() > 2000) {
        res.status = 413;
        return;
      }
    }
    // Sign-in waits for a password-hashing slot instead; every other page
    // runs in one of the page slots.
    struct Slot {
      FairSlots* slots;
      ~Slot() {
        if (slots) slots->Release();
      }
    } slot{restLower == "login.asp" && req.method == "POST" ? nullptr : pageSlots_.get()};
    if (slot.slots) slot.slots->Acquire();
    try {
      if (ServePage(env)) return;
    } catch (const SessionsUnavailable&) {
      // Never "signed out" when the session store is down: say what it is.
      Report("sessions are unavailable: " + req.path);
      res = httplib::Response{};
      res.status = 503;
      res.set_header("Retry-After", "30");
      res.set_header("Cache-Control", "no-store");
      res.set_content("<!DOCTYPE html>\r\n<html><head><meta charset=\"utf-8\"><title>Sessions are unavailable - LumarestInbox</title>"
                      "<link rel=\"stylesheet\" type=\"text/css\" href=\"/HalvornSLV/Inc/Stylesheet.css\"></head>\r\n"
                      "<body class=\"PortalBody\"><p class=\"PortalMessage\" id=\"SessionsUnavailable\">"
                      "Sessions are unavailable at the moment, so nobody can sign in or stay signed in. "
                      "Your mail is safe; please try again in a few minutes.</p></body></html>\r\n",
                      "text/html; charset=utf-8");
      return;
    }
  } else if (req.method == "GET") {
    fs::path file = FindSiteFile(SiteDir(), rest);
    std::string data;
    if (!file.empty() && ReadFile(file, data)) {
      res.set_header("Cache-Control", "public, max-age=3600");
      res.set_header("X-Content-Type-Options", "nosniff");
      // Type icons keep the names the component asks for; answer their real type.
      std::string type = data.rfind("GIF8", 0) == 0 ? "image/gif" : ContentTypeFor(file);
      res.set_content(data, type);
      return;
    }
  }
  res.status = 404;
  res.set_content("<p>Not found.</p>", "text/html");
}

}  // namespace portal
