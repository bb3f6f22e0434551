#include "tests/support/program_run.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>

namespace test_support {

namespace {

constexpr DWORD kPollMs = 20;

struct FileCloser {
  void operator()(FILE* file) const { std::fclose(file); }
};
using UniqueFile = std::unique_ptr<FILE, FileCloser>;

}  // namespace

std::wstring ProgramFolder() {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length =
        GetModuleFileNameW(nullptr, &path[0], static_cast<DWORD>(path.size()));
    if (length < path.size()) {
      path.resize(length);
      break;
    }
    path.resize(path.size() * 2);
  }
  return path.substr(0, path.find_last_of(L"\\/"));
}

std::wstring ProgramPath(const std::wstring& name) {
  return ProgramFolder() + L"\\" + name;
}

std::string Utf8(const std::wstring& text) {
  if (text.empty()) {
    return std::string();
  }
  const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(),
                                       static_cast<int>(text.size()), nullptr,
                                       0, nullptr, nullptr);
  std::string out(static_cast<size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                      &out[0], size, nullptr, nullptr);
  return out;
}

std::string ReadText(const std::wstring& path) {
  std::string text;
  UniqueFile file(_wfopen(path.c_str(), L"rb"));
  if (!file) {
    return text;
  }
  char buffer[65536];
  size_t count;
  while ((count = std::fread(buffer, 1, sizeof(buffer), file.get())) > 0) {
    text.append(buffer, count);
  }
  return text;
}

bool WriteText(const std::wstring& path, const std::string& text) {
  UniqueFile file(_wfopen(path.c_str(), L"wb"));
  return file &&
         std::fwrite(text.data(), 1, text.size(), file.get()) == text.size();
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  size_t end;
  while ((end = text.find('\n', start)) != std::string::npos) {
    std::string line = text.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') {
      line.pop_back();
    }
    lines.push_back(line);
    start = end + 1;
  }
  return lines;
}

std::vector<std::string> ReadLines(const std::wstring& path) {
  return Lines(ReadText(path));
}

TempFile::TempFile(const wchar_t* prefix) {
  wchar_t folder[MAX_PATH + 1];
  wchar_t file[MAX_PATH + 1];
  GetTempPathW(MAX_PATH + 1, folder);
  GetTempFileNameW(folder, prefix, 0, file);  // creates it, empty
  path_ = file;
}

TempFile::~TempFile() { Remove(); }

void TempFile::Remove() const { DeleteFileW(path_.c_str()); }

ScopedEnvironment::ScopedEnvironment(std::wstring name, const wchar_t* value)
    : name_(std::move(name)) {
  const DWORD size = GetEnvironmentVariableW(name_.c_str(), nullptr, 0);
  if (size > 0) {
    std::wstring old(size, L'\0');
    const DWORD length = GetEnvironmentVariableW(name_.c_str(), &old[0], size);
    if (length < size) {
      old.resize(length);
      old_ = old;
    }
  }
  SetEnvironmentVariableW(name_.c_str(), value);
}

ScopedEnvironment::~ScopedEnvironment() {
  SetEnvironmentVariableW(name_.c_str(), old_ ? old_->c_str() : nullptr);
}

