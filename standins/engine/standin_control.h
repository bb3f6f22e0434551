// Test controls of the stand-in engine library (flutter_windows).
//
// The stand-in implements interfaces/flutter_windows.h without a Flutter
// engine. Tests drive the "user interface side" of it through the functions
// below: they deliver channel messages to the native handlers, answer what
// the native side sends, refuse view controllers, claim window messages,
// override the DPI and read a log of what the library was asked to do.
//
// Only C types and caller-owned buffers cross this interface: the DLL and
// each test program carry their own C++ runtime.
//
// Conventions:
// - Text out: functions that return text copy it into a caller buffer like
//   snprintf: they write at most capacity - 1 bytes plus a NUL (nothing when
//   capacity is 0) and return the full length in bytes without the NUL, or -1
//   when the object asked about does not exist.
// - Engine handles: functions taking an engine accept only live engines
//   (created and not yet destroyed); for anything else they return -1, 0 or
//   null as documented and change nothing.
// - All functions are thread-safe. No callback of this interface is called
//   while the library holds one of its internal locks, so callbacks may call
//   back into the library.
// - Like a real engine, the library never calls the native side back inside
//   the call that caused it: messages to the native side, responses to the UI
//   side, answers to a native SendWithReply and texture releases are queued
//   and run on the engine's own turn of its UI thread (the thread that
//   created it). On Windows the engine posts that turn to the thread's
//   message loop; StandinEngineRunTasks takes it at once (and is the only
//   way natively).
// - Misuse (see kStandinEventMisuse) must fail the test that caused it: the
//   library counts it until acknowledged, and test fixtures check the count.
// - Every control is process-wide state; StandinEngineResetControls() puts it
//   back to the defaults (a fixture's SetUp should call it).
#ifndef QUILLON_STANDINS_ENGINE_STANDIN_CONTROL_H_
#define QUILLON_STANDINS_ENGINE_STANDIN_CONTROL_H_

#include <stddef.h>
#include <stdint.h>

#include "interfaces/flutter_windows.h"

#define STANDIN_ENGINE_EXPORT FLUTTER_EXPORT

