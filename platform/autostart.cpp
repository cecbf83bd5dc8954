#include "platform/autostart.h"

#include <unistd.h>

#include <filesystem>

#include "platform/atomicfile.h"

namespace vigilo {

XdgAutostart::XdgAutostart(std::string desktop_file, std::vector<std::string> extra_args)
    : path_(std::move(desktop_file)), extra_args_(std::move(extra_args)) {}

std::string XdgAutostart::DefaultPath(const EnvLookup& env) {
  auto config = env("XDG_CONFIG_HOME");
  if (!config || config->empty()) config = env("HOME").value_or("") + "/.config";
  return *config + "/autostart/vigilo.desktop";
}

std::string XdgAutostart::ArgsText() const {
  std::string text;
  for (const auto& a : extra_args_) {
    text += ' ';
    text += QuoteExecArg(a);
  }
  return text;
}

bool XdgAutostart::IsOurs() const {
  std::string text;
  if (!ReadWholeFile(path_, text, 1024 * 1024).empty()) return false;
  std::string exec;
  for (std::size_t pos = 0; pos < text.size();) {
    std::size_t nl = text.find('\n', pos);
    if (nl == std::string::npos) nl = text.size();
    const std::string line = text.substr(pos, nl - pos);
    if (line.rfind("Exec=", 0) == 0) exec = line.substr(5);
    pos = nl + 1;
  }
  while (!exec.empty() && (exec.back() == '\r' || exec.back() == ' '))
    exec.pop_back();
  const std::string args = ArgsText();
  if (args.empty()) return exec.find("--home") == std::string::npos;
  return exec.size() >= args.size() &&
         exec.compare(exec.size() - args.size(), args.size(), args) == 0;
}

bool XdgAutostart::Exists() const {
  return IsOurs();
}

std::string XdgAutostart::QuoteExecArg(const std::string& arg) {
  // Inside double quotes the Exec key needs '"', '`', '$' and '\' escaped with '\';
  // '%' is doubled as a field code escape. The key's value is itself a string in
  // which '\' is escaped once more.
  std::string quoted = "\"";
  for (const char c : arg) {
    if (c == '"' || c == '`' || c == '$' || c == '\\') quoted += '\\';
    if (c == '%') quoted += '%';
    if (c == '\n' || c == '\r') continue;
    quoted += c;
  }
  quoted += '"';
  std::string escaped;
  for (const char c : quoted) {
    if (c == '\\') escaped += '\\';
    escaped += c;
  }
  return escaped;
}

std::string XdgAutostart::Set(const std::string& program_file) {
  const std::string exec = QuoteExecArg(program_file) + ArgsText();
  const std::string text =
      "[Desktop Entry]\n"
      "Type=Application\n"
      "Name=Vigilo\n"
      "Comment=Vigilo - проверка новой почты\n"
      "Exec=" +
      exec +
      "\n"
      "Terminal=false\n"
      "X-GNOME-Autostart-enabled=true\n";
  const auto parent = std::filesystem::path(path_).parent_path();
  if (!parent.empty()) {
    if (std::string error = MakePrivateDirs(parent.string()); !error.empty()) return error;
  }
  return WriteFileAtomic(path_, text, 0600);
}

void XdgAutostart::Remove() {
  if (IsOurs()) unlink(path_.c_str());
}

}  // namespace vigilo
