#pragma once
// A load on a LAN listener, all on loopback: many idle or slow connections from many
// source addresses, a stream of garbage frames, and meanwhile a real sender whose
// answer time is measured. Used by the suite (small) and by the lan_load program.

#include <atomic>
#include <cstddef>
#include <string>

#include "lan/lanmsg.h"

namespace vigilo::test {

struct LoadOptions {
  int Idle = 512;       // connections that send nothing or half a length field
  int Garbage = 10000;  // connections that send a garbage frame and close
  int RealSends = 5;    // real messages sent at least, and on until the garbage ends
};

struct LoadReport {
  int RealSent = 0;
  int RealAnswered = 0;
  double WorstAnswerMs = 0;        // the slowest real exchange
  std::size_t MaxConnections = 0;  // the listener's own count at its highest
  long MaxThreads = 0;             // threads of the process at the highest, minus the start
  long RssPeakKb = 0;              // resident memory at the highest
  int GarbageSent = 0;
  std::string Summary() const;
};

// Runs the load against `server` (listening on 127.0.0.1:BoundPort()), then stops it.
// The real sends are counted through `delivered`, which the caller's OnMSG increments.
LoadReport RunLoad(TLanMsgServ& server, const LoadOptions& options,
                   const std::atomic<int>& delivered);

}  // namespace vigilo::test