ProgramRun::ProgramRun(ProgramOptions options) : options_(std::move(options)) {
  std::vector<std::unique_ptr<ScopedEnvironment>> environment;
  if (options_.scenario) {
    if (!scenario_.Write(*options_.scenario)) {
      start_error_ = ERROR_WRITE_FAULT;
      return;
    }
    environment.push_back(std::make_unique<ScopedEnvironment>(
        L"QUILLON_STANDIN_SCENARIO", scenario_.path()));
  } else {
    environment.push_back(std::make_unique<ScopedEnvironment>(
        L"QUILLON_STANDIN_SCENARIO", nullptr));
  }
  environment.push_back(std::make_unique<ScopedEnvironment>(
      L"QUILLON_STANDIN_TRANSCRIPT", transcript_.path()));
  for (const auto& variable : options_.environment) {
    environment.push_back(std::make_unique<ScopedEnvironment>(
        variable.first, variable.second ? variable.second->c_str() : nullptr));
  }

  SECURITY_ATTRIBUTES inheritable{sizeof(inheritable), nullptr, TRUE};
  output_file_ = CreateFileW(output_.path().c_str(), GENERIC_WRITE,
                             FILE_SHARE_READ | FILE_SHARE_WRITE, &inheritable,
                             CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = nullptr;
  startup.hStdOutput = output_file_;
  startup.hStdError = output_file_;

  const std::wstring& program = options_.program;
  std::wstring command_line = L"\"" + program + L"\"";
  if (!options_.arguments.empty()) {
    command_line += L" " + options_.arguments;
  }
  const std::wstring folder = program.substr(0, program.find_last_of(L"\\/"));
  started_ =
      CreateProcessW(program.c_str(), &command_line[0], nullptr, nullptr, TRUE,
                     0, nullptr, folder.c_str(), &startup, &info_) != 0;
  if (!started_) {
    start_error_ = GetLastError();
  }
}

ProgramRun::~ProgramRun() {
  if (started_) {
    if (WaitForSingleObject(info_.hProcess, 0) == WAIT_TIMEOUT) {
      TerminateProcess(info_.hProcess, 99);
      WaitForSingleObject(info_.hProcess, options_.time_limit_ms);
    }
    CloseHandle(info_.hThread);
    CloseHandle(info_.hProcess);
  }
  if (output_file_ != INVALID_HANDLE_VALUE) {
    CloseHandle(output_file_);
  }
  // The stand-in engine writes every misuse of its interface into the
  // transcript; any of it fails the test that ran the program.
  for (const std::string& line : Transcript()) {
    if (line.rfind("misuse ", 0) == 0) {
      ADD_FAILURE() << "the program misused the engine: " << line;
    }
  }
}

long ProgramRun::Wait(DWORD limit_ms) {
  if (!started_ ||
      WaitForSingleObject(info_.hProcess, limit_ms) != WAIT_OBJECT_0) {
    return -1;
  }
  DWORD code = 0;
  GetExitCodeProcess(info_.hProcess, &code);
  return static_cast<long>(code);
}

bool ProgramRun::Running() const {
  return started_ && WaitForSingleObject(info_.hProcess, 0) == WAIT_TIMEOUT;
}

std::vector<std::string> ProgramRun::StepLines() const {
  std::vector<std::string> lines = Transcript();
  lines.erase(std::remove_if(lines.begin(), lines.end(),
                             [](const std::string& line) {
                               return line.rfind("plugin ", 0) == 0;
                             }),
              lines.end());
  return lines;
}

bool ProgramRun::WaitForLine(const std::string& line) const {
  const auto holds = [this, &line] {
    const std::vector<std::string> lines = Transcript();
    return std::find(lines.begin(), lines.end(), line) != lines.end();
  };
  for (DWORD waited = 0; waited < options_.time_limit_ms; waited += kPollMs) {
    if (holds()) {
      return true;
    }
    if (!Running()) {
      return holds();
    }
    Sleep(kPollMs);
  }
  return false;
}

HWND ProgramRun::MainWindow() const {
  struct Search {
    DWORD process;
    const wchar_t* window_class;
    HWND found;
  } search{info_.dwProcessId, options_.window_class.c_str(), nullptr};
  EnumWindows(
      [](HWND window, LPARAM parameter) -> BOOL {
        auto* s = reinterpret_cast<Search*>(parameter);
        DWORD owner = 0;
        GetWindowThreadProcessId(window, &owner);
        wchar_t name[256] = {};
        GetClassNameW(window, name, 256);
        if (owner == s->process && wcscmp(name, s->window_class) == 0) {
          s->found = window;
          return FALSE;
        }
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&search));
  return search.found;
}

long ProgramRun::Close() {
  HWND window = MainWindow();
  if (window == nullptr) {
    return -1;
  }
  PostMessageW(window, WM_CLOSE, 0, 0);
  return Wait();
}

std::string ResultOf(const std::vector<std::string>& lines,
                     const std::string& step, int occurrence) {
  const std::string prefix = step + " -> ";
  for (const std::string& line : lines) {
    if (line.rfind(prefix, 0) == 0 && occurrence-- == 0) {
      return line.substr(prefix.size());
    }
  }
  return "(step not in transcript)";
}

COLORREF Bmp::At(int x, int y) const {
  const size_t row = (static_cast<size_t>(width) * 3 + 3) & ~size_t{3};
  const size_t at = offset + (height - 1 - y) * row + x * 3;
  return RGB(static_cast<uint8_t>(bytes[at + 2]),
             static_cast<uint8_t>(bytes[at + 1]),
             static_cast<uint8_t>(bytes[at]));
}

Bmp ReadBmp(const std::wstring& path) {
  Bmp bmp;
  bmp.bytes = ReadText(path);
  BITMAPFILEHEADER file{};
  BITMAPINFOHEADER info{};
  if (bmp.bytes.size() < sizeof(file) + sizeof(info)) {
    return bmp;
  }
  std::memcpy(&file, bmp.bytes.data(), sizeof(file));
  std::memcpy(&info, bmp.bytes.data() + sizeof(file), sizeof(info));
  const size_t row = (static_cast<size_t>(info.biWidth) * 3 + 3) & ~size_t{3};
  if (file.bfType != 0x4D42 || info.biBitCount != 24 ||
      info.biCompression != BI_RGB || info.biWidth <= 0 || info.biHeight <= 0 ||
      file.bfOffBits + row * info.biHeight > bmp.bytes.size()) {
    return bmp;
  }
  bmp.width = info.biWidth;
  bmp.height = info.biHeight;
  bmp.offset = file.bfOffBits;
  return bmp;
}

RECT PrimaryWorkArea() {
  MONITORINFO info = {};
  info.cbSize = sizeof(info);
  GetMonitorInfoW(MonitorFromPoint(POINT{0, 0}, MONITOR_DEFAULTTOPRIMARY),
                  &info);
  return info.rcWork;
}

RECT ClientOnScreen(HWND window) {
  RECT client{};
  GetClientRect(window, &client);
  MapWindowPoints(window, nullptr, reinterpret_cast<POINT*>(&client), 2);
  return client;
}

}  // namespace test_support
