#pragma once
// The local network as workgroups with their computers, for the messenger's tree.
// The names come from a NeighbourhoodSource; the system's source asks the browse
// services installed on this computer (Samba's smbtree, else Avahi's avahi-browse).

#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace vigilo {

class ECannotFindNetwork : public std::runtime_error {
 public:
  ECannotFindNetwork() : std::runtime_error("Cannot find network neiborhood") {}
};

// The computer names of one workgroup, in the order the source lists them.
using TNetworkWorkgroup = std::vector<std::string>;

struct NetworkWorkgroup {
  std::string Name;
  TNetworkWorkgroup Computers;
};

class NeighbourhoodSource {
 public:
  virtual ~NeighbourhoodSource() = default;
  // Every workgroup with its computers. Throws (anything) when the network cannot be
  // browsed at all.
  virtual std::vector<NetworkWorkgroup> Browse() = 0;
};

// smbtree when it is on PATH, else avahi-browse, else a source that always fails. Each
// runs as one program with arguments (no shell) and is killed after timeLimitMs.
std::unique_ptr<NeighbourhoodSource> CreateSystemNeighbourhoodSource(int timeLimitMs = 15000);

// The lists of the two browse programs' output.
std::vector<NetworkWorkgroup> ParseSmbtree(const std::string& output);
std::vector<NetworkWorkgroup> ParseAvahiBrowse(const std::string& output);

// Runs argv[0] (looked up on PATH) with its arguments, stdin from /dev/null, and returns
// what it writes to stdout (at most maxOutput bytes). Throws std::runtime_error when it
// cannot start, runs longer than timeLimitMs (it is killed) or exits unsuccessfully.
std::string RunProgram(const std::vector<std::string>& argv, int timeLimitMs,
                       std::size_t maxOutput = 1 << 20);
// The full path of an executable file named `name` on PATH, or "".
std::string FindOnPath(const std::string& name);

// This computer's name (gethostname), or "" when it cannot be read.
std::string LocalComputerName();

// The workgroups and computers, built once at construction; names are trimmed.
class TNetworkNeighborhood {
 public:
  // Builds the list; any failure of the source raises ECannotFindNetwork.
  explicit TNetworkNeighborhood(NeighbourhoodSource& source);

  int Count() const { return static_cast<int>(items_.size()); }
  const std::string& Strings(int i) const { return items_.at(i).Name; }
  const TNetworkWorkgroup& Objects(int i) const { return items_.at(i).Computers; }
  void Clear() { items_.clear(); }

 private:
  void Refresh(NeighbourhoodSource& source);
  std::vector<NetworkWorkgroup> items_;
};

}  // namespace vigilo
