#include "analytics/sdk/testing/sdk_test_peer.h"

namespace analytics {

const std::string& SdkTestPeer::distinct_id() const {
  return sdk_.distinct_id_;
}

bool SdkTestPeer::is_login_id() const { return sdk_.is_login_id_; }

const PropertiesNode& SdkTestPeer::super_properties() const {
  return sdk_.super_properties_;
}

StagingStore& SdkTestPeer::staging_store() const { return sdk_.staging_store_; }

bool SdkTestPeer::AddEvent(const std::string& type,
                           const std::string& event_name,
                           const PropertiesNode& properties,
                           const std::string& distinct_id,
                           const std::string& original_id) const {
  return sdk_.AddEvent(type, event_name, properties, distinct_id, original_id);
}

std::vector<std::string> SdkTestPeer::QueuedRecords() const {
  return sdk_.staging_store_.QueuedRecords();
}

}  // namespace analytics
