#include "bench/tool_run.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

extern char** environ;

namespace korawin::bench {

namespace {

using Clock = std::chrono::steady_clock;

[[noreturn]] void Fail(const std::string& what) {
  std::fprintf(stderr, "bench: %s\n", what.c_str());
  std::exit(1);
}

// In the small process: starts the tool with its standard output and error in files, waits
// and prints "status seconds peak-KB".
int RunAndMeasure(char** argv) {
  const std::string out = argv[0];
  auto start = Clock::now();
  pid_t pid = fork();
  if (pid == 0) {
    int o = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    int e = open((out + ".err").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (o < 0 || e < 0 || dup2(o, STDOUT_FILENO) < 0 || dup2(e, STDERR_FILENO) < 0) _exit(126);
    execv(argv[1], argv + 1);
    _exit(127);
  }
  int status = 0;
  rusage usage{};
  if (pid < 0 || wait4(pid, &status, 0, &usage) != pid) return 1;
  std::printf("%d %.6f %ld\n", WIFEXITED(status) ? WEXITSTATUS(status) : 128,
              std::chrono::duration<double>(Clock::now() - start).count(), usage.ru_maxrss);
  return 0;
}

}  // namespace

int MeasureToolWhenAsked(int argc, char** argv, bool* handled) {
  *handled = argc > 3 && std::string(argv[1]) == "--run";
  return *handled ? RunAndMeasure(argv + 2) : 0;
}

ToolRun RunTool(const std::string& tool, const std::vector<std::string>& args,
                const std::string& outPath, bool keepOut) {
  std::vector<std::string> all = {"bench", "--run", outPath, tool};
  all.insert(all.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& a : all) argv.push_back(a.data());
  argv.push_back(nullptr);
  const std::string measured = outPath + ".run";
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, measured.c_str(),
                                   O_WRONLY | O_CREAT | O_TRUNC, 0644);
  pid_t pid;
  if (posix_spawn(&pid, "/proc/self/exe", &actions, nullptr, argv.data(), environ) != 0)
    Fail("cannot run the bench again to measure the tool");
  posix_spawn_file_actions_destroy(&actions);
  int status = 0;
  if (waitpid(pid, &status, 0) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
    Fail("the measuring process failed");
  ToolRun r;
  int toolStatus = -1;
  std::ifstream(measured) >> toolStatus >> r.seconds >> r.peakKb;
  std::getline(std::ifstream(outPath) >> std::ws, r.out);
  if (toolStatus != 0) {
    std::ifstream err(outPath + ".err");
    std::string why((std::istreambuf_iterator<char>(err)), std::istreambuf_iterator<char>());
    Fail(args[0] + " exits with " + std::to_string(toolStatus) + ": " + why);
  }
  std::filesystem::remove(measured);
  std::filesystem::remove(outPath + ".err");
  if (!keepOut) std::filesystem::remove(outPath);
  return r;
}

}  // namespace korawin::bench
