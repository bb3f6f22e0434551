#ifndef QUILLON_ANALYTICS_SDK_UPLOAD_HTTP_SENDER_H_
#define QUILLON_ANALYTICS_SDK_UPLOAD_HTTP_SENDER_H_

#include <atomic>
#include <memory>
#include <optional>
#include <string>

#include "analytics/sdk/upload/proxy_choice.h"

namespace analytics {

class HttpClient;

// What became of one upload.
enum class UploadOutcome {
  kAccepted,  // 2xx: stored
  kRetry,     // a network failure, 408, 429 or 5xx: worth another try
  kRefused,   // 400, 413, 422: the server refuses the content
  // Any other answer (401, 403, 404, 3xx, ...): the server refuses the
  // request itself (a wrong address, an expired key); nothing is worth
  // sending until that changes.
  kEndpointRefused,
  kFailed,   // no request was possible (encoding, scheme); retrying is futile
  kAborted,  // stopped by the abort flag
};

struct UploadResult {
  UploadOutcome outcome = UploadOutcome::kFailed;
  int status = -1;
  std::string body;  // the server's answer (at most a few KiB) or the error
};

// Posts batches of analytics records to the collection server. One sender is
// made at initialisation and kept by the staging store; its batches go over
// one connection, which stays open between them. One thread at a time.
class HttpSender {
 public:
  // |server_url| is used exactly as given; an empty URL or one of another
  // scheme than http or https makes every send fail. |proxy_source| gives
  // the proxy settings to follow; without one libcurl's own handling of the
  // proxy environment variables stays.
  explicit HttpSender(
      std::string server_url,
      std::unique_ptr<ProxySource> proxy_source = MakeSystemProxySource());
  ~HttpSender();
  HttpSender(const HttpSender&) = delete;
  HttpSender& operator=(const HttpSender&) = delete;

  // Chooses the road to the server (see ChooseProxy) for the sends that
  // follow, waiting at most |wait_ms| for the system's answer and not past
  // *|stop| turning true. A proxy that is not an http proxy is refused with
  // a line on std::cerr.
  void ChooseRoad(long wait_ms, const std::atomic<bool>* stop);

  // Compresses and encodes |batch_text| (a JSON array of records) into the
  // form body "data_list=<encoded>&gzip=1" and posts it, bounded by
  // |timeout_ms|, on the road last chosen (chosen now, within |timeout_ms|,
  // before the first). Every outcome but kAccepted and kAborted writes
  // "Analytics SDK send failed: " and the answer or error on std::cerr
  // (naming the status for kEndpointRefused), followed by
  // " via proxy host:port" when the upload went through a proxy.
  UploadResult Send(const std::string& batch_text, long timeout_ms,
                    const std::atomic<bool>* abort);

  // Send with a 3-second limit and no abort flag; true only for a 2xx.
  bool SendBatch(const std::string& batch_text);

  const std::string& server_url() const { return server_url_; }

 private:
  // " via proxy host:port" when the road goes through a proxy.
  std::string Via() const;

  std::string server_url_;
  std::unique_ptr<ProxySource> proxy_source_;
  std::optional<ProxyChoice> road_;     // the last chosen
  std::unique_ptr<HttpClient> client_;  // made at the first send
};

// How an answer of |status| (-1: no answer) is treated.
UploadOutcome ClassifyStatus(int status);

}  // namespace analytics

#endif  // QUILLON_ANALYTICS_SDK_UPLOAD_HTTP_SENDER_H_
