#ifndef QUILLON_ANALYTICS_SDK_UPLOAD_PROXY_CHOICE_H_
#define QUILLON_ANALYTICS_SDK_UPLOAD_PROXY_CHOICE_H_

#include <atomic>
#include <memory>
#include <optional>
#include <string>

namespace analytics {

// What the user's system settings say about proxies (UTF-8 text).
struct UserProxySettings {
  bool auto_detect = false;
  std::string script_url;  // automatic configuration script, if any
  // Manual proxies: "host:port", a list of them, or per scheme
  // ("http=host:port;https=host:port"); empty when none is enabled.
  std::string proxy_list;
  // Hosts reached directly: "*" wildcards, "<local>" for dotless names.
  std::string bypass_list;
};

// The system's answer for one address from automatic detection or a script.
struct AutoProxyAnswer {
  enum class Kind { kUnresolved, kDirect, kProxy };
  Kind kind = Kind::kUnresolved;
  std::string proxy_list;
  std::string bypass_list;
};

// Where the system's proxy answers come from; the SDK's own is the
// operating system's, tests put their answers in its place.
class ProxySource {
 public:
  virtual ~ProxySource() = default;
  // The environment variable |name| as libcurl reads it; empty when unset.
  virtual std::string Environment(const char* name) = 0;
  // The user's settings; nullopt when they cannot be read (said why).
  virtual std::optional<UserProxySettings> UserSettings() = 0;
  // Resolves |url| by detection and/or the script of |settings|, waiting at
  // most |wait_ms| and not past *|stop| turning true.
  virtual AutoProxyAnswer Resolve(const std::string& url,
                                  const UserProxySettings& settings,
                                  long wait_ms,
                                  const std::atomic<bool>* stop) = 0;
};

// The road an upload takes to the server.
struct ProxyChoice {
  enum class Road {
    kLibcurl,  // proxy environment variables apply: libcurl follows them
    kDirect,   // no proxy
    kProxy,    // through proxy_url
  };
  Road road = Road::kDirect;
  std::string proxy_url;  // kProxy: "http://host:port"
  // The proxy as log lines name it ("host:port", never credentials); empty
  // when the upload goes direct.
  std::string shown;
  // A proxy address that was not used because it is not an http proxy
  // (credentials removed); the upload then goes direct.
  std::string refused;
};

// Chooses the road to |url|: the proxy environment variables libcurl honours
// when any applies to |url|; otherwise the user's settings: detection or a
// script resolved for |url|, then the manual proxies with their bypass list;
// otherwise direct. Only http proxies are used.
ProxyChoice ChooseProxy(const std::string& url, ProxySource& source,
                        long wait_ms, const std::atomic<bool>* stop);

// The proxy of a list like "host:port" or "http=h:p;https=h:p;socks=h:p"
// used for |scheme| ("http" or "https"): the scheme's own entry, else the
// first entry for every scheme, else a socks entry (as "socks=..."). Empty
// when none applies.
std::string ProxyForScheme(const std::string& list, const std::string& scheme);

// True when the server of |url| matches an entry of a Windows bypass list
// ("*" wildcards, optional scheme and port, "<local>" for dotless names).
// Loopback addresses and "localhost" match too unless the list holds
// "<-loopback>", as on Windows.
bool BypassMatches(const std::string& bypass_list, const std::string& url);

// "host:port" of a proxy address, without scheme, credentials or path.
std::string ProxyShownName(const std::string& address);

// The operating system's proxy settings: the user's Windows settings, or
// elsewhere the proxy environment variables alone.
std::unique_ptr<ProxySource> MakeSystemProxySource();

}  // namespace analytics

#endif  // QUILLON_ANALYTICS_SDK_UPLOAD_PROXY_CHOICE_H_
