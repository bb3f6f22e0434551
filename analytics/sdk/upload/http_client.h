#ifndef ANALYTICS_SDK_UPLOAD_HTTP_CLIENT_H_
#define ANALYTICS_SDK_UPLOAD_HTTP_CLIENT_H_

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>

namespace analytics {

// Header names to values, in byte order of the names.
using HttpHeaders = std::map<std::string, std::string>;

struct HttpResponse {
  // The HTTP status code, or -1 when the request did not complete.
  int32_t status = -1;
  // The response body; for status -1 the transport error text instead.
  std::string body;
  // Every response header line (see ParseHeaderLine).
  HttpHeaders headers;
};

// Stores one response header line as libcurl delivers it: "Name: value" is
// stored with name and value trimmed of white space (a later line with the
// same name wins); a line without a colon, such as the status line, is
// stored trimmed under its own text with the value "present"; a blank line
// is ignored.
void ParseHeaderLine(std::string_view line, HttpHeaders* headers);

// A one-request HTTP client over a libcurl easy handle of its own. Make one
// per request; it releases the handle when destroyed.
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

  void SetTimeout(unsigned seconds) { timeout_seconds_ = seconds; }
  void SetHeaders(HttpHeaders headers) { headers_ = std::move(headers); }

  // Performs one POST on this client's handle.
  HttpResponse PostBody(const std::string& path, const std::string& body);

  const std::string& base_url() const { return base_url_; }
  unsigned timeout_seconds() const { return timeout_seconds_; }
  const HttpHeaders& headers() const { return headers_; }

 private:
  struct CurlDeleter {
    void operator()(void* handle) const;
  };

  std::unique_ptr<void, CurlDeleter> handle_;
  std::string base_url_;
  HttpHeaders headers_;
  unsigned timeout_seconds_ = 0;
};

}  // namespace analytics

#endif  // ANALYTICS_SDK_UPLOAD_HTTP_CLIENT_H_
