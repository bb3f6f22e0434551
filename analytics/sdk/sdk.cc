#include "analytics/sdk/sdk.h"

#include <cstdint>
#include <exception>
#include <filesystem>
#include <future>
#include <iostream>
#include <memory>
#include <string>
#include <utility>

#include "analytics/sdk/event_assembly.h"

namespace analytics {

Sdk::Sdk(const std::filesystem::path& staging_file_path,
         const std::string& server_url, const std::string& distinct_id,
         bool is_login_id, int32_t max_staging_records)
    : distinct_id_(distinct_id),
      is_login_id_(is_login_id),
      staging_store_(staging_file_path, max_staging_records),
      uploader_(server_url, staging_file_path),
      worker_(staging_store_, uploader_, kFlushBudget) {
  super_properties_.SetString("$lib", "cpp");
  super_properties_.SetString("$lib_version", kLibVersion);
}

Sdk::~Sdk() { worker_.Stop(); }

std::unique_ptr<Sdk> Sdk::Create(const std::filesystem::path& staging_file_path,
                                 const std::string& server_url,
                                 const std::string& distinct_id,
                                 bool is_login_id,
                                 int32_t max_staging_records) {
  if (distinct_id.empty()) {
    std::cerr << "The Distinct ID is empty." << std::endl;
    return nullptr;
  }
  if (distinct_id.size() > kMaxIdLength) {
    std::cerr << "The Distinct ID is too long, max length is 255." << std::endl;
    return nullptr;
  }
  // Not make_unique: the constructor is private.
  std::unique_ptr<Sdk> sdk(new Sdk(staging_file_path, server_url, distinct_id,
                                   is_login_id, max_staging_records));
  // A file left by an earlier run may be past the limits (or huge): the
  // worker trims it, away from the caller's thread.
  try {
    sdk->worker_.RequestCompaction();
  } catch (const std::exception& error) {
    std::cerr << "Analytics SDK cannot start its worker: " << error.what()
              << std::endl;
  }
  return sdk;
}

bool Sdk::AddEvent(const std::string& type, const std::string& event_name,
                   const PropertiesNode& properties,
                   const std::string& distinct_id,
                   const std::string& original_id) {
  if (!ValidatePropertyKeys(properties)) return false;
  if (!CheckEventIdentity(type, event_name, original_id)) return false;

  PropertiesNode merged;
  if (type.find("track") != std::string::npos) {
    merged.MergeFrom(super_properties_);
  }
  merged.MergeFrom(properties);
  const int64_t time = TakeRecordTime(&merged);
  const std::string project = TakeProject(&merged);
  if (is_login_id_) merged.SetBool("$is_login_id", true);

  utils::ObjectNode record;
  record.SetString("type", type);
  record.SetInt("time", time);
  record.SetString("distinct_id", distinct_id);
  // Moved in: the merged properties are not needed past this point.
  record.SetObject("properties", std::move(merged));
  record.SetObject("lib", MakeLibObject());
  record.SetInt("_track_id", MakeTrackId());
  if (!project.empty()) record.SetString("project", project);
  if (type == "track") {
    record.SetString("event", event_name);
  } else if (type == "track_signup") {
    record.SetString("event", event_name);
    record.SetString("original_id", original_id);
  }

  switch (staging_store_.AddRecord(utils::ObjectNode::ToJsonString(record))) {
    case StagingStore::Follow::kCompact:
      worker_.RequestCompaction();
      break;
    case StagingStore::Follow::kDrain:
      worker_.RequestDrain();
      break;
    case StagingStore::Follow::kNothing:
      break;
  }
  return true;
}

void Sdk::EnableLog(bool enable) { staging_store_.SetLogEnabled(enable); }

void Sdk::RegisterSuperProperties(const PropertiesNode& properties) {
  super_properties_.MergeFrom(properties);
}

void Sdk::Track(const std::string& event_name,
                const PropertiesNode& properties) {
  std::cout << "Sdk Track: " << event_name << std::endl;
  try {
    const std::string text = utils::ObjectNode::ToJsonString(properties);
    std::cout << "Sdk Track properties: " << text << std::endl;
  } catch (const std::exception& e) {
    std::cout << "Sdk Track properties print error: " << e.what() << std::endl;
  }
  AddEvent("track", event_name, properties, distinct_id_, std::string());
}

void Sdk::TrackInstallation(const std::string& event_name,
                            const PropertiesNode& properties) {
  PropertiesNode install_properties;
  install_properties.SetString("$ios_install_source", "");
  install_properties.MergeFrom(properties);
  AddEvent("track", event_name, install_properties, distinct_id_,
           std::string());
}

void Sdk::ProfileSet(const PropertiesNode& properties) {
  AddEvent("profile_set", std::string(), properties, distinct_id_,
           std::string());
}

void Sdk::Login(const std::string& login_id) {
  if (login_id.size() > kMaxIdLength) {
    std::cout << "loginId:" << login_id << "is beyond the maximum length 255"
              << std::endl;
    return;
  }
  // An empty distinct id would leave every later record unattributable.
  if (login_id.empty()) {
    std::cerr << "The Login ID is empty." << std::endl;
    return;
  }
  if (login_id == distinct_id_) return;
  AddEvent("track_signup", "$SignUp", PropertiesNode(), login_id, distinct_id_);
  distinct_id_ = login_id;
  is_login_id_ = true;
}

void Sdk::Identify(const std::string& distinct_id, bool is_login_id) {
  // As with Login: records under an empty distinct id are unattributable.
  if (distinct_id.empty()) {
    std::cerr << "The Distinct ID is empty." << std::endl;
    return;
  }
  distinct_id_ = distinct_id;
  is_login_id_ = is_login_id;
}

void Sdk::FlushAsync(std::function<void(bool flushed)> done) {
  worker_.RequestFlush(std::move(done));
}

bool Sdk::Flush() {
  auto result = std::make_shared<std::promise<bool>>();
  std::future<bool> flushed = result->get_future();
  FlushAsync([result](bool value) { result->set_value(value); });
  return flushed.get();
}

void Sdk::StopBackgroundWork() { worker_.Stop(); }

}  // namespace analytics
