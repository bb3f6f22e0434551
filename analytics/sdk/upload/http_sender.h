#ifndef ANALYTICS_SDK_UPLOAD_HTTP_SENDER_H_
#define ANALYTICS_SDK_UPLOAD_HTTP_SENDER_H_

#include <string>

namespace analytics {

// Posts batches of analytics records to the collection server. One sender is
// made at initialisation and kept by the staging store; each SendBatch makes
// its own HTTP request with a fresh connection, so calls share no state.
class HttpSender {
 public:
  // |server_url| is used exactly as given; an empty or malformed URL makes
  // every SendBatch fail with libcurl's error text.
  explicit HttpSender(std::string server_url);

  // Compresses and encodes |batch_text| (a JSON array of records) into the
  // form body "data_list=<encoded>&gzip=1" and posts it with a 3-second
  // time-out. Returns true only when the server answered with status 200;
  // every other outcome writes one line to std::cerr and returns false.
  // Blocks the calling thread for the whole request.
  bool SendBatch(const std::string& batch_text);

  const std::string& server_url() const { return server_url_; }

 private:
  std::string server_url_;
};

}  // namespace analytics

#endif  // ANALYTICS_SDK_UPLOAD_HTTP_SENDER_H_
