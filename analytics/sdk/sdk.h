#ifndef QUILLON_ANALYTICS_SDK_SDK_H_
#define QUILLON_ANALYTICS_SDK_SDK_H_

#include <cstdint>
#include <functional>
#include <string>

#include "analytics/sdk/flush_worker.h"
#include "analytics/sdk/properties_node.h"
#include "analytics/sdk/staging_store.h"
#include "analytics/sdk/uploader.h"

namespace analytics {

// The process-wide analytics SDK. Init creates the single instance once;
// until then every operation does nothing (Flush returns false). The
// instance holds the identity (distinct id and login flag), the super
// properties laid onto every "track" and "track_signup" record, and the
// staging store that queues and uploads records.
//
// Uploads run on the SDK's one background worker (see FlushWorker), within a
// time budget of kFlushBudget per flush.
//
// Thread safety: the identity and super properties are unguarded, so the
// operations other than the flushes must come from one thread at a time.
// Records may be added on one thread while another flushes.
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

  // Hands a flush to the worker and returns at once. |done| is called once,
  // on the worker thread, with true when the queue was emptied: the staged
  // records are uploaded in batches of up to 30, oldest first, until the
  // queue is empty, the budget is spent or a batch cannot be delivered.
  // Before Init, |done| is called at once with false.
  static void FlushAsync(std::function<void(bool flushed)> done);

  // FlushAsync, waiting for the result.
  static bool Flush();

  // Cuts a running upload off (its batch stays staged), answers waiting
  // flushes with false and ends the worker thread within about 50 ms. A
  // later flush starts the worker again.
  static void StopBackgroundWork();

  // How long one flush may take in all.
  static constexpr std::chrono::milliseconds kFlushBudget{10000};

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
  Uploader uploader_;
  // Declared last: destroyed, and so stopped, first.
  FlushWorker worker_;
};

}  // namespace analytics

#endif  // QUILLON_ANALYTICS_SDK_SDK_H_
