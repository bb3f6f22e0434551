// Runs a program under test, mostly quillon_pc.exe with the stand-in engine's
// scripted user interface, and reads back what it left: the transcript, its
// output and the files of its steps. Windows only.
#ifndef QUILLON_TESTS_SUPPORT_PROGRAM_RUN_H_
#define QUILLON_TESTS_SUPPORT_PROGRAM_RUN_H_

#include <windows.h>

#include <cstddef>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace test_support {

// The folder of the running test program, without a trailing separator.
std::wstring ProgramFolder();

// |name| in the folder of the running test program, where the build puts the
// programs under test.
std::wstring ProgramPath(const std::wstring& name);

std::string Utf8(const std::wstring& text);

// The whole file as bytes; empty when it cannot be read.
std::string ReadText(const std::wstring& path);

// Writes |text| as the whole file; false when it cannot be written.
bool WriteText(const std::wstring& path, const std::string& text);

// The lines of |text| without their line ends ("\n" or "\r\n"). A last line
// without a line feed is still being written and left out.
std::vector<std::string> Lines(const std::string& text);

// The lines of a text file, as Lines(); none when it cannot be read.
std::vector<std::string> ReadLines(const std::wstring& path);

// A fresh, empty file in the temporary folder, removed with the object.
class TempFile {
 public:
  explicit TempFile(const wchar_t* prefix);
  ~TempFile();
  TempFile(const TempFile&) = delete;
  TempFile& operator=(const TempFile&) = delete;

  const std::wstring& path() const { return path_; }
  std::string Read() const { return ReadText(path_); }
  bool Write(const std::string& text) const { return WriteText(path_, text); }
  // Removes the file now; the path stays the object's.
  void Remove() const;

 private:
  std::wstring path_;
};

// Sets (or, with a null value, removes) an environment variable of this
// process, and so of the programs it starts, for the life of the object; the
// earlier value comes back afterwards.
class ScopedEnvironment {
 public:
  ScopedEnvironment(std::wstring name, const wchar_t* value);
  ScopedEnvironment(std::wstring name, const std::wstring& value)
      : ScopedEnvironment(std::move(name), value.c_str()) {}
  ~ScopedEnvironment();
  ScopedEnvironment(const ScopedEnvironment&) = delete;
  ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

 private:
  std::wstring name_;
  std::optional<std::wstring> old_;
};

// How a ProgramRun starts its program.
struct ProgramOptions {
  // A full path.
  std::wstring program = ProgramPath(L"quillon_pc.exe");
  // Follows the quoted program path on the command line exactly as it is.
  std::wstring arguments;
  // The scenario of the stand-in engine's scripted user interface, written to
  // a temporary file that QUILLON_STANDIN_SCENARIO names (the program is not
  // started when that fails). Without one the variable is removed and the
  // engine looks in the assets folder.
  std::optional<std::string> scenario;
  // Further variables for the start, set after the scenario and transcript
  // ones (so they can replace them); a null value removes one.
  std::vector<std::pair<std::wstring, std::optional<std::wstring>>> environment;
  // Wait(), WaitForLine() and the kill on destruction wait this long.
  DWORD time_limit_ms = 30000;
  // The class of the program's main window, for MainWindow().
  std::wstring window_class = L"FLUTTER_RUNNER_WIN32_WINDOW";
};

// One run of a program, started in its own folder, with a fresh transcript
// file that QUILLON_STANDIN_TRANSCRIPT names and standard output and error
// going to a file. A process still running when the object goes is killed,
// so no test leaves an instance behind (holding the single-instance mutex,
// say). Any misuse of the stand-in engine that the transcript records fails
// the running test when the object goes.
class ProgramRun {
 public:
  explicit ProgramRun(ProgramOptions options);
  ~ProgramRun();
  ProgramRun(const ProgramRun&) = delete;
  ProgramRun& operator=(const ProgramRun&) = delete;

  bool started() const { return started_; }
  // The system's error code when the start failed.
  DWORD start_error() const { return start_error_; }
  const std::wstring& scenario_path() const { return scenario_.path(); }
  const std::wstring& transcript_path() const { return transcript_.path(); }

  // The exit code, or -1 when the process did not end within the limit.
  long Wait() { return Wait(options_.time_limit_ms); }
  long Wait(DWORD limit_ms);
  bool Running() const;

  std::vector<std::string> Transcript() const {
    return ReadLines(transcript_.path());
  }
  // The transcript without the "plugin ..." records that the stand-in plugin
  // libraries append to it: the scripted user interface's own lines.
  std::vector<std::string> StepLines() const;
  // Standard output and error.
  std::string Errors() const { return output_.Read(); }

  // Waits until the transcript holds |line|; false when the time limit
  // passed or the process ended without it.
  bool WaitForLine(const std::string& line) const;

  // The process's top-level window of the main window class, or null.
  HWND MainWindow() const;

  // Ends the process as a user closing its main window would; its exit code,
  // or -1 when it has no main window or did not end in time.
  long Close();

 private:
  ProgramOptions options_;
  TempFile scenario_{L"psc"};
  TempFile transcript_{L"ptr"};
  TempFile output_{L"pou"};
  HANDLE output_file_ = INVALID_HANDLE_VALUE;
  PROCESS_INFORMATION info_{};
  bool started_ = false;
  DWORD start_error_ = 0;
};

// The result of the step written as |step| in transcript |lines|: the text
// after "<step> -> " of its |occurrence|-th line.
std::string ResultOf(const std::vector<std::string>& lines,
                     const std::string& step, int occurrence = 0);

// A 24-bit bottom-up BMP as the scripted user interface's screenshot step
// writes it; width 0 when the file is not one.
struct Bmp {
  int width = 0;
  int height = 0;
  size_t offset = 0;
  std::string bytes;

  // The colour at (x, y), counted from the top-left corner.
  COLORREF At(int x, int y) const;
};

Bmp ReadBmp(const std::wstring& path);

// The work area of the primary monitor (under Wine, the only one).
RECT PrimaryWorkArea();

// The client rectangle of |window|, of any process, in screen coordinates.
RECT ClientOnScreen(HWND window);

}  // namespace test_support

#endif  // QUILLON_TESTS_SUPPORT_PROGRAM_RUN_H_
