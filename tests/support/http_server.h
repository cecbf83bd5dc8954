#pragma once
// A real HTTP server for tests: Python's http.server on 127.0.0.1 serving a folder.

#include <string>

#include "tests/support/server_process.h"

namespace vigilo::test {

// Starts it in `process`; returns the port once a request gets an answer. A port taken before
// the server bound it is given up for another one; throws std::runtime_error after three tries.
int StartHttpServer(ServerProcess& process, const std::string& folder);

}  // namespace vigilo::test
