#ifndef QUILLON_ANALYTICS_SDK_TESTING_SDK_TEST_PEER_H_
#define QUILLON_ANALYTICS_SDK_TESTING_SDK_TEST_PEER_H_

#include <string>
#include <vector>

#include "analytics/sdk/properties_node.h"
#include "analytics/sdk/sdk.h"
#include "analytics/sdk/staging_store.h"

namespace analytics {

// Test-only access to the SDK's single instance and to a staging store's
// queue. The product never links this; tests use it to start every case from
// an uninitialised SDK and to look at what was staged.
class SdkTestPeer {
 public:
  // Destroys the instance, if any, so that the next Sdk::Init creates a new
  // one. Call only while no other thread uses the SDK.
  static void ResetForTesting();

  static bool HasInstance();
  // The instance's fields; the instance must exist.
  static const std::string& distinct_id();
  static bool is_login_id();
  static const PropertiesNode& super_properties();
  static StagingStore& staging_store();
  static const std::string& server_url();

  // Sdk::AddEvent on the instance, which must exist.
  static bool AddEvent(const std::string& type, const std::string& event_name,
                       const PropertiesNode& properties,
                       const std::string& distinct_id,
                       const std::string& original_id);

  // A copy of the queued record texts, oldest first.
  static std::vector<std::string> QueuedRecords(StagingStore& store);
};

}  // namespace analytics

#endif  // QUILLON_ANALYTICS_SDK_TESTING_SDK_TEST_PEER_H_
