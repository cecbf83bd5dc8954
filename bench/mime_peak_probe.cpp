// Peak memory of one piece of MIME work, measured in a process of its own:
//   mime_peak_probe vigilo|gmime decode FILE
//   mime_peak_probe vigilo|gmime encode BYTES
// prints "growth_bytes message_bytes": how far the resident set rose above
// what it was just before the work (VmHWM against VmRSS), and the size of the
// message read or written.

#include <fstream>
#include <iostream>
#include <string>

#include "bench/mime_compare_data.h"
#include "bench/mime_gmime.h"

namespace {

// A field of /proc/self/status in bytes.
std::size_t StatusBytes(const std::string& field) {
  std::ifstream in("/proc/self/status");
  std::string line;
  while (std::getline(in, line))
    if (line.rfind(field + ":", 0) == 0) return std::stoull(line.substr(field.size() + 1)) * 1024;
  return 0;
}

// Starts the measurement: the peak is set back to the present resident set.
std::size_t Start() {
  std::ofstream("/proc/self/clear_refs") << "5";
  return StatusBytes("VmRSS");
}

std::size_t FileSize(const std::string& path) {
  std::ifstream in(path, std::ios::binary | std::ios::ate);
  return static_cast<std::size_t>(in.tellg());
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::cerr << "usage: mime_peak_probe vigilo|gmime decode FILE | encode BYTES\n";
    return 2;
  }
  const std::string lib = argv[1], work = argv[2], arg = argv[3];
  const bool gmime = lib == "gmime";
  if (gmime) bench::GMimeInit();
  std::size_t base = 0, message = 0;
  if (work == "decode") {
    message = FileSize(arg);
    base = Start();
    if (gmime) {
      bench::GMimeDecoded d;
      d.ParseFile(arg);
      std::cout << StatusBytes("VmHWM") - base << ' ' << message << '\n';
    } else {
      ms::TmsMessage m;
      m.LoadFromFile(arg);
      std::cout << StatusBytes("VmHWM") - base << ' ' << message << '\n';
    }
    return 0;
  }
  std::string bytes = bench::RandomBytes(std::stoull(arg));
  if (gmime) {
    bench::GMimeAttachmentMessage m(bytes);
    bytes = std::string();
    base = Start();
    GByteArray* out = nullptr;
    message = m.Write(true, &out);
    std::cout << StatusBytes("VmHWM") - base << ' ' << message << '\n';
    g_byte_array_unref(out);
  } else {
    ms::TmsMessage m = bench::AttachmentMessage(std::move(bytes));
    base = Start();
    const std::string out = m.SaveToString();
    message = out.size();
    std::cout << StatusBytes("VmHWM") - base << ' ' << message << '\n';
  }
  return 0;
}
