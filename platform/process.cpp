#include "platform/process.h"

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fcntl.h>

#include <cerrno>
#include <cstdlib>

#include "platform/paths.h"

namespace korawin::platform {

namespace {

bool Executable(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::access(path.c_str(), X_OK) == 0;
}

}  // namespace

std::string FindProgram(std::string_view program, const std::vector<std::string>& folders) {
  std::string name(program);
  while (!name.empty() && name.back() == ' ') name.pop_back();
  if (name.empty()) return {};
  if (name.find('/') != std::string::npos) return Executable(name) ? name : std::string();
  std::vector<std::string> names = {name};
  if (name.size() > 4 && (name.compare(name.size() - 4, 4, ".exe") == 0 ||
                          name.compare(name.size() - 4, 4, ".EXE") == 0)) {
    names.push_back(name.substr(0, name.size() - 4));
  }
  std::vector<std::string> dirs = folders;
  if (const char* path = std::getenv("PATH")) {
    std::string p = path;
    size_t start = 0;
    while (start <= p.size()) {
      size_t end = p.find(':', start);
      if (end == std::string::npos) end = p.size();
      if (end > start) dirs.push_back(p.substr(start, end - start));
      start = end + 1;
    }
  }
  for (const std::string& dir : dirs) {
    for (const std::string& n : names) {
      std::string candidate = ResolveExisting(JoinPath(dir, n));
      if (Executable(candidate)) return candidate;
    }
  }
  return {};
}

int StartDetached(const std::string& path, const std::vector<std::string>& args) {
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(path.c_str()));
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  int pipefd[2];
  if (::pipe2(pipefd, O_CLOEXEC) != 0) return errno;
  pid_t child = ::fork();
  if (child < 0) {
    int e = errno;
    ::close(pipefd[0]);
    ::close(pipefd[1]);
    return e;
  }
  if (child == 0) {
    // The middle process: starts the program and ends at once, so the program is adopted by
    // init and never left as a zombie. A failed exec reports its errno through the pipe.
    ::close(pipefd[0]);
    ::setsid();
    pid_t grandchild = ::fork();
    if (grandchild == 0) {
      ::execv(path.c_str(), argv.data());
      int e = errno;
      ssize_t ignored = ::write(pipefd[1], &e, sizeof e);
      (void)ignored;  // nothing more can be done from here
      ::_exit(127);
    }
    ::_exit(grandchild < 0 ? 1 : 0);
  }
  ::close(pipefd[1]);
  int status = 0;
  while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  int e = 0;
  ssize_t n;
  while ((n = ::read(pipefd[0], &e, sizeof e)) < 0 && errno == EINTR) {
  }
  ::close(pipefd[0]);
  if (n == static_cast<ssize_t>(sizeof e)) return e;
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return ECHILD;
  return 0;
}

}  // namespace korawin::platform
