#include "analytics/sdk/upload/http_client.h"

#include <curl/curl.h>

#include <algorithm>
#include <cctype>
#include <climits>
#include <iostream>
#include <stdexcept>
#include <utility>

namespace analytics {

namespace {

// libcurl's global set-up is not thread-safe when curl_easy_init does it
// implicitly; a function-local static runs it exactly once, safely, before
// the first handle. It is never undone: the SDK lives until the process
// ends, and a cleanup at exit could race with late uploads from other
// static objects.
void EnsureCurlGlobalInit() {
  static const CURLcode init_result = curl_global_init(CURL_GLOBAL_DEFAULT);
  (void)init_result;
}

constexpr char kWhitespace[] = " \t\r\n\f\v";

std::string_view Trim(std::string_view text) {
  const size_t first = text.find_first_not_of(kWhitespace);
  if (first == std::string_view::npos) return std::string_view();
  const size_t last = text.find_last_not_of(kWhitespace);
  return text.substr(first, last - first + 1);
}

// libcurl calls these from C; no exception may escape. Returning a count
// other than the one given makes libcurl abort the transfer with an error.
// Keeps the first kMaxResponseBodyBytes of the body: enough for the log
// line; an endless body costs no memory.
size_t AppendBody(char* data, size_t size, size_t count, void* user) {
  const size_t bytes = size * count;
  auto* body = static_cast<std::string*>(user);
  try {
    if (body->size() < kMaxResponseBodyBytes) {
      body->append(data, std::min(bytes, kMaxResponseBodyBytes - body->size()));
    }
  } catch (...) {
    return 0;
  }
  return bytes;
}

// Headers count too: a server must not grow them without bound.
constexpr size_t kMaxHeaderLines = 200;

// libcurl refuses every scheme but these, redirects included.
void RestrictToHttp(CURL* curl) {
#if LIBCURL_VERSION_NUM >= 0x075500
  curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(curl, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
#else
  curl_easy_setopt(curl, CURLOPT_PROTOCOLS, CURLPROTO_HTTP | CURLPROTO_HTTPS);
  curl_easy_setopt(curl, CURLOPT_REDIR_PROTOCOLS,
                   CURLPROTO_HTTP | CURLPROTO_HTTPS);
#endif
}

size_t CollectHeader(char* data, size_t size, size_t count, void* user) {
  const size_t bytes = size * count;
  try {
    if (static_cast<HttpHeaders*>(user)->size() >= kMaxHeaderLines) {
      return bytes;
    }
    ParseHeaderLine(std::string_view(data, bytes),
                    static_cast<HttpHeaders*>(user));
  } catch (...) {
    return 0;
  }
  return bytes;
}

// Frees a request header list on every path.
class HeaderList {
 public:
  HeaderList() = default;
  ~HeaderList() { curl_slist_free_all(list_); }
  HeaderList(const HeaderList&) = delete;
  HeaderList& operator=(const HeaderList&) = delete;

  bool Append(const std::string& line) {
    curl_slist* grown = curl_slist_append(list_, line.c_str());
    if (grown == nullptr) return false;
    list_ = grown;
    return true;
  }
  curl_slist* get() const { return list_; }

 private:
  curl_slist* list_ = nullptr;
};

}  // namespace

bool IsHttpUrl(const std::string& url) {
  std::string scheme;
  for (const char c : url.substr(0, 8)) {
    scheme.push_back(
        static_cast<char>(std::tolower(static_cast<unsigned char>(c))));
  }
  return scheme.rfind("http://", 0) == 0 || scheme.rfind("https://", 0) == 0;
}

void ParseHeaderLine(std::string_view line, HttpHeaders* headers) {
  const size_t colon = line.find(':');
  if (colon != std::string_view::npos) {
    (*headers)[std::string(Trim(line.substr(0, colon)))] =
        std::string(Trim(line.substr(colon + 1)));
    return;
  }
  const std::string_view name = Trim(line);
  if (!name.empty()) (*headers)[std::string(name)] = "present";
}

void HttpClient::CurlDeleter::operator()(void* handle) const {
  curl_easy_cleanup(static_cast<CURL*>(handle));
}

void HttpClient::MultiDeleter::operator()(void* handle) const {
  curl_multi_cleanup(static_cast<CURLM*>(handle));
}

HttpClient::HttpClient(std::string base_url) : base_url_(std::move(base_url)) {
  EnsureCurlGlobalInit();
  handle_.reset(curl_easy_init());
  multi_.reset(curl_multi_init());
  if (!handle_ || !multi_) {
    throw std::runtime_error("Couldn't initialize curl handle");
  }
}

HttpClient::~HttpClient() = default;

HttpResponse HttpClient::Post(const std::string& url_or_path,
                              const std::string& body, unsigned timeout_seconds,
                              const HttpHeaders& headers,
                              const std::string& base_url) {
  try {
    HttpClient client(base_url);
    client.SetTimeout(timeout_seconds);
    client.SetHeaders(headers);
    return client.PostBody(url_or_path, body);
  } catch (const std::runtime_error& error) {
    std::cerr << error.what() << std::endl;
    HttpResponse response;
    response.status = -1;
    response.body = error.what();
    return response;
  }
}

HttpResponse HttpClient::PostBody(const std::string& path,
                                  const std::string& body) {
  CURL* curl = handle_.get();
  HttpResponse response;
  response.body.reserve(kMaxResponseBodyBytes);

  curl_easy_setopt(curl, CURLOPT_POST, 1L);
  curl_easy_setopt(curl, CURLOPT_POSTFIELDS, body.data());
  // A long is 32 bits on Windows; larger bodies need the wide option.
  if (body.size() <= static_cast<size_t>(LONG_MAX)) {
    curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE,
                     static_cast<long>(body.size()));
  } else {
    curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE_LARGE,
                     static_cast<curl_off_t>(body.size()));
  }

