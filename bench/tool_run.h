// The command-line tool run as a user runs it, in a process of its own, with its time and its
// peak resident memory. A process started straight from a bench would count the bench's own
// memory in its peak (Linux carries the peak of the image it replaces over into the new one),
// so the bench is started again with "--run" and starts the tool from that small process.
#pragma once

#include <string>
#include <vector>

namespace korawin::bench {

struct ToolRun {
  double seconds = 0;
  long peakKb = 0;  // the tool's peak resident set
  std::string out;  // the first line it printed on standard output
};

// Call first in main: when argv asks for it, runs the tool and returns the bench's exit code
// (*handled true); otherwise does nothing.
int MeasureToolWhenAsked(int argc, char** argv, bool* handled);

// Runs `tool args...` with its standard output into outPath (no terminal: no progress line);
// fails the bench when the tool fails. outPath is removed afterwards unless keepOut.
ToolRun RunTool(const std::string& tool, const std::vector<std::string>& args,
                const std::string& outPath, bool keepOut = false);

}  // namespace korawin::bench
