#pragma once
// Process list and process start. Any thread; the set of started children awaiting reaping is
// guarded by a mutex inside the implementation.
#include <optional>
#include <string>
#include <vector>

namespace platform::system {

using ProcessId = int;

struct ProcessEntry {
  ProcessId pid = 0;
  // Executable file name without folder, as the process list shows it.
  std::string name;
};

// Every running process (zombies excluded: they no longer run). Entries that vanish while the
// list is read are skipped. Empty optional when the list cannot be read at all.
std::optional<std::vector<ProcessEntry>> ListProcesses();

// The running processes (zombies excluded) of the current user whose program is the file
// `executablePath`, compared with links resolved; a program replaced on disk while it runs still
// counts under its path. Processes of other users never count, whatever they run. Empty
// optional when the list cannot be read at all.
std::optional<std::vector<ProcessId>> OwnProcessesOfProgram(const std::string& executablePath);

struct StartOptions {
  std::vector<std::string> arguments;  // after the program name
  std::string workingDirectory;        // empty: the caller's
  std::vector<std::string> extraEnvironment;  // "NAME=value", added to the caller's environment
  bool searchPath = false;             // look the program up in PATH (else the name as given)
  bool quiet = false;                  // standard input/output/error to the null device
  std::string outputFile;              // when set: standard output and error appended there
  // When 0 or more: standard output goes to this descriptor (a pipe's write end), input and
  // error to the null device. The caller keeps and closes its own copy.
  int outputDescriptor = -1;
};

// Starts `program` and does not wait for it. Descriptors other than 0-2 are not inherited.
// The child is reaped later by ReapStartedProcesses or WaitForExit, so none is left a zombie.
std::optional<ProcessId> StartProcess(const std::string& program, const StartOptions& options);

// Collects the exit status of every started child that has ended, without blocking.
void ReapStartedProcesses();

// For a started child nobody will wait for (a box shown to the user): a thread of its own
// collects it when it ends, so it never lingers as a zombie. WaitForExit no longer sees it.
void CollectWhenEnded(ProcessId pid);

// Waits up to `timeoutMs` for a started child to end; its exit code (128 + signal when killed),
// or empty when it is still running.
std::optional<int> WaitForExit(ProcessId pid, int timeoutMs);

// Ends a process at once (no chance to clean up).
bool KillProcess(ProcessId pid);

ProcessId CurrentProcessId();

}  // namespace platform::system
