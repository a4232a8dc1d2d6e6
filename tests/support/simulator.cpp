#include "tests/support/simulator.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <sstream>
#include <stdexcept>

#include "tests/support/temp_dir.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
extern char** environ;
#endif

#ifndef TESSEL_SIMULATOR_PATH
#error "TESSEL_SIMULATOR_PATH must name the built Zorvane.exe"
#endif

namespace tsl::testing {

namespace {

// The build hands out build-host paths. A Windows test under wine sees the
// build host's file system as drive Z:, and its APIs want that form.
std::string nativePath(std::string path) {
#ifdef _WIN32
  if (!path.empty() && path[0] == '/') {
    std::string drive = "Z:";
    drive += path;
    path = drive;
  }
  std::replace(path.begin(), path.end(), '/', '\\');
#endif
  return path;
}

HostCall parseCall(const std::string& line) {
  const JsonValue value = parseJson(line);
  HostCall call;
  call.line = line;
  call.call = value.at("call").text();
  call.args = value.at("args").items();
  if (value.has("result")) call.result = value.at("result");
  return call;
}

std::vector<HostCall> parseTranscript(const std::string& text) {
  std::vector<HostCall> calls;
  std::istringstream lines(text);
  std::string line;
  while (std::getline(lines, line)) {
    if (line.empty()) continue;
    try {
      calls.push_back(parseCall(line));
    } catch (const std::exception& error) {
      throw std::runtime_error("transcript line " + std::to_string(calls.size() + 1) + ": " +
                               error.what());
    }
  }
  return calls;
}

#ifdef _WIN32

// One argument quoted for the C runtime's command-line parser: backslashes
// are literal except before a quote, where they and the quote are escaped.
std::string quoteArgument(const std::string& arg) {
  if (!arg.empty() && arg.find_first_of(" \t\n\v\"") == std::string::npos) return arg;
  std::string quoted = "\"";
  std::size_t backslashes = 0;
  for (const char c : arg) {
    if (c == '\\') {
      ++backslashes;
    } else if (c == '"') {
      quoted.append(2 * backslashes + 1, '\\');
      quoted += '"';
      backslashes = 0;
    } else {
      quoted.append(backslashes, '\\');
      quoted += c;
      backslashes = 0;
    }
  }
  quoted.append(2 * backslashes, '\\');
  quoted += '"';
  return quoted;
}

// How often runProcess tries a start that wine could not complete.
constexpr int kStartAttempts = 3;

HANDLE inheritableFile(const std::string& path) {
  SECURITY_ATTRIBUTES security{};
  security.nLength = sizeof security;
  security.bInheritHandle = TRUE;
  HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                            &security, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) throw std::runtime_error("cannot create " + path);
  return file;
}

int runProcess(const std::string& program, const std::vector<std::string>& args,
               const std::string& outPath, const std::string& errPath) {
  std::string commandLine = quoteArgument(program);
  for (const std::string& arg : args) {
    commandLine += ' ';
    commandLine += quoteArgument(arg);
  }
  PROCESS_INFORMATION process{};
  for (int attempt = 1;; ++attempt) {
    HANDLE out = inheritableFile(outPath);
    HANDLE err = inheritableFile(errPath);
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = out;
    startup.hStdError = err;
    std::vector<char> mutableLine(commandLine.begin(), commandLine.end());
    mutableLine.push_back('\0');
    const BOOL started = CreateProcessA(program.c_str(), mutableLine.data(), nullptr, nullptr, TRUE,
                                        0, nullptr, nullptr, &startup, &process);
    const DWORD startError = GetLastError();
    CloseHandle(out);
    CloseHandle(err);
    if (started) break;
    // Wine reports ERROR_INTERNAL_ERROR when the new process was gone before
    // its start-up had finished, before any code of the simulator ran (it
    // imports only the system's libraries and loads the plug-in later). That
    // says nothing about the test, so such a start is tried again.
    if (startError != ERROR_INTERNAL_ERROR || attempt == kStartAttempts) {
      throw std::runtime_error("cannot start " + program + " (error " + std::to_string(startError) +
                               ")");
    }
  }
  WaitForSingleObject(process.hProcess, INFINITE);
  DWORD status = 0;
  GetExitCodeProcess(process.hProcess, &status);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return static_cast<int>(status);
}

#else

int runProcess(const std::string& program, const std::vector<std::string>& args,
               const std::string& outPath, const std::string& errPath) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, outPath.c_str(),
                                   O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, errPath.c_str(),
                                   O_WRONLY | O_CREAT | O_TRUNC, 0644);
  std::vector<std::string> argvText{program};
  argvText.insert(argvText.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& arg : argvText) argv.push_back(arg.data());
  argv.push_back(nullptr);
  pid_t pid = 0;
  const int error = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (error != 0) {
    throw std::runtime_error("cannot start " + program + " (error " + std::to_string(error) + ")");
  }
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) throw std::runtime_error("waitpid failed for " + program);
  }
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
  return -1;
}

