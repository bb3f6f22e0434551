// Ending and freeing engines; shared by the library functions and the test
// controls.
#ifndef QUILLON_STANDINS_ENGINE_ENGINE_LIFECYCLE_H_
#define QUILLON_STANDINS_ENGINE_ENGINE_LIFECYCLE_H_

#include <cstdint>
#include <string>

#include "standins/engine/engine_internal.h"

namespace standin {

// Runs the destruction handler of every registrar of the engine, in creation
// order, clearing each before it runs. Returns how many ran.
int32_t EndRegistrars(FlutterDesktopEngine* engine);

// Ends a running engine: registrars ended, messenger unavailable, unanswered
// messages and outgoing replies dropped, textures released. `by` names the
// call for the log. Does nothing for an engine that already ended. Returns
// the number of destruction handlers run.
int32_t EndEngine(FlutterDesktopEngine* engine, const std::string& by);

// Removes an ended engine from the live list and frees it. Its messenger
// lives on while references remain.
void FreeEngine(FlutterDesktopEngine* engine);

// Makes the engine's messenger unavailable: callbacks cleared, unanswered
// incoming messages dropped (their drop callbacks run).
void EndMessenger(FlutterDesktopEngine* engine);

// Answers an accepted SendWithReply on the engine's next turn; false for an
// unknown or already answered id.
bool AnswerOutgoing(int64_t reply_id, const uint8_t* data, size_t size);

// Gives back one messenger reference; the last one frees it.
void ReleaseMessenger(FlutterDesktopMessenger* messenger);

// True when `messenger` is a messenger that still exists.
bool IsLiveMessenger(FlutterDesktopMessenger* messenger);

}  // namespace standin

#endif  // QUILLON_STANDINS_ENGINE_ENGINE_LIFECYCLE_H_
