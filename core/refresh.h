#pragma once
// The server work of the viewer's immediate deletion: in one POP3 session the messages
// the user chose are deleted and the headers of all the others read again.

#include <cstdint>
#include <string>
#include <vector>

#include "config/myuser.h"
#include "mail/mspop.h"

namespace vigilo {

// With a session logged in to configuration conf's server: reads every message's
// header, sends DELE for each message one of `chosen` names (by unique id, else by
// its key when that names exactly one message), stores a record for every other
// message (the subject's page declared, else guessed) and says QUIT. Returns the keys
// of chosen records that named several messages: none of those was deleted. An error
// of the server or the connection closes the session without QUIT (nothing deleted),
// puts the previous records back and is raised.
std::vector<std::string> RefreshHeads(tusers& s, int32_t conf, ms::TmsPOPClient& pop,
                                      const std::vector<tmailhead>& chosen);

}  // namespace vigilo
