// The scripted user interface's transcript: one line per event, appended to
// the file named by QUILLON_STANDIN_TRANSCRIPT, or written to standard
// output when it is not set; flushed after every line.
#ifndef QUILLON_STANDINS_SCRIPTED_UI_TRANSCRIPT_H_
#define QUILLON_STANDINS_SCRIPTED_UI_TRANSCRIPT_H_

#include <string>

namespace standin {

// Writes `line` and a line end. Thread-safe.
void WriteTranscriptLine(const std::string& line);

}  // namespace standin

#endif  // QUILLON_STANDINS_SCRIPTED_UI_TRANSCRIPT_H_
