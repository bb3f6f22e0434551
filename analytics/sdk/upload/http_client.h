#ifndef QUILLON_ANALYTICS_SDK_UPLOAD_HTTP_CLIENT_H_
#define QUILLON_ANALYTICS_SDK_UPLOAD_HTTP_CLIENT_H_

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace analytics {

// Header names to values, in byte order of the names.
using HttpHeaders = std::map<std::string, std::string>;

// The most response body kept per request; the rest is read and discarded.
constexpr size_t kMaxResponseBodyBytes = 4096;

struct HttpResponse {
  // The HTTP status code, or -1 when the request did not complete.
  int32_t status = -1;
  // The response body (its first kMaxResponseBodyBytes); for status -1 the
  // transport error text instead.
  std::string body;
  // True when the request was stopped by the abort flag.
  bool aborted = false;
  // Every response header line (see ParseHeaderLine).
  HttpHeaders headers;
};

// Stores one response header line as libcurl delivers it: "Name: value" is
// stored with name and value trimmed of white space (a later line with the
// same name wins); a line without a colon, such as the status line, is
// stored trimmed under its own text with the value "present"; a blank line
// is ignored.
void ParseHeaderLine(std::string_view line, HttpHeaders* headers);

// True when |url| begins with "http://" or "https://" (any letter case).
bool IsHttpUrl(const std::string& url);

// An HTTP client over libcurl handles of its own. Successive requests of one
// client reuse its connection to the server. Only the http and https
// schemes are used, for redirects too; any other URL fails without a
// request. One thread at a time.
class HttpClient {
 public:
  // Posts |body| to |base_url| + |url_or_path| with a fresh client and
  // returns the response. |timeout_seconds| bounds the whole exchange
  // (0 = no bound). Never throws for transport problems: they come back as
  // status -1 with libcurl's error text.
  static HttpResponse Post(const std::string& url_or_path,
                           const std::string& body, unsigned timeout_seconds,
                           const HttpHeaders& headers,
                           const std::string& base_url = std::string());

  // Throws std::runtime_error("Couldn't initialize curl handle") when libcurl
  // cannot make an easy handle.
  explicit HttpClient(std::string base_url = std::string());
  ~HttpClient();
  HttpClient(const HttpClient&) = delete;
  HttpClient& operator=(const HttpClient&) = delete;

  void SetTimeout(unsigned seconds) { timeout_ms_ = seconds * 1000L; }
  // Bounds the whole exchange in milliseconds (0 = no bound).
  void SetTimeoutMs(long milliseconds) { timeout_ms_ = milliseconds; }
  // While *|abort| is true no request starts and a running one stops within
  // about 50 ms, with status -1 and |aborted| set. Null: never.
  void SetAbortFlag(const std::atomic<bool>* abort) { abort_ = abort; }
  void SetHeaders(HttpHeaders headers) { headers_ = std::move(headers); }
  // The proxy of the following requests: a proxy URL, or "" for none.
  // Unset (the default), libcurl follows the proxy environment variables.
  void SetProxy(std::optional<std::string> proxy) { proxy_ = std::move(proxy); }

  // Performs one POST on this client's handle.
  HttpResponse PostBody(const std::string& path, const std::string& body);

  const std::string& base_url() const { return base_url_; }
  long timeout_ms() const { return timeout_ms_; }
  const HttpHeaders& headers() const { return headers_; }

 private:
  struct CurlDeleter {
    void operator()(void* handle) const;
  };
  struct MultiDeleter {
    void operator()(void* handle) const;
  };

  // Runs the prepared easy handle on the multi handle; a CURLcode.
  int Perform();

  std::unique_ptr<void, CurlDeleter> handle_;
  // Holds the connection between requests.
  std::unique_ptr<void, MultiDeleter> multi_;
  std::string base_url_;
  HttpHeaders headers_;
  std::optional<std::string> proxy_;
  long timeout_ms_ = 0;
  const std::atomic<bool>* abort_ = nullptr;
};

}  // namespace analytics

#endif  // QUILLON_ANALYTICS_SDK_UPLOAD_HTTP_CLIENT_H_
