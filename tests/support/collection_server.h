#ifndef QUILLON_TESTS_SUPPORT_COLLECTION_SERVER_H_
#define QUILLON_TESTS_SUPPORT_COLLECTION_SERVER_H_

// Test access to the local collection server (tools/collection_server), the
// stand-in for the analytics collection service.
//
// Typical use:
//
//   std::string error;
//   auto server = test_support::CollectionServer::Start(&error);
//   ASSERT_NE(server, nullptr) << error;
//   server->AnswerStatus(500, "busy", /*times=*/1);   // next upload fails
//   analytics::HttpSender sender(server->UploadUrl());
//   ...
//   EXPECT_EQ(server->Records(), expected_record_texts);
//
// Each CollectionServer object is a session of its own: its UploadUrl() and
// its control calls carry a unique channel name, so tests that share one
// server process (the CTest fixture) never see each other's uploads or
// settings. Everything that goes wrong is reported with ADD_FAILURE() and a
// false or empty result, so a test fails with a readable reason.
//
// Where the server comes from, in this order:
//  1. QUILLON_COLLECTION_SERVER_PORT=<port>: a server already listening on
//     127.0.0.1 (started by hand, see tools/collection_server/README.md).
//  2. QUILLON_COLLECTION_SERVER_PORT_FILE=<file>: the port file of the CTest
//     fixture "quillon_collection_server"; set for a test program by
//     quillon_use_collection_server() from
//     tests/support/collection_server.cmake. This is the only way under Wine,
//     where a test cannot start Linux processes.
//  3. Otherwise, on Linux only: a private server started as a child process
//     (python3) and stopped by the destructor.
//
// Link the CMake target quillon_test_collection_server.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace test_support {

// How the server answers the uploads of one session.
struct UploadBehaviour {
  // Status for well-formed uploads; records are kept only for 200.
  // Malformed uploads always get 400 with the reason as body.
  int status = 200;
  // Response body; when empty optional: "ok" for 200, "" otherwise.
  std::optional<std::string> body;
  // Seconds to wait before answering. If the client has hung up by then the
  // upload counts as abandoned: no answer, no records kept.
  double delay_seconds = 0;
  // Read the request, then close the connection without any answer.
  bool drop = false;
  // Keep the records as accepted, then close without an answer.
  bool store_drop = false;
  // Refuse (400) every batch holding a record that contains this text.
  std::optional<std::string> refuse_marker;
  // Answer |status| with a body that never ends.
  bool endless = false;
  // 0: applies until changed. n > 0: applies to the next n uploads, after
  // which the server answers 200 again.
  int times = 0;
};

// Counters of one session.
struct UploadStats {
  int uploads = 0;    // every POST that was not a control request
  int accepted = 0;   // answered 200, records kept
  int refused = 0;    // answered with another status by request
  int malformed = 0;  // answered 400: body shape or decoding failed
  int dropped = 0;    // connection closed unanswered by request
  int abandoned = 0;  // client gone before the delayed answer
  int records = 0;    // records kept
};

class CollectionServer {
 public:
  // Connects to or starts a server (see above) and opens a fresh session.
  // Returns nullptr and sets |error| (when given) if no server is reachable.
  static std::unique_ptr<CollectionServer> Start(std::string* error = nullptr);

  // Stops the server if this object started it.
  ~CollectionServer();
  CollectionServer(const CollectionServer&) = delete;
  CollectionServer& operator=(const CollectionServer&) = delete;

  uint16_t port() const { return port_; }
  // The session's channel name, e.g. "s0123456789abcdef".
  const std::string& session() const { return session_; }
  // "http://127.0.0.1:<port>/<session>/collect": the URL to post uploads to.
  std::string UploadUrl() const;
  // UploadUrl() with a host name that only the forward proxy of the CTest
  // fixture "quillon_forward_proxy" resolves (to 127.0.0.1).
  std::string ProxyOnlyUploadUrl() const;
  // "http://127.0.0.1:<port>/<session>/<rest>".
  std::string SessionUrl(const std::string& rest) const;

  // Replaces the session's behaviour.
  bool Configure(const UploadBehaviour& behaviour);
  // Shorthands for Configure().
  bool AnswerStatus(int status, const std::string& body = std::string(),
                    int times = 0);
  bool Delay(double seconds, int times = 0);
  bool Drop(int times = 0);
  // Default behaviour again, and forget every upload of this session.
  bool Reset();

  // Accepted records in arrival order, each the exact JSON text it had in
  // its batch.
  std::vector<std::string> Records();
  // Accepted batches in arrival order: the exact decoded JSON array texts.
  std::vector<std::string> Batches();
  // One JSON object text per upload (accepted or not) with the keys "path",
  // "content_type", "body_bytes", "records", "error", "client_port", "via",
  // "outcome", "status".
  std::vector<std::string> Requests();
  UploadStats Stats();

 private:
  CollectionServer() = default;

  bool Get(const std::string& rest, std::string* body);
  bool Post(const std::string& rest, const std::string& data,
            std::string* body);
  std::vector<std::string> Lines(const std::string& rest);

  uint16_t port_ = 0;
  std::string session_;
#ifndef _WIN32
  // Process id of a server this object started; 0 when shared.
  long child_pid_ = 0;
#endif
};

// The loopback port of the forward proxy (tools/forward_proxy) of the CTest
// fixture "quillon_forward_proxy", which quillon_use_collection_server(...
// WITH_FORWARD_PROXY) names; 0, with a test failure, when there is none.
uint16_t ForwardProxyPort();

}  // namespace test_support

#endif  // QUILLON_TESTS_SUPPORT_COLLECTION_SERVER_H_
