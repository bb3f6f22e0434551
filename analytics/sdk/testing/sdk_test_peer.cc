#include "analytics/sdk/testing/sdk_test_peer.h"

namespace analytics {

void SdkTestPeer::ResetForTesting() {
  delete Sdk::instance_;
  Sdk::instance_ = nullptr;
}

bool SdkTestPeer::HasInstance() { return Sdk::instance_ != nullptr; }

const std::string& SdkTestPeer::distinct_id() {
  return Sdk::instance_->distinct_id_;
}

bool SdkTestPeer::is_login_id() { return Sdk::instance_->is_login_id_; }

const PropertiesNode& SdkTestPeer::super_properties() {
  return Sdk::instance_->super_properties_;
}

StagingStore& SdkTestPeer::staging_store() {
  return Sdk::instance_->staging_store_;
}

const std::string& SdkTestPeer::server_url() {
  return Sdk::instance_->uploader_.server_url();
}

bool SdkTestPeer::AddEvent(const std::string& type,
                           const std::string& event_name,
                           const PropertiesNode& properties,
                           const std::string& distinct_id,
                           const std::string& original_id) {
  return Sdk::instance_->AddEvent(type, event_name, properties, distinct_id,
                                  original_id);
}

std::vector<std::string> SdkTestPeer::QueuedRecords(StagingStore& store) {
  return store.QueuedRecords();
}

}  // namespace analytics
