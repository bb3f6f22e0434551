#include <cstdlib>

#include "analytics/sdk/upload/proxy_choice.h"

namespace analytics {

namespace {

// Elsewhere the proxy environment variables are all the settings there are.
class EnvironmentProxySource : public ProxySource {
 public:
  std::string Environment(const char* name) override {
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
  }
  std::optional<UserProxySettings> UserSettings() override {
    return UserProxySettings{};
  }
  AutoProxyAnswer Resolve(const std::string& /*url*/,
                          const UserProxySettings& /*settings*/,
                          long /*wait_ms*/,
                          const std::atomic<bool>* /*stop*/) override {
    return AutoProxyAnswer{};
  }
};

}  // namespace

std::unique_ptr<ProxySource> MakeSystemProxySource() {
  return std::make_unique<EnvironmentProxySource>();
}

}  // namespace analytics