#endif

}  // namespace

const JsonValue& HostCall::arg(std::size_t i) const {
  if (i >= args.size()) {
    throw std::runtime_error(call + " has no argument " + std::to_string(i) + ": " + line);
  }
  return args[i];
}

std::vector<std::string> SimulatorRun::messages() const {
  std::vector<std::string> texts;
  for (const HostCall* call : calls("zrMessageBox")) texts.push_back(call->text(0));
  return texts;
}

std::vector<std::string> SimulatorRun::logTexts() const {
  std::vector<std::string> texts;
  for (const HostCall* call : calls("zrLogText")) texts.push_back(call->text(0));
  return texts;
}

std::vector<const HostCall*> SimulatorRun::calls(const std::string& name) const {
  std::vector<const HostCall*> found;
  for (const HostCall& call : transcript) {
    if (call.call == name) found.push_back(&call);
  }
  return found;
}

std::vector<std::string> SimulatorRun::callNames() const {
  std::vector<std::string> names;
  for (const HostCall& call : transcript) names.push_back(call.call);
  return names;
}

std::string SimulatorRun::describe() const {
  std::string text =
      "exit status " + std::to_string(exitCode) + "\nstandard error:\n" + err + "\ntranscript:\n";
  for (const HostCall& call : transcript) text += call.line + "\n";
  return text;
}

std::string hostPath(const std::string& buildPath) { return nativePath(buildPath); }

std::string pluginPath() { return nativePath(TESSEL_PLUGIN_PATH); }

std::string simulatorPath(const std::string& variant) {
  if (variant.empty()) return nativePath(TESSEL_SIMULATOR_PATH);
  if (variant == "noversion") return nativePath(TESSEL_SIMULATOR_NOVERSION_PATH);
  if (variant == "noparams") return nativePath(TESSEL_SIMULATOR_NOPARAMS_PATH);
  if (variant == "nodocumentid") return nativePath(TESSEL_SIMULATOR_NODOCUMENTID_PATH);
  throw std::invalid_argument("no simulator variant \"" + variant + "\"");
}

SimulatorRun runSimulator(const std::vector<std::string>& args, const std::string& variant) {
  const std::string program = simulatorPath(variant);
  TempDir files;
  const std::string transcriptPath = nativePath(files.file("transcript.jsonl"));
  const std::string outPath = nativePath(files.file("stdout.txt"));
  const std::string errPath = nativePath(files.file("stderr.txt"));
  std::vector<std::string> fullArgs = args;
  if (std::find(args.begin(), args.end(), "--plugin") == args.end()) {
    fullArgs.push_back("--plugin");
    fullArgs.push_back(pluginPath());
  }
  fullArgs.push_back("--transcript");
  fullArgs.push_back(transcriptPath);

  SimulatorRun run;
  run.exitCode = runProcess(program, fullArgs, outPath, errPath);
  run.out = readFile(outPath);
  run.err = readFile(errPath);
  std::string transcript;
  try {
    transcript = readFile(transcriptPath);
  } catch (const std::exception&) {
    // No transcript: the simulator stopped before it opened one (bad command line).
  }
  run.transcript = parseTranscript(transcript);
  return run;
}

}  // namespace tsl::testing
