// The plugin's one error carrier, from reading an argument to answering the
// channel: a value, or why there is none.
#ifndef QUILLON_ANALYTICS_PLUGIN_PLUGIN_RESULT_H_
#define QUILLON_ANALYTICS_PLUGIN_PLUGIN_RESULT_H_

#include <string>
#include <utility>
#include <variant>

namespace analytics {

// Why a step failed: the text an error reply or a log line carries, and the
// reply's code when the step decides it (empty: the method's own code).
struct Failure {
  explicit Failure(std::string message, std::string code = std::string())
      : message(std::move(message)), code(std::move(code)) {}
  std::string message;
  std::string code;
};

template <typename T>
class PluginResult {
 public:
  // Implicit both ways, so a step returns a value or a Failure alike.
  PluginResult(T value) : state_(std::in_place_index<0>, std::move(value)) {}
  PluginResult(Failure failure)
      : state_(std::in_place_index<1>, std::move(failure)) {}

  bool ok() const { return state_.index() == 0; }
  // Only when ok().
  const T& value() const { return *std::get_if<0>(&state_); }
  T& value() { return *std::get_if<0>(&state_); }
  // Only when !ok().
  const Failure& failure() const { return *std::get_if<1>(&state_); }

 private:
  std::variant<T, Failure> state_;
};

}  // namespace analytics

#endif  // QUILLON_ANALYTICS_PLUGIN_PLUGIN_RESULT_H_
