#ifndef QUILLON_ANALYTICS_SDK_SDK_H_
#define QUILLON_ANALYTICS_SDK_SDK_H_

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>

#include "analytics/sdk/flush_worker.h"
#include "analytics/sdk/properties_node.h"
#include "analytics/sdk/staging_store.h"
#include "analytics/sdk/uploader.h"

namespace analytics {

// The analytics SDK: the identity (distinct id and login flag), the super
// properties laid onto every "track" and "track_signup" record, and the
// staging store that queues and uploads records. Its owner (the analytics
// plugin) decides how long it lives; destroying it stops its background
// work.
//
// Uploads run on the SDK's one background worker (see FlushWorker), within a
// time budget of kFlushBudget per flush.
//
// Thread safety: the identity and super properties are unguarded, so the
// operations other than the flushes must come from one thread at a time.
// Records may be added on one thread while another flushes.
class Sdk {
 public:
  // Null, with a line on std::cerr, for an empty distinct id or one of 256
  // bytes or more. Otherwise a new SDK with the "$lib" and "$lib_version"
  // super properties; its worker is asked at once to trim a staging file an
  // earlier run left past the limits.
  static std::unique_ptr<Sdk> Create(
      const std::filesystem::path& staging_file_path,
      const std::string& server_url, const std::string& distinct_id,
      bool is_login_id, int32_t max_staging_records);

  // Stops the background work first (see StopBackgroundWork).
  ~Sdk();

  Sdk(const Sdk&) = delete;
  Sdk& operator=(const Sdk&) = delete;

  // Switches the staging store's own messages.
  void EnableLog(bool enable);

  // Merges `properties` into the super properties.
  void RegisterSuperProperties(const PropertiesNode& properties);

  // Stages a "track" record. Prints the event name and the properties to
  // std::cout on every call.
  void Track(const std::string& event_name, const PropertiesNode& properties);

  // Stages a "track" record whose properties hold "$ios_install_source"
  // (empty unless the caller gives one).
  void TrackInstallation(const std::string& event_name,
                         const PropertiesNode& properties);

  // Stages a "profile_set" record; super properties are not merged.
  void ProfileSet(const PropertiesNode& properties);

  // Stages a "$SignUp" record linking the current distinct id to
  // `login_id`, then makes `login_id` the distinct id with the login flag
  // set. Refuses an empty id or one of 256 bytes or more; does nothing when
  // `login_id` already is the distinct id.
  void Login(const std::string& login_id);

  // Sets the identity without making a record. Refuses an empty id.
  void Identify(const std::string& distinct_id, bool is_login_id);

  // Hands a flush to the worker and returns at once. |done| is called once,
  // on the worker thread, with true when the queue was emptied: the staged
  // records are uploaded in batches of up to 30, oldest first, until the
  // queue is empty, the budget is spent or a batch cannot be delivered.
  // May throw std::system_error when the worker cannot start; |done| is
  // then not called.
  void FlushAsync(std::function<void(bool flushed)> done);

  // FlushAsync, waiting for the result.
  bool Flush();

  // Cuts a running upload off (its batch stays staged), answers waiting
  // flushes with false and ends the worker thread within about 100 ms,
  // whatever another process holds. Final: later flushes answer false.
  void StopBackgroundWork();

  const std::string& server_url() const { return uploader_.server_url(); }
  const std::filesystem::path& staging_file_path() const {
    return staging_store_.staging_file_path();
  }

  // How long one flush may take in all.
  static constexpr std::chrono::milliseconds kFlushBudget{10000};

 private:
  friend class SdkTestPeer;

  Sdk(const std::filesystem::path& staging_file_path,
      const std::string& server_url, const std::string& distinct_id,
      bool is_login_id, int32_t max_staging_records);

  // Checks, merges, stamps and stages one record; false when a check
  // refused it (reported on std::cerr).
  bool AddEvent(const std::string& type, const std::string& event_name,
                const PropertiesNode& properties,
                const std::string& distinct_id, const std::string& original_id);

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
