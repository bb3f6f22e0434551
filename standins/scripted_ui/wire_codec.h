// The scripted user interface's own codec for channel messages: method calls
// it sends and the replies it gets, written from the wire rules of the
// standard message and method codec and sharing no code with the host's
// embedding layer. Numbers are little-endian; alignment counts from the start
// of the message.
#ifndef QUILLON_STANDINS_SCRIPTED_UI_WIRE_CODEC_H_
#define QUILLON_STANDINS_SCRIPTED_UI_WIRE_CODEC_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "standins/scripted_ui/value_notation.h"

namespace standin {

// The method name as a string value, then the arguments.
std::vector<uint8_t> EncodeMethodCall(const std::string& method,
                                      const NotationValue& arguments);

// Appends one value (tag and payload) to `message`.
void WriteWireValue(const NotationValue& value, std::vector<uint8_t>* message);

// Reads one value at `*offset`; false (offset then unspecified) when the
// bytes end early or hold an unknown tag.
bool ReadWireValue(const uint8_t* data, size_t size, size_t* offset,
                   NotationValue* value);

// A method reply as the transcript shows it: "success <value>",
// "error <code> <message> <details>", "not-implemented" (empty reply) or
// "undecodable <hex>" for bytes that are not exactly one reply.
std::string DescribeMethodReply(const std::vector<uint8_t>& reply);

// A method call from the host as the transcript shows it: "<name> <value>",
// or "undecodable <hex>" for bytes that are not exactly one call.
std::string DescribeMethodCall(const uint8_t* data, size_t size);

}  // namespace standin

#endif  // QUILLON_STANDINS_SCRIPTED_UI_WIRE_CODEC_H_
