#include "analytics/sdk/upload/http_sender.h"

#include <iostream>
#include <optional>
#include <utility>

#include "analytics/sdk/upload/batch_encoding.h"
#include "analytics/sdk/upload/http_client.h"

namespace analytics {

namespace {
constexpr unsigned kUploadTimeoutSeconds = 3;
}  // namespace

HttpSender::HttpSender(std::string server_url)
    : server_url_(std::move(server_url)) {}

bool HttpSender::SendBatch(const std::string& batch_text) {
  const std::optional<std::string> body = EncodeBatchBody(batch_text);
  if (!body) return false;  // The compressor has said why.

  const HttpResponse response = HttpClient::Post(
      server_url_, *body, kUploadTimeoutSeconds, HttpHeaders());
  if (response.status == 200) return true;
  std::cerr << "Analytics SDK send failed: " << response.body << std::endl;
  return false;
}

}  // namespace analytics
