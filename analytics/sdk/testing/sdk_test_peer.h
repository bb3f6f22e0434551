#ifndef QUILLON_ANALYTICS_SDK_TESTING_SDK_TEST_PEER_H_
#define QUILLON_ANALYTICS_SDK_TESTING_SDK_TEST_PEER_H_

#include <string>
#include <vector>

#include "analytics/sdk/properties_node.h"
#include "analytics/sdk/sdk.h"
#include "analytics/sdk/staging_store.h"

namespace analytics {

// Test-only access to one SDK's private state. The product never links
// this; tests use it to look at what an SDK holds and staged.
class SdkTestPeer {
 public:
  // |sdk| must outlive the peer.
  explicit SdkTestPeer(Sdk& sdk) : sdk_(sdk) {}

  const std::string& distinct_id() const;
  bool is_login_id() const;
  const PropertiesNode& super_properties() const;
  StagingStore& staging_store() const;

  // Sdk::AddEvent.
  bool AddEvent(const std::string& type, const std::string& event_name,
                const PropertiesNode& properties,
                const std::string& distinct_id,
                const std::string& original_id) const;

  // A copy of the SDK's queued record texts, oldest first.
  std::vector<std::string> QueuedRecords() const;

 private:
  Sdk& sdk_;
};

}  // namespace analytics

#endif  // QUILLON_ANALYTICS_SDK_TESTING_SDK_TEST_PEER_H_
