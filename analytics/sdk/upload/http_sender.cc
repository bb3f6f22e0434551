#include "analytics/sdk/upload/http_sender.h"

#include <iostream>
#include <optional>
#include <stdexcept>
#include <utility>

#include "analytics/sdk/upload/batch_encoding.h"
#include "analytics/sdk/upload/http_client.h"

namespace analytics {

namespace {

constexpr long kUploadTimeoutMs = 3000;

// libcurl's setting for each road: unset, none, or the proxy.
std::optional<std::string> CurlProxy(const ProxyChoice& road) {
  switch (road.road) {
    case ProxyChoice::Road::kLibcurl:
      return std::nullopt;
    case ProxyChoice::Road::kDirect:
      return std::string();
    case ProxyChoice::Road::kProxy:
      return road.proxy_url;
  }
  return std::nullopt;
}

}  // namespace

UploadOutcome ClassifyStatus(int status) {
  if (status >= 200 && status < 300) return UploadOutcome::kAccepted;
  if (status < 0 || status == 408 || status == 429 ||
      (status >= 500 && status < 600)) {
    return UploadOutcome::kRetry;
  }
  if (status == 400 || status == 413 || status == 422) {
    return UploadOutcome::kRefused;
  }
  return UploadOutcome::kEndpointRefused;
}

HttpSender::HttpSender(std::string server_url,
                       std::unique_ptr<ProxySource> proxy_source)
    : server_url_(std::move(server_url)),
      proxy_source_(std::move(proxy_source)) {}

HttpSender::~HttpSender() = default;

void HttpSender::ChooseRoad(long wait_ms, const std::atomic<bool>* stop) {
  ProxyChoice choice;
  choice.road = ProxyChoice::Road::kLibcurl;
  if (proxy_source_) {
    choice = ChooseProxy(server_url_, *proxy_source_, wait_ms, stop);
  }
  if (!choice.refused.empty()) {
    std::cerr << "Analytics SDK does not use the proxy " << choice.refused
              << ": only http proxies are used; uploads go direct" << std::endl;
  }
  road_ = std::move(choice);
}

std::string HttpSender::Via() const {
  if (!road_ || road_->shown.empty()) return std::string();
  return " via proxy " + road_->shown;
}

UploadResult HttpSender::Send(const std::string& batch_text, long timeout_ms,
                              const std::atomic<bool>* abort) {
  UploadResult result;
  if (!IsHttpUrl(server_url_)) {
    result.body =
        "only http and https server addresses are used: " + server_url_;
    std::cerr << "Analytics SDK send failed: " << result.body << std::endl;
    return result;
  }
  const std::optional<std::string> body = EncodeBatchBody(batch_text);
  if (!body) return result;  // The compressor has said why.

  if (!road_) ChooseRoad(timeout_ms, abort);
  HttpResponse response;
  try {
    if (!client_) client_ = std::make_unique<HttpClient>();
    client_->SetProxy(CurlProxy(*road_));
    client_->SetTimeoutMs(timeout_ms);
    client_->SetAbortFlag(abort);
    response = client_->PostBody(server_url_, *body);
  } catch (const std::runtime_error& error) {
    std::cerr << error.what() << std::endl;
    response.body = error.what();
  }
  result.status = response.status;
  result.body = std::move(response.body);
  if (response.aborted) {
    result.outcome = UploadOutcome::kAborted;
    return result;
  }
  result.outcome = ClassifyStatus(response.status);
  if (result.outcome == UploadOutcome::kEndpointRefused) {
    std::cerr << "Analytics SDK send failed: the server answered status "
              << response.status
              << ", so every record stays staged: " << result.body << Via()
              << std::endl;
  } else if (result.outcome != UploadOutcome::kAccepted) {
    std::cerr << "Analytics SDK send failed: " << result.body << Via()
              << std::endl;
  }
  return result;
}

bool HttpSender::SendBatch(const std::string& batch_text) {
  return Send(batch_text, kUploadTimeoutMs, nullptr).outcome ==
         UploadOutcome::kAccepted;
}

}  // namespace analytics