  const std::string url = base_url_ + path;
  curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, AppendBody);
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, &response.body);
  curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, CollectHeader);
  curl_easy_setopt(curl, CURLOPT_HEADERDATA, &response.headers);

  HeaderList request_headers;
  CURLcode code = CURLE_OK;
  for (const auto& [name, value] : headers_) {
    if (!request_headers.Append(name + ": " + value)) {
      code = CURLE_OUT_OF_MEMORY;
      break;
    }
  }
  curl_easy_setopt(curl, CURLOPT_HTTPHEADER, request_headers.get());
  if (timeout_ms_ > 0) curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, timeout_ms_);
  curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
  RestrictToHttp(curl);
  if (proxy_) curl_easy_setopt(curl, CURLOPT_PROXY, proxy_->c_str());

  if (!IsHttpUrl(url)) {
    curl_easy_reset(curl);
    response.body = "only http and https server addresses are used: " + url;
    return response;
  }
  if (code == CURLE_OK) code = static_cast<CURLcode>(Perform());
  if (code == CURLE_ABORTED_BY_CALLBACK) {
    response.status = -1;
    response.aborted = true;
    response.body = "upload stopped: the program is closing";
  } else if (code != CURLE_OK) {
    response.status = -1;
    response.body = curl_easy_strerror(code);
  } else {
    long status = 0;
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
    response.status = static_cast<int32_t>(status);
  }

  // Drop every pointer into this call's locals before they go away; the
  // connection stays open for the next request.
  curl_easy_reset(curl);
  return response;
}

int HttpClient::Perform() {
  CURL* curl = handle_.get();
  CURLM* multi = multi_.get();
  if (abort_ != nullptr && *abort_) return CURLE_ABORTED_BY_CALLBACK;
  if (curl_multi_add_handle(multi, curl) != CURLM_OK) {
    return CURLE_FAILED_INIT;
  }
  CURLcode code = CURLE_OK;
  for (;;) {
    int running = 0;
    if (curl_multi_perform(multi, &running) != CURLM_OK) {
      code = CURLE_FAILED_INIT;
      break;
    }
    if (running == 0) {
      int left = 0;
      CURLMsg* message = curl_multi_info_read(multi, &left);
      code = message != nullptr && message->msg == CURLMSG_DONE
                 ? message->data.result
                 : CURLE_FAILED_INIT;
      break;
    }
    if (abort_ != nullptr && *abort_) {
      code = CURLE_ABORTED_BY_CALLBACK;
      break;
    }
    // Short waits keep a stop request answered quickly.
    curl_multi_poll(multi, nullptr, 0, 50, nullptr);
  }
  curl_multi_remove_handle(multi, curl);
  return code;
}

}  // namespace analytics
