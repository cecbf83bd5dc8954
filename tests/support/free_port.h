#pragma once
// A TCP port on 127.0.0.1 that is free right now (bind to port 0, read the port, close).

namespace vigilo::test {

int FreePort();

}  // namespace vigilo::test
