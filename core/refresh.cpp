#include "core/refresh.h"

#include <algorithm>
#include <utility>

#include "viewer/servermatch.h"

namespace vigilo {

std::vector<std::string> RefreshHeads(tusers& s, int32_t conf, ms::TmsPOPClient& pop,
                                      const std::vector<tmailhead>& chosen) {
  tuser& u = s.Conf.at(static_cast<std::size_t>(conf));
  const std::vector<tmailhead> previous = u.Heads;
  const int32_t previousCount = u.HeadCount;
  std::vector<std::string> ambiguous;
  try {
    const int count = std::min(pop.MessageCount(), kMaxCheckedMessages);
    if (count < 1) {
      s.ClearHeads(conf, 0);
    } else {
      std::vector<ServerMessage> server;
      std::vector<ServerHead> heads;
      ReadServerHeads(pop, count, server, heads);
      const int32_t n =
          std::clamp<int32_t>(previousCount, 0, static_cast<int32_t>(previous.size()));
      const std::vector<tmailhead> records(previous.begin(), previous.begin() + n);
      const std::vector<bool> doomed = ChosenOnServer(chosen, server, records, ambiguous);
      StoreServerHeads(s, conf, pop, server, heads, doomed);
    }
    pop.Quit();
  } catch (...) {
    // Without QUIT the server deletes nothing: the records of before still hold.
    pop.Disconnect();
    u.Heads = previous;
    u.HeadCount = previousCount;
    throw;
  }
  return ambiguous;
}

}  // namespace vigilo
