// A stand-in for the system's proxy answers.
#ifndef QUILLON_TESTS_ANALYTICS_UPLOAD_FAKE_PROXY_SOURCE_H_
#define QUILLON_TESTS_ANALYTICS_UPLOAD_FAKE_PROXY_SOURCE_H_

#include <atomic>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "analytics/sdk/upload/proxy_choice.h"

namespace analytics {

class FakeProxySource : public ProxySource {
 public:
  std::string Environment(const char* name) override {
    const auto found = environment.find(name);
    return found == environment.end() ? std::string() : found->second;
  }
  std::optional<UserProxySettings> UserSettings() override {
    ++settings_reads;
    return settings;
  }
  AutoProxyAnswer Resolve(const std::string& url,
                          const UserProxySettings& /*settings*/,
                          long /*wait_ms*/,
                          const std::atomic<bool>* /*stop*/) override {
    resolved.push_back(url);
    return answer;
  }

  std::map<std::string, std::string> environment;
  std::optional<UserProxySettings> settings = UserProxySettings{};
  AutoProxyAnswer answer;
  int settings_reads = 0;
  std::vector<std::string> resolved;
};

inline UserProxySettings Manual(const std::string& list,
                                const std::string& bypass) {
  UserProxySettings settings;
  settings.proxy_list = list;
  settings.bypass_list = bypass;
  return settings;
}

}  // namespace analytics

#endif  // QUILLON_TESTS_ANALYTICS_UPLOAD_FAKE_PROXY_SOURCE_H_
