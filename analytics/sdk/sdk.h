#ifndef ANALYTICS_SDK_SDK_H_
#define ANALYTICS_SDK_SDK_H_

#include <cstdint>
#include <string>

#include "analytics/sdk/properties_node.h"
#include "analytics/sdk/staging_store.h"

namespace analytics {

// The process-wide analytics SDK. Init creates the single instance once;
// until then every operation does nothing (Flush returns false). The
// instance holds the identity (distinct id and login flag), the super
// properties laid onto every "track" and "track_signup" record, and the
// staging store that queues and uploads records.
//
// Thread safety: the identity and super properties are unguarded, so the
// operations other than Flush must come from one thread at a time. Records
// may be added on one thread while another flushes.
class Sdk {
 public:
  // Refuses an empty distinct id or one of 256 bytes or more (on every
  // call). A second successful call keeps the first instance unchanged and
  // returns true.
  static bool Init(const std::string& staging_file_path,
                   const std::string& server_url,
                   const std::string& distinct_id, bool is_login_id,
                   int32_t max_staging_records);

  // Switches the staging store's own messages; no effect before Init.
  static void EnableLog(bool enable);

  // Merges `properties` into the super properties.
  static void RegisterSuperProperties(const PropertiesNode& properties);

  // Stages a "track" record. Prints the event name (and, once initialised,
  // the properties) to std::cout on every call.
  static void Track(const std::string& event_name,
                    const PropertiesNode& properties);

  // Stages a "track" record whose properties hold "$ios_install_source"
  // (empty unless the caller gives one).
  static void TrackInstallation(const std::string& event_name,
                                const PropertiesNode& properties);

  // Stages a "profile_set" record; super properties are not merged.
  static void ProfileSet(const PropertiesNode& properties);

  // Stages a "$SignUp" record linking the current distinct id to
  // `login_id`, then makes `login_id` the distinct id with the login flag
  // set. Refuses an empty id or one of 256 bytes or more; does nothing when
  // `login_id` already is the distinct id.
  static void Login(const std::string& login_id);

  // Sets the identity without making a record. Refuses an empty id.
  static void Identify(const std::string& distinct_id, bool is_login_id);

  // Takes over the staging file's records (first flush only), then uploads
  // the queue in batches of up to 30 records, oldest first, stopping at the
  // first failed batch, which goes back to the front of the queue. Returns
  // true when the queue was emptied.
  static bool Flush();

 private:
  friend class SdkTestPeer;

  Sdk(const std::string& staging_file_path, const std::string& server_url,
      const std::string& distinct_id, bool is_login_id,
      int32_t max_staging_records);

  // Checks, merges, stamps and stages one record; false when a check
  // refused it (reported on std::cerr).
  bool AddEvent(const std::string& type, const std::string& event_name,
                const PropertiesNode& properties,
                const std::string& distinct_id, const std::string& original_id);

  // Null until the first successful Init; never reset by the product.
  static Sdk* instance_;

  PropertiesNode super_properties_;
  std::string distinct_id_;
  bool is_login_id_;
  StagingStore staging_store_;
};

}  // namespace analytics

#endif  // ANALYTICS_SDK_SDK_H_
