#include "tests/support/collection_server.h"

#include <curl/curl.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <locale>
#include <random>
#include <sstream>
#include <thread>

#ifndef _WIN32
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
extern char** environ;
#endif

namespace test_support {

namespace {

using Clock = std::chrono::steady_clock;

constexpr long kControlTimeoutSeconds = 10;

void EnsureCurlGlobalInit() {
  static const CURLcode result = curl_global_init(CURL_GLOBAL_DEFAULT);
  (void)result;
}

struct EasyDeleter {
  void operator()(CURL* handle) const { curl_easy_cleanup(handle); }
};

size_t AppendTo(char* data, size_t size, size_t count, void* user) {
  try {
    static_cast<std::string*>(user)->append(data, size * count);
  } catch (...) {
    return 0;
  }
  return size * count;
}

// One request to the server; |data| non-null makes it a POST. Fills |error|
// on a transport failure or a status other than 200.
bool Request(const std::string& url, const std::string* data, std::string* body,
             std::string* error) {
  EnsureCurlGlobalInit();
  std::unique_ptr<CURL, EasyDeleter> curl(curl_easy_init());
  if (!curl) {
    *error = "curl_easy_init failed";
    return false;
  }
  body->clear();
  curl_easy_setopt(curl.get(), CURLOPT_URL, url.c_str());
  curl_easy_setopt(curl.get(), CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(curl.get(), CURLOPT_TIMEOUT, kControlTimeoutSeconds);
  curl_easy_setopt(curl.get(), CURLOPT_WRITEFUNCTION, AppendTo);
  curl_easy_setopt(curl.get(), CURLOPT_WRITEDATA, body);
  if (data != nullptr) {
    curl_easy_setopt(curl.get(), CURLOPT_POSTFIELDS, data->data());
    curl_easy_setopt(curl.get(), CURLOPT_POSTFIELDSIZE,
                     static_cast<long>(data->size()));
  }
  const CURLcode code = curl_easy_perform(curl.get());
  if (code != CURLE_OK) {
    *error = url + ": " + curl_easy_strerror(code);
    return false;
  }
  long status = 0;
  curl_easy_getinfo(curl.get(), CURLINFO_RESPONSE_CODE, &status);
  if (status != 200) {
    *error = url + ": status " + std::to_string(status) + ": " + *body;
    return false;
  }
  return true;
}

std::string JsonString(const std::string& text) {
  std::string out = "\"";
  for (const char c : text) {
    const unsigned char byte = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out.push_back('\\');
      out.push_back(c);
    } else if (byte < 0x20) {
      char escape[8];
      std::snprintf(escape, sizeof(escape), "\\u%04x", byte);
      out += escape;
    } else {
      out.push_back(c);
    }
  }
  return out + "\"";
}

std::string NewSessionName() {
  std::random_device device;
  std::mt19937_64 generator(
      (static_cast<uint64_t>(device()) << 32) ^ device() ^
      static_cast<uint64_t>(Clock::now().time_since_epoch().count()));
  char name[24];
  std::snprintf(name, sizeof(name), "s%016llx",
                static_cast<unsigned long long>(generator()));
  return name;
}

// Reads the port from a port file (first line); 0 when not (yet) there.
uint16_t ReadPortFile(std::string path) {
#ifdef _WIN32
  // Under Wine a Linux path names the Z: drive.
  if (!path.empty() && path[0] == '/') path = "Z:" + path;
#endif
  std::ifstream in(path);
  long port = 0;
  if (!(in >> port) || port <= 0 || port > 65535) return 0;
  return static_cast<uint16_t>(port);
}

uint16_t WaitForPortFile(const std::string& path, double seconds) {
  const auto deadline = Clock::now() + std::chrono::milliseconds(
                                           static_cast<int>(seconds * 1000));
  for (;;) {
    const uint16_t port = ReadPortFile(path);
    if (port != 0 || Clock::now() > deadline) return port;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

#ifndef _WIN32
// Starts "python3 collection_server.py" with a fresh port file. Returns the
// child's pid (0 on failure) and its port.
pid_t SpawnServer(uint16_t* port, std::string* error) {
  char port_file[] = "/tmp/quillon_collection_server_XXXXXX";
  const int fd = mkstemp(port_file);
  if (fd < 0) {
    *error = "cannot create a port file";
    return 0;
  }
  close(fd);
  std::vector<std::string> args = {
      QUILLON_PYTHON3,  QUILLON_COLLECTION_SERVER_SCRIPT,
      "--port",         "0",
      "--port-file",    port_file,
      "--quiet",        "--exit-with-parent",
      "--max-lifetime", "900"};
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);
  pid_t pid = 0;
  const int spawn_error =
      posix_spawnp(&pid, argv[0], nullptr, nullptr, argv.data(), environ);
  if (spawn_error != 0) {
    unlink(port_file);
    *error = std::string("cannot start ") + QUILLON_PYTHON3;
    return 0;
  }
  const auto deadline = Clock::now() + std::chrono::seconds(15);
  for (;;) {
    *port = ReadPortFile(port_file);
    if (*port != 0) break;
    int status = 0;
    if (waitpid(pid, &status, WNOHANG) == pid) {
      unlink(port_file);
      *error = "the collection server exited at start";
      return 0;
    }
    if (Clock::now() > deadline) {
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
      unlink(port_file);
      *error = "the collection server did not start within 15 s";
      return 0;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  unlink(port_file);
  return pid;
}

void StopChild(pid_t pid, uint16_t port) {
  std::string body, error;
  const std::string none;
  Request("http://127.0.0.1:" + std::to_string(port) + "/shutdown", &none,
          &body, &error);
  const auto deadline = Clock::now() + std::chrono::seconds(5);
  int status = 0;
  while (waitpid(pid, &status, WNOHANG) == 0) {
    if (Clock::now() > deadline) {
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
      return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}
#endif

}  // namespace

std::unique_ptr<CollectionServer> CollectionServer::Start(std::string* error) {
  std::string ignored;
  if (error == nullptr) error = &ignored;
  std::unique_ptr<CollectionServer> server(new CollectionServer());
  server->session_ = NewSessionName();

  if (const char* port = std::getenv("QUILLON_COLLECTION_SERVER_PORT")) {
    const long value = std::strtol(port, nullptr, 10);
    if (value <= 0 || value > 65535) {
      *error = std::string("bad QUILLON_COLLECTION_SERVER_PORT: ") + port;
      return nullptr;
    }
    server->port_ = static_cast<uint16_t>(value);
  } else if (const char* file =
                 std::getenv("QUILLON_COLLECTION_SERVER_PORT_FILE")) {
    server->port_ = WaitForPortFile(file, 10);
    if (server->port_ == 0) {
      *error = std::string("no port in ") + file +
               " (is the CTest fixture quillon_collection_server running?)";
      return nullptr;
    }
  } else {
#ifdef _WIN32
    *error =
        "no collection server: run through ctest (fixture "
        "quillon_collection_server) or set QUILLON_COLLECTION_SERVER_PORT";
    return nullptr;
#else
    uint16_t port = 0;
    const pid_t pid = SpawnServer(&port, error);
    if (pid == 0) return nullptr;
    server->port_ = port;
    server->child_pid_ = pid;
#endif
  }

  // Make sure it answers, and start from a clean session.
  const std::string none;
  std::string body;
  if (!Request(server->SessionUrl("reset"), &none, &body, error)) {
    return nullptr;
  }
  return server;
}

CollectionServer::~CollectionServer() {
#ifndef _WIN32
  if (child_pid_ != 0) {
    StopChild(static_cast<pid_t>(child_pid_), port_);
    return;
  }
#endif
  // A shared server: free this session's memory.
  std::string body, error;
  const std::string none;
  Request(SessionUrl("reset"), &none, &body, &error);
}

std::string CollectionServer::SessionUrl(const std::string& rest) const {
  return "http://127.0.0.1:" + std::to_string(port_) + "/" + session_ + "/" +
         rest;
}

std::string CollectionServer::UploadUrl() const {
  return SessionUrl("collect");
}

std::string CollectionServer::ProxyOnlyUploadUrl() const {
  return std::string("http://") + QUILLON_PROXY_ONLY_HOST + ":" +
         std::to_string(port_) + "/" + session_ + "/collect";
}

uint16_t ForwardProxyPort() {
  const char* file = std::getenv("QUILLON_FORWARD_PROXY_PORT_FILE");
  const uint16_t port = file != nullptr ? WaitForPortFile(file, 10) : 0;
  if (port == 0) {
    ADD_FAILURE() << "no forward proxy: run through ctest (fixture "
                     "quillon_forward_proxy)";
  }
  return port;
}

bool CollectionServer::Get(const std::string& rest, std::string* body) {
  std::string error;
  if (Request(SessionUrl(rest), nullptr, body, &error)) return true;
  ADD_FAILURE() << "collection server: " << error;
  return false;
}

bool CollectionServer::Post(const std::string& rest, const std::string& data,
                            std::string* body) {
  std::string error;
  if (Request(SessionUrl(rest), &data, body, &error)) return true;
  ADD_FAILURE() << "collection server: " << error;
  return false;
}

bool CollectionServer::Configure(const UploadBehaviour& behaviour) {
  std::ostringstream json;
  json.imbue(std::locale::classic());
  json << "{\"status\":" << behaviour.status
       << ",\"delay\":" << behaviour.delay_seconds
       << ",\"drop\":" << (behaviour.drop ? "true" : "false");
  if (behaviour.body) json << ",\"body\":" << JsonString(*behaviour.body);
  if (behaviour.times > 0) json << ",\"times\":" << behaviour.times;
  if (behaviour.store_drop) json << ",\"store_drop\":true";
  if (behaviour.endless) json << ",\"endless\":true";
  if (behaviour.refuse_marker) {
    json << ",\"refuse_marker\":" << JsonString(*behaviour.refuse_marker);
  }
  json << "}";
  std::string body;
  return Post("control", json.str(), &body);
}

bool CollectionServer::AnswerStatus(int status, const std::string& body,
                                    int times) {
  UploadBehaviour behaviour;
  behaviour.status = status;
  behaviour.body = body;
  behaviour.times = times;
  return Configure(behaviour);
}

bool CollectionServer::Delay(double seconds, int times) {
  UploadBehaviour behaviour;
  behaviour.delay_seconds = seconds;
  behaviour.times = times;
  return Configure(behaviour);
}

bool CollectionServer::Drop(int times) {
  UploadBehaviour behaviour;
  behaviour.drop = true;
  behaviour.times = times;
  return Configure(behaviour);
}

bool CollectionServer::Reset() {
  std::string body;
  return Post("reset", std::string(), &body);
}

std::vector<std::string> CollectionServer::Lines(const std::string& rest) {
  std::vector<std::string> lines;
  std::string body;
  if (!Get(rest, &body)) return lines;
  std::istringstream in(body);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

std::vector<std::string> CollectionServer::Records() {
  return Lines("records");
}

std::vector<std::string> CollectionServer::Batches() {
  return Lines("batches");
}

std::vector<std::string> CollectionServer::Requests() {
  return Lines("requests");
}

UploadStats CollectionServer::Stats() {
  UploadStats stats;
  for (const std::string& line : Lines("stats")) {
    std::istringstream in(line);
    std::string name;
    int value = 0;
    if (!(in >> name >> value)) continue;
    if (name == "uploads") stats.uploads = value;
    if (name == "accepted") stats.accepted = value;
    if (name == "refused") stats.refused = value;
    if (name == "malformed") stats.malformed = value;
    if (name == "dropped") stats.dropped = value;
    if (name == "abandoned") stats.abandoned = value;
    if (name == "records") stats.records = value;
  }
  return stats;
}

}  // namespace test_support
