// The user's proxy settings as Windows keeps them, read through WinHTTP.
#include <windows.h>
#include <winhttp.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <iostream>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>

#include "analytics/sdk/upload/proxy_choice.h"
#include "platform/wide_text.h"

namespace analytics {

namespace {

using Clock = std::chrono::steady_clock;

// How often a wait for the system's answer looks at the stop flag.
constexpr std::chrono::milliseconds kStopCheck(50);

// Text WinHTTP hands over, which the caller frees with GlobalFree.
struct GlobalFreer {
  void operator()(wchar_t* text) const { GlobalFree(text); }
};
using GlobalText = std::unique_ptr<wchar_t, GlobalFreer>;

template <typename Function>
Function Lookup(HMODULE module, const char* name) {
  return reinterpret_cast<Function>(
      reinterpret_cast<void (*)()>(GetProcAddress(module, name)));
}

// winhttp.dll with the functions used here and one session for resolving
// addresses. It is loaded from the system folder at the first resolution
// instead of imported, so that starting the program does not pay for it.
class WinHttp {
 public:
  // Null when it cannot be loaded; |error| then holds why.
  static std::shared_ptr<WinHttp> Load(DWORD* error) {
    HMODULE module =
        LoadLibraryExW(L"winhttp.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (module == nullptr) {
      *error = GetLastError();
      return nullptr;
    }
    std::shared_ptr<WinHttp> winhttp(new WinHttp(module));
    if (!winhttp->get_user_config || !winhttp->get_proxy_for_url ||
        !winhttp->close_handle_ || !winhttp->session_) {
      *error = GetLastError();
      return nullptr;
    }
    return winhttp;
  }

  ~WinHttp() {
    if (session_ != nullptr) close_handle_(session_);
    FreeLibrary(module_);
  }
  WinHttp(const WinHttp&) = delete;
  WinHttp& operator=(const WinHttp&) = delete;

  HINTERNET session() const { return session_; }

  decltype(&::WinHttpGetIEProxyConfigForCurrentUser) get_user_config;
  decltype(&::WinHttpGetProxyForUrl) get_proxy_for_url;

 private:
  explicit WinHttp(HMODULE module)
      : get_user_config(
            Lookup<decltype(&::WinHttpGetIEProxyConfigForCurrentUser)>(
                module, "WinHttpGetIEProxyConfigForCurrentUser")),
        get_proxy_for_url(Lookup<decltype(&::WinHttpGetProxyForUrl)>(
            module, "WinHttpGetProxyForUrl")),
        module_(module),
        close_handle_(Lookup<decltype(&::WinHttpCloseHandle)>(
            module, "WinHttpCloseHandle")) {
    const auto open = Lookup<decltype(&::WinHttpOpen)>(module, "WinHttpOpen");
    if (open != nullptr) {
      session_ = open(L"quillon_pc", WINHTTP_ACCESS_TYPE_NO_PROXY,
                      WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0);
    }
  }

  HMODULE module_;
  decltype(&::WinHttpCloseHandle) close_handle_;
  HINTERNET session_ = nullptr;
};

// One resolution by the system, shared between the thread that runs it and
// the one that waits for it (which may stop waiting first).
struct PendingAnswer {
  std::mutex mutex;
  std::condition_variable ready;
  bool done = false;            // guarded by mutex
  AutoProxyAnswer answer;       // guarded by mutex
  DWORD error = ERROR_SUCCESS;  // guarded by mutex
};

AutoProxyAnswer AskForUrl(const WinHttp& winhttp, const std::wstring& url,
                          const std::wstring& script, bool detect,
                          DWORD* error) {
  WINHTTP_AUTOPROXY_OPTIONS options = {};
  if (detect) {
    options.dwFlags |= WINHTTP_AUTOPROXY_AUTO_DETECT;
    options.dwAutoDetectFlags =
        WINHTTP_AUTO_DETECT_TYPE_DHCP | WINHTTP_AUTO_DETECT_TYPE_DNS_A;
  }
  if (!script.empty()) {
    options.dwFlags |= WINHTTP_AUTOPROXY_CONFIG_URL;
    options.lpszAutoConfigUrl = script.c_str();
  }
  // A script on an intranet server may ask for the user's logon.
  options.fAutoLogonIfChallenged = TRUE;
  WINHTTP_PROXY_INFO info = {};
  AutoProxyAnswer answer;
  if (!winhttp.get_proxy_for_url(winhttp.session(), url.c_str(), &options,
                                 &info)) {
    *error = GetLastError();
    return answer;
  }
  const GlobalText proxy(info.lpszProxy);
  const GlobalText bypass(info.lpszProxyBypass);
  answer.proxy_list = platform::Utf8FromWide(proxy.get());
  answer.bypass_list = platform::Utf8FromWide(bypass.get());
  answer.kind = info.dwAccessType == WINHTTP_ACCESS_TYPE_NAMED_PROXY &&
                        !answer.proxy_list.empty()
                    ? AutoProxyAnswer::Kind::kProxy
                    : AutoProxyAnswer::Kind::kDirect;
  return answer;
}

class SystemProxySource : public ProxySource {
 public:
  std::string Environment(const char* name) override {
    // As libcurl reads it on Windows.
    const DWORD size = GetEnvironmentVariableA(name, nullptr, 0);
    if (size <= 1) return std::string();
    std::string value(size, '\0');
    const DWORD length = GetEnvironmentVariableA(name, value.data(), size);
    value.resize(length < size ? length : 0);
    return value;
  }

