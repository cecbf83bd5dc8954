// Reads header blocks from a POP3 server in a process of its own and prints its peak
// memory (VmHWM, KiB) before and after each, for the memory test: "base peak1 peak2".
// Usage: pop3_peak_probe PORT

#include <cstdio>
#include <fstream>
#include <iostream>
#include <string>

#include "mail/msmsg.h"
#include "mail/mspop.h"

namespace {

long PeakKiB() {
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);)
    if (line.rfind("VmHWM:", 0) == 0) return std::stol(line.substr(6));
  return -1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  try {
    ms::TmsPOPClient pop;
    ms::TmsMessage message;
    pop.MailMessage = &message;
    pop.TimeOut = 60;
    pop.SetHost(std::string("127.0.0.1:") + argv[1]);
    pop.UserName = "ann";
    pop.Password = "secret";
    pop.Login();
    const long base = PeakKiB();
    pop.RetrieveHeaders();
    const long first = PeakKiB();
    pop.SetCurrentMessage(1);
    pop.RetrieveHeaders();
    const long second = PeakKiB();
    pop.Quit();
    std::cout << base << ' ' << first << ' ' << second << '\n';
    return 0;
  } catch (const std::exception& e) {
    std::cerr << e.what() << '\n';
    return 1;
  }
}
