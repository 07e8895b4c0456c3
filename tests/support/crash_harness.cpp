#include "tests/support/crash_harness.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace korawin::test {

namespace fs = std::filesystem;

namespace {

// Longest a child may run: a workload that loops after a crash must not hang the suite.
constexpr unsigned kChildSeconds = 30;

void WriteWhole(int fd, const std::string& text) {
  size_t done = 0;
  while (done < text.size()) {
    ssize_t r = ::write(fd, text.data() + done, text.size() - done);
    if (r <= 0) return;
    done += static_cast<size_t>(r);
  }
}

std::string ReadWhole(int fd) {
  std::string text;
  char buf[4096];
  for (;;) {
    ssize_t r = ::read(fd, buf, sizeof buf);
    if (r <= 0) break;
    text.append(buf, static_cast<size_t>(r));
  }
  return text;
}

}  // namespace

bool CrashContext::Step() {
  marks_.push_back(fs_->WritePoints());
  return stopAfter_ < 0 || static_cast<int>(marks_.size()) < stopAfter_;
}

std::string CrashReport::Failures() const {
  std::string text;
  for (const auto& f : failures)
    text += "point " + std::to_string(f.point) + " (step " + std::to_string(f.step) + ", " +
            f.at + "): " + f.what + "\n";
  return text;
}

std::string CrashReport::Summary() const {
  std::ostringstream out;
  out << "points " << points << ", steps " << steps << ", tried " << tried << ", recovered "
      << recovered;
  return out.str();
}

void CopyTree(const std::string& from, const std::string& to) {
  std::error_code ec;
  fs::remove_all(to, ec);
  fs::copy(from, to, fs::copy_options::recursive, ec);
}

CrashHarness::CrashHarness(std::string root) : root_(std::move(root)) {
  fs::create_directories(root_);
}

std::string CrashHarness::folder() const { return root_ + "/work"; }

void CrashHarness::Restore() { CopyTree(root_ + "/initial", folder()); }

CrashHarness::ChildResult CrashHarness::RunChild(const Workload& workload, int crashAt,
                                                 int stopAfter, const CrashOptions& options) {
  int pipeFds[2];
  ChildResult result;
  if (::pipe(pipeFds) != 0) return result;
  std::fflush(nullptr);
  pid_t pid = ::fork();
  if (pid == 0) {
    ::close(pipeFds[0]);
    ::alarm(kChildSeconds);
    FaultFileSystem faults;
    faults.SetRecordPoints(crashAt == 0);
    faults.CrashAt(crashAt, options.torn);
    faults.SetDropUnsynced(options.dropUnsynced);
    faults.SetLoseEntries(options.loseEntries);
    if (options.stopAtCrash) {
      // The machine stops here: nothing after the crash runs, not even destructors.
      faults.SetOnCrash([] { ::_exit(0); });
    }
    ScopedFileSystem installed(faults);
    CrashContext ctx;
    ctx.folder_ = folder();
    ctx.fs_ = &faults;
    ctx.stopAfter_ = stopAfter;
    try {
      workload(ctx);
    } catch (...) {
      ::_exit(4);  // never back into the test runner of the parent
    }
    faults.DiscardCreatedAfterCrash();
    std::ostringstream out;
    out << faults.WritePoints();
    for (int m : ctx.marks_) out << ' ' << m;
    out << '\n';
    for (const std::string& name : faults.PointNames()) out << name << '\n';
    WriteWhole(pipeFds[1], out.str());
    ::_exit(0);
  }
  ::close(pipeFds[1]);
  std::string text = ReadWhole(pipeFds[0]);
  ::close(pipeFds[0]);
  int status = 0;
  ::waitpid(pid, &status, 0);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return result;
  std::istringstream in(text);
  std::string line;
  std::getline(in, line);
  std::istringstream counts(line);
  result.ok = static_cast<bool>(counts >> result.points) || crashAt > 0;
  int m;
  while (counts >> m) result.marks.push_back(m);
  while (std::getline(in, line)) result.pointNames.push_back(line);
  return result;
}

CrashReport CrashHarness::Run(const Setup& setup, const Workload& workload, const Dump& dump,
                              const CrashOptions& options) {
  CrashReport report;
  // The journal of a transaction goes to a folder inside the work folder, so that restoring
  // the folder also restores (or removes) journals.
  std::string config = root_ + "/config";
  fs::create_directories(config + "/korawin1");
  const char* oldConfig = std::getenv("XDG_CONFIG_HOME");
  std::string savedConfig = oldConfig ? oldConfig : "";
  {
    std::ofstream ini(config + "/korawin1/win.ini", std::ios::trunc);
    ini << "[VWC21]\nVELTMP=" << folder() << "/tmp\n";
  }
  ::setenv("XDG_CONFIG_HOME", config.c_str(), 1);
  auto restoreEnv = [&] {
    if (oldConfig)
      ::setenv("XDG_CONFIG_HOME", savedConfig.c_str(), 1);
    else
      ::unsetenv("XDG_CONFIG_HOME");
  };
  std::vector<std::string> pointNames;
  auto fail = [&](int point, int step, std::string what) {
    std::string at = point >= 1 && point <= static_cast<int>(pointNames.size())
                         ? pointNames[point - 1]
                         : std::string();
    report.failures.push_back({point, step, std::move(at), std::move(what)});
  };

  std::error_code ec;
  fs::remove_all(folder(), ec);
  fs::create_directories(folder() + "/tmp");
  setup(folder());
  CopyTree(folder(), root_ + "/initial");

  std::vector<std::string> states;
  std::string damage;
  states.push_back(dump(folder(), &damage));
  if (!damage.empty()) {
    fail(0, 0, "initial state: " + damage);
    restoreEnv();
    return report;
  }

  Restore();
  ChildResult whole = RunChild(workload, 0, -1, options);
  if (!whole.ok) {
    fail(0, 0, "the workload failed without faults");
    restoreEnv();
    return report;
  }
  report.points = whole.points;
  pointNames = whole.pointNames;
  std::vector<int> marks = whole.marks;
  if (marks.empty() || marks.back() < whole.points) marks.push_back(whole.points);
  report.steps = static_cast<int>(marks.size());

  // The state after each step, from runs that stop there.
  for (int j = 1; j <= report.steps; ++j) {
    Restore();
    ChildResult part = j == report.steps ? RunChild(workload, 0, -1, options)
                                         : RunChild(workload, 0, j, options);
    damage.clear();
    states.push_back(part.ok ? dump(folder(), &damage) : std::string());
    if (!part.ok || !damage.empty()) {
      fail(0, j, "state after step " + std::to_string(j) + ": " + damage);
      restoreEnv();
      return report;
    }
  }

  for (int k = 1; k <= report.points; k += std::max(1, options.stride)) {
    if (options.pointFilter && k <= static_cast<int>(pointNames.size()) &&
        !options.pointFilter(pointNames[k - 1]))
      continue;
    Restore();
    ++report.tried;
    int step = 1;
    while (step < report.steps && k > marks[step - 1]) ++step;
    RunChild(workload, k, -1, options);
    damage.clear();
    std::string state = dump(folder(), &damage);
    if (!damage.empty()) {
      fail(k, step, damage);
      continue;
    }
    if (state != states[step - 1] && state != states[step]) {
      fail(k, step, "state is neither before nor after the step:\n" + state + "\nbefore:\n" +
                        states[step - 1] + "\nafter:\n" + states[step]);
      continue;
    }
    ++report.recovered;
  }
  restoreEnv();
  return report;
}

}  // namespace korawin::test