#ifdef __cplusplus
extern "C" {
#endif

// ---------------------------------------------------------------------------
// Controls

// Back to the defaults: no outgoing handler, no refusals, no claimed window
// messages, no DPI override, scripted UI enabled, event log and offered
// message counters emptied. Engines that exist stay as they are.
STANDIN_ENGINE_EXPORT void StandinEngineResetControls(void);

// ---------------------------------------------------------------------------
// Engines

// Number of engines created and not yet destroyed (an engine ended by
// StandinEngineShutdown still counts until its owner destroys it).
STANDIN_ENGINE_EXPORT int32_t StandinEngineLiveEngineCount(void);

// The most recently created engine that still exists, or null. This is how a
// test reaches an engine that the code under test created.
STANDIN_ENGINE_EXPORT FlutterDesktopEngineRef StandinEngineLatestEngine(void);

// The engine's serial number, unique within the process and never reused
// (1, 2, ...), or 0 when the handle is not a live engine. Events carry it, so
// an engine can be recognised in the log after its handle was freed.
STANDIN_ENGINE_EXPORT int64_t
StandinEngineSerial(FlutterDesktopEngineRef engine);

// 1 while the engine runs, 0 once it was shut down (StandinEngineShutdown) or
// is not a live engine.
STANDIN_ENGINE_EXPORT int32_t
StandinEngineIsRunning(FlutterDesktopEngineRef engine);

// 1 when a view controller owns the engine, else 0.
STANDIN_ENGINE_EXPORT int32_t
StandinEngineIsOwnedByViewController(FlutterDesktopEngineRef engine);

// What FlutterDesktopEngineCreate copied from the properties record.
// `which`: 0 assets path, 1 ICU data path, 2 AOT library path. Paths come back
// UTF-8, already resolved against the executable's folder when they were
// relative (an empty path stays empty). Returns -1 for a bad `which`.
STANDIN_ENGINE_EXPORT int32_t
StandinEngineGetPath(FlutterDesktopEngineRef engine, int32_t which,
                     char* buffer, size_t capacity);
// The entrypoint name (empty when the record had null or empty text).
STANDIN_ENGINE_EXPORT int32_t StandinEngineGetEntrypoint(
    FlutterDesktopEngineRef engine, char* buffer, size_t capacity);
// Number of entrypoint arguments, or -1.
STANDIN_ENGINE_EXPORT int32_t
StandinEngineGetArgumentCount(FlutterDesktopEngineRef engine);
// Argument `index` (UTF-8 bytes as passed; a null pointer in the array was
// taken as empty text). -1 when the index is out of range.
STANDIN_ENGINE_EXPORT int32_t
StandinEngineGetArgument(FlutterDesktopEngineRef engine, int32_t index,
                         char* buffer, size_t capacity);
// Engine option 1 or 2 from the record (`which` 1 or 2); 0 otherwise.
STANDIN_ENGINE_EXPORT int32_t
StandinEngineGetOption(FlutterDesktopEngineRef engine, int32_t which);

// Ends the engine as if it had stopped by itself: the destruction handlers of
// its registrars run (in registrar creation order), then the messenger
// becomes unavailable, every unanswered incoming message and all queued work
// is dropped, and every unanswered SendWithReply is answered with no data. The
// handles stay valid; the owner still destroys the engine or its view
// controller as usual, which then ends nothing more. Returns the number of
// destruction handlers run, or -1.
STANDIN_ENGINE_EXPORT int32_t
StandinEngineShutdown(FlutterDesktopEngineRef engine);

// Takes the engine's turn for every live engine created on the calling
// thread: runs their queued work, including what it queues, in order.
// Returns how many tasks ran.
STANDIN_ENGINE_EXPORT int32_t StandinEngineRunTasks(void);

// Runs the destruction handler of every registrar of the running engine, in
// creation order, and clears those handlers; the engine keeps running. The
// registrar handles stay the same: a later request for the same plugin name
// returns the same handle again, with no handler set. Returns the number of
// handlers run, or -1.
STANDIN_ENGINE_EXPORT int32_t
StandinEngineEndRegistrars(FlutterDesktopEngineRef engine);

// ---------------------------------------------------------------------------
// Messages from the user interface to the native side

// Receives the native side's reply to a delivered message: the bytes given to
// FlutterDesktopMessengerSendResponse (null and 0 for an empty reply). It runs
// at most once, on the engine's turn after the response was given.
typedef void (*StandinEngineReplyCallback)(const uint8_t* data, size_t size,
                                           void* user_data);

// Queues `size` bytes (copied) on `channel` of the engine's messenger, as the
// user interface would. On the engine's next turn the native callback then
// registered for the channel runs with a fresh response handle; with none
// registered by then the message is answered empty, as the engine answers
// unhandled messages.
// Returns:
//   1  queued, and the channel has a callback now; `reply` (may be null) is
//      called on a turn after the native side responds: perhaps never. It is
//      never called once the engine has ended (a response after that is
//      dropped and logged).
//   0  queued, but no callback is registered on the channel now.
//  -1  the engine is not live or no longer running; nothing is called.
STANDIN_ENGINE_EXPORT int32_t StandinEngineDeliverMessage(
    FlutterDesktopEngineRef engine, const char* channel, const uint8_t* data,
    size_t size, StandinEngineReplyCallback reply, void* user_data);

// Number of messages delivered to the engine's native callbacks whose
// response handle has not been used yet (0 once the engine has ended), or -1.
STANDIN_ENGINE_EXPORT int32_t
StandinEnginePendingResponseCount(FlutterDesktopEngineRef engine);

// 1 when a native callback is registered for `channel` on the engine, else 0
// (-1 for a bad engine).
STANDIN_ENGINE_EXPORT int32_t StandinEngineHasChannelCallback(
    FlutterDesktopEngineRef engine, const char* channel);

// ---------------------------------------------------------------------------
// Messages from the native side to the user interface

// Sees every FlutterDesktopMessengerSend and
// FlutterDesktopMessengerSendWithReply of a running engine, on the sending
// thread. `reply_id` is 0 for Send and for SendWithReply a positive id through
// which the UI side answers (StandinEngineAnswerOutgoing), now or later, from
// any thread. Return non-zero to accept the message (the send returns true) or
// 0 to refuse it (the send returns false and no reply callback will ever run;
// the reply id is then void).
typedef int32_t (*StandinEngineOutgoingHandler)(FlutterDesktopEngineRef engine,
                                                const char* channel,
                                                const uint8_t* data,
                                                size_t size, int64_t reply_id,
                                                void* user_data);

// Installs the handler (null removes it). Without a handler every send is
// accepted and a SendWithReply is answered on the engine's next turn with an
// empty reply, as for a channel without a handler on the UI side.
STANDIN_ENGINE_EXPORT void StandinEngineSetOutgoingHandler(
    StandinEngineOutgoingHandler handler, void* user_data);

// Answers an accepted SendWithReply: the sender's reply callback runs on the
// engine's next turn with these bytes (null and 0 for an empty reply). Returns
// 1 when the answer was queued, 0 when the id is unknown, already answered or
// its engine has ended. An engine that ends calls the sender back for every
// unanswered SendWithReply with no data (null and 0).
STANDIN_ENGINE_EXPORT int32_t StandinEngineAnswerOutgoing(int64_t reply_id,
                                                          const uint8_t* data,
                                                          size_t size);

// Number of accepted SendWithReply calls not yet answered on the engine, or -1.
STANDIN_ENGINE_EXPORT int32_t
StandinEnginePendingOutgoingCount(FlutterDesktopEngineRef engine);

// ---------------------------------------------------------------------------
// View controllers and window messages

// The next `count` calls of FlutterDesktopViewControllerCreate return null.
// The library owned the engine from the call on, so a refused call ends and
// frees the engine (logged as ended by "FlutterDesktopViewControllerCreate").
// 0 stops refusing.
STANDIN_ENGINE_EXPORT void StandinEngineRefuseViewControllers(int32_t count);

// FlutterDesktopViewControllerHandleTopLevelWindowProc of every controller
// claims `message` from now on: it stores `result` and returns true. A second
// claim of the same message replaces the result.
STANDIN_ENGINE_EXPORT void StandinEngineClaimWindowMessage(UINT message,
                                                           LRESULT result);
// No message is claimed any more.
STANDIN_ENGINE_EXPORT void StandinEngineClearWindowMessageClaims(void);

// How many times `message` was offered to
// FlutterDesktopViewControllerHandleTopLevelWindowProc (claimed or not).
STANDIN_ENGINE_EXPORT int32_t StandinEngineOfferedMessageCount(UINT message);

// The view window of the engine's view controller, or null (no controller,
// bad engine, or the window is gone). Always null in the native build.
STANDIN_ENGINE_EXPORT HWND
StandinEngineViewWindow(FlutterDesktopEngineRef engine);

// The scripted user interface (SCENARIO.md) runs for the first view
// controller of the process. 0 switches it off for controllers created from
// now on; 1 (the default) switches it back on.
STANDIN_ENGINE_EXPORT void StandinEngineSetScriptedUi(int32_t enabled);

// ---------------------------------------------------------------------------
// DPI

// FlutterDesktopGetDpiForMonitor returns `dpi` for every monitor while it is
// non-zero; 0 returns to the monitor's real DPI.
STANDIN_ENGINE_EXPORT void StandinEngineSetDpiOverride(UINT dpi);

// ---------------------------------------------------------------------------
// Textures

// Number of textures registered on the engine's texture registrar, or -1.
STANDIN_ENGINE_EXPORT int32_t
StandinEngineTextureCount(FlutterDesktopEngineRef engine);

// How many times
// FlutterDesktopTextureRegistrarMarkExternalTextureFrameAvailable succeeded for
// the texture, or -1 when it is not registered.
STANDIN_ENGINE_EXPORT int32_t StandinEngineTextureFramesMarked(
    FlutterDesktopEngineRef engine, int64_t texture_id);

// Calls the registered texture's callback with (width, height, its user
// data), as the engine's raster thread would, and returns what it returns:
// the pixel-buffer record or the GPU-surface descriptor. Null when the
// texture is not registered.
STANDIN_ENGINE_EXPORT const void* StandinEngineFetchTexture(
    FlutterDesktopEngineRef engine, int64_t texture_id, size_t width,
    size_t height);

// ---------------------------------------------------------------------------
// Event log
//
// The library appends one event for each of the things below, in order, for
// every engine of the process. Reading is safe while other threads append.

typedef enum {
  // FlutterDesktopEngineCreate made an engine.
  kStandinEventEngineCreated = 1,
  // An engine ended (registrars ended, messenger unavailable). `detail` names
  // the call that ended it: "FlutterDesktopEngineDestroy",
  // "FlutterDesktopViewControllerDestroy", "FlutterDesktopViewControllerCreate"
  // (a refused controller) or "StandinEngineShutdown". Once per engine.
  kStandinEventEngineEnded = 2,
  // FlutterDesktopEngineDestroy was called. `detail`: "owned" (it destroyed the
  // engine), "controller-owned" (refused, the engine belongs to a view
  // controller; returns false) or "unknown" (not a live engine).
  kStandinEventEngineDestroyCalled = 3,
  kStandinEventViewControllerCreated = 4,
  // FlutterDesktopViewControllerCreate returned null. `detail`: "refused"
  // (StandinEngineRefuseViewControllers), "bad-engine" or "window-failed".
  kStandinEventViewControllerRefused = 5,
  kStandinEventViewControllerDestroyed = 6,
  // FlutterDesktopEngineGetPluginRegistrar. `detail`: the plugin name;
  // `registrar`: the handle returned.
  kStandinEventRegistrarRequested = 7,
  // FlutterDesktopPluginRegistrarSetDestructionHandler. `detail`: plugin name;
  // "(null)" is appended when the handler passed was null.
  kStandinEventDestructionHandlerSet = 8,
  // A registrar's destruction handler ran. `detail`: plugin name.
  kStandinEventDestructionHandlerCalled = 9,
  kStandinEventFontsReloaded = 10,
  kStandinEventOutputStreamsResynced = 11,
  // FlutterDesktopMessengerSend / SendWithReply. `detail`: the channel.
  kStandinEventMessageSent = 12,
  // FlutterDesktopMessengerSendResponse with a handle that was used before.
  // `detail`: the channel of the original message.
  kStandinEventDuplicateResponse = 13,
  // FlutterDesktopMessengerSendResponse after the engine ended: not
  // delivered. `detail`: the channel.
  kStandinEventResponseDropped = 14,
  // A texture's unregister callback ran. `detail`: the texture id in decimal.
  kStandinEventTextureUnregistered = 15,
  // A call the real library would not survive or that breaks its contract
  // (null or unknown handles, unknown response handles, ...). `detail` says
  // which function and what.
  kStandinEventMisuse = 16,
} StandinEngineEventKind;

typedef struct {
  int32_t kind;           // StandinEngineEventKind
  int64_t engine_serial;  // StandinEngineSerial of the engine concerned, or 0
  // The registrar concerned (registrar events), else null. Compare only: the
  // handle may be freed by now.
  FlutterDesktopPluginRegistrarRef registrar;
  char detail[128];  // NUL-terminated; longer texts are cut
} StandinEngineEvent;

// Number of events logged since the last clear.
STANDIN_ENGINE_EXPORT int32_t StandinEngineEventCount(void);
// Copies event `index` (0 = oldest). Returns 1, or 0 when out of range.
STANDIN_ENGINE_EXPORT int32_t StandinEngineGetEvent(int32_t index,
                                                    StandinEngineEvent* event);
// Number of events of `kind` (0: any kind) for the engine with
// `engine_serial` (0: any engine).
STANDIN_ENGINE_EXPORT int32_t StandinEngineCountEvents(int32_t kind,
                                                       int64_t engine_serial);
STANDIN_ENGINE_EXPORT void StandinEngineClearEvents(void);

// Number of misuse events and second responses since the last
// acknowledgement (StandinEngineClearEvents does not reset it); the first
// one's detail goes to `buffer` as for text out.
STANDIN_ENGINE_EXPORT int32_t
StandinEngineUnacknowledgedMisuse(char* buffer, size_t capacity);
// A test that provokes misuse on purpose acknowledges it: returns the count
// and sets it back to 0.
STANDIN_ENGINE_EXPORT int32_t StandinEngineAcknowledgeMisuse(void);

#ifdef __cplusplus
}  // extern "C"
#endif

#endif  // QUILLON_STANDINS_ENGINE_STANDIN_CONTROL_H_