  std::optional<UserProxySettings> UserSettings() override;
  AutoProxyAnswer Resolve(const std::string& url,
                          const UserProxySettings& settings, long wait_ms,
                          const std::atomic<bool>* stop) override;

 private:
  bool EnsureLoaded();

  bool load_tried_ = false;
  // Kept for the process: loading it again each flush would cost each time,
  // and its session keeps what the system learnt by detection.
  std::shared_ptr<WinHttp> winhttp_;
};

bool SystemProxySource::EnsureLoaded() {
  if (load_tried_) return winhttp_ != nullptr;
  load_tried_ = true;
  DWORD error = ERROR_SUCCESS;
  winhttp_ = WinHttp::Load(&error);
  if (!winhttp_) {
    std::cerr << "Analytics SDK cannot read the proxy settings: winhttp.dll "
                 "is not usable (error "
              << error << "); uploads go direct" << std::endl;
  }
  return winhttp_ != nullptr;
}

std::optional<UserProxySettings> SystemProxySource::UserSettings() {
  if (!EnsureLoaded()) return std::nullopt;
  WINHTTP_CURRENT_USER_IE_PROXY_CONFIG config = {};
  if (!winhttp_->get_user_config(&config)) {
    const DWORD error = GetLastError();
    // A user who never had settings: nothing to follow.
    if (error == ERROR_FILE_NOT_FOUND) return UserProxySettings{};
    std::cerr << "Analytics SDK cannot read the proxy settings (error " << error
              << "); uploads go direct" << std::endl;
    return std::nullopt;
  }
  const GlobalText script(config.lpszAutoConfigUrl);
  const GlobalText proxy(config.lpszProxy);
  const GlobalText bypass(config.lpszProxyBypass);
  UserProxySettings settings;
  settings.auto_detect = config.fAutoDetect != FALSE;
  settings.script_url = platform::Utf8FromWide(script.get());
  settings.proxy_list = platform::Utf8FromWide(proxy.get());
  settings.bypass_list = platform::Utf8FromWide(bypass.get());
  return settings;
}

// Detection or a script may take seconds (a script download, the lookups of
// detection), so the system works on a thread of its own while this one
// waits no longer than allowed and not past a stop: closing the window
// must not wait for the network. A late answer is dropped.
AutoProxyAnswer SystemProxySource::Resolve(const std::string& url,
                                           const UserProxySettings& settings,
                                           long wait_ms,
                                           const std::atomic<bool>* stop) {
  if (!EnsureLoaded()) return AutoProxyAnswer{};
  auto pending = std::make_shared<PendingAnswer>();
  try {
    std::thread([winhttp = winhttp_, pending,
                 wide_url = platform::WideFromUtf8(url),
                 script = platform::WideFromUtf8(settings.script_url),
                 detect = settings.auto_detect] {
      DWORD error = ERROR_SUCCESS;
      AutoProxyAnswer answer;
      try {
        answer = AskForUrl(*winhttp, wide_url, script, detect, &error);
      } catch (const std::exception&) {
        answer = AutoProxyAnswer{};
      }
      const std::lock_guard<std::mutex> lock(pending->mutex);
      pending->answer = std::move(answer);
      pending->error = error;
      pending->done = true;
      pending->ready.notify_all();
    }).detach();
  } catch (const std::exception& error) {
    std::cerr << "Analytics SDK cannot resolve the proxy: " << error.what()
              << std::endl;
    return AutoProxyAnswer{};
  }
  const Clock::time_point until =
      Clock::now() + std::chrono::milliseconds(wait_ms);
  std::unique_lock<std::mutex> lock(pending->mutex);
  while (!pending->done && (stop == nullptr || !*stop) &&
         Clock::now() < until) {
    pending->ready.wait_until(lock, std::min(until, Clock::now() + kStopCheck));
  }
  if (!pending->done) {
    if (stop == nullptr || !*stop) {
      std::cerr << "Analytics SDK proxy detection gave no answer within "
                << wait_ms << " ms; this flush goes without it" << std::endl;
    }
    return AutoProxyAnswer{};
  }
  if (pending->error != ERROR_SUCCESS && !settings.script_url.empty()) {
    std::cerr << "Analytics SDK cannot use the proxy configuration script "
              << settings.script_url << " (error " << pending->error << ")"
              << std::endl;
  }
  return pending->answer;
}

}  // namespace

std::unique_ptr<ProxySource> MakeSystemProxySource() {
  return std::make_unique<SystemProxySource>();
}

}  // namespace analytics
