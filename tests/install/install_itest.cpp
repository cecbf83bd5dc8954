// `cmake --install` of this build folder into a scratch root, and the Debian package
// made from it by cpack, checked file by file.

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/server_process.h"
#include "tests/support/tempdir.h"

namespace vigilo {
namespace {

namespace fs = std::filesystem;
using test::ReadFile;
using test::TempDir;

struct Output {
  int status = -1;
  std::string text;  // stdout and stderr
};

Output Shell(const std::string& command) {
  Output out;
  out.status = test::RunShell(command, &out.text);
  return out;
}

using test::ShellQuote;
bool Have(const std::string& program) {
  return Shell("command -v " + ShellQuote(program)).status == 0;
}

// Width and height from a PNG's header chunk; {0, 0} when it is not a PNG.
std::pair<unsigned, unsigned> PngSize(const fs::path& file) {
  const std::string b = ReadFile(file);
  if (b.size() < 24 || b.compare(0, 8, "\x89PNG\r\n\x1a\n") != 0 || b.compare(12, 4, "IHDR") != 0)
    return {0, 0};
  const auto be32 = [&b](std::size_t at) {
    std::uint32_t v = 0;
    for (std::size_t i = 0; i < 4; ++i)
      v = v << 8 | static_cast<unsigned char>(b[at + i]);
    return v;
  };
  return {be32(16), be32(20)};
}

const std::string kVersionLine = std::string("Vigilo ") + VIGILO_VERSION_TEXT + "\n";

TEST(Install, TreeHoldsProgramLauncherIconsManualAndCopyright) {
  TempDir dir;
  const fs::path root = dir.path() / "root";
  const Output install =
      Shell("DESTDIR=" + ShellQuote(root.string()) + " " + ShellQuote(VIGILO_CMAKE) +
            " --install " + ShellQuote(VIGILO_BUILD_DIR) + " --prefix /usr");
  ASSERT_EQ(install.status, 0) << install.text;
  const fs::path usr = root / "usr";

  EXPECT_EQ(Shell(ShellQuote((usr / "bin/vigilo").string()) + " --version").text, kVersionLine);

  const fs::path desktop = usr / "share/applications/vigilo.desktop";
  EXPECT_NE(ReadFile(desktop).find("\nIcon=vigilo\n"), std::string::npos);
  if (Have("desktop-file-validate")) {
    const Output valid = Shell("desktop-file-validate " + ShellQuote(desktop.string()));
    EXPECT_TRUE(valid.status == 0 && valid.text.empty()) << valid.text;
  }

  const fs::path icons = usr / "share/icons/hicolor";
  EXPECT_NE(ReadFile(icons / "scalable/apps/vigilo.svg").find("<svg"), std::string::npos);
  ASSERT_NE(std::string(VIGILO_ICON_SIZES_TEXT), "");
  std::istringstream sizes(VIGILO_ICON_SIZES_TEXT);
  for (std::string size; std::getline(sizes, size, ',');) {
    const std::string name = size + "x" + size;
    const auto [w, h] = PngSize(icons / name / "apps/vigilo.png");
    EXPECT_EQ(std::to_string(w) + "x" + std::to_string(h), name);
  }

  const fs::path man = usr / "share/man/man1/vigilo.1.gz";
  ASSERT_TRUE(fs::exists(man));
  if (Have("man")) {
    const Output page = Shell("MANWIDTH=80 man -l " + ShellQuote(man.string()));
    EXPECT_EQ(page.status, 0) << page.text;
    for (const char* part : {"NAME", "--check", "--home", "EXIT STATUS", "registry.reg"}) {
      EXPECT_NE(page.text.find(part), std::string::npos) << part << "\n" << page.text;
    }
    EXPECT_EQ(page.text.find("warning"), std::string::npos) << page.text;
  }

  EXPECT_NE(ReadFile(usr / "share/doc/vigilo/copyright").find("all rights reserved"),
            std::string::npos);
}

// The package of this build (scripts/package makes the same from a Release tree).
TEST(Install, DebianPackageDeclaresItsLibrariesAndItsProgramStarts) {
  if (!Have("dpkg-deb") || !Have("dpkg-shlibdeps")) GTEST_SKIP() << "needs dpkg-dev";
  TempDir dir;
  const Output pack = Shell(ShellQuote(VIGILO_CPACK) + " -G DEB --config " +
                            ShellQuote(std::string(VIGILO_BUILD_DIR) + "/CPackConfig.cmake") +
                            " -B " + ShellQuote(dir.str() + "out"));
  ASSERT_EQ(pack.status, 0) << pack.text;
  fs::path deb;
  for (const auto& e : fs::directory_iterator(dir.path() / "out")) {
    if (e.path().extension() == ".deb") deb = e.path();
  }
  ASSERT_FALSE(deb.empty()) << pack.text;

  const Output fields =
      Shell("dpkg-deb -f " + ShellQuote(deb.string()) + " Package Section Depends");
  EXPECT_NE(fields.text.find("Package: vigilo\n"), std::string::npos) << fields.text;
  EXPECT_NE(fields.text.find("Section: mail\n"), std::string::npos) << fields.text;
  for (const char* lib : {"libqt6widgets6", "libcanberra0", "libssl3", "libc6"}) {
    EXPECT_NE(fields.text.find(lib), std::string::npos) << lib << "\n" << fields.text;
  }

  const fs::path root = dir.path() / "root";
  const Output unpack =
      Shell("dpkg-deb -x " + ShellQuote(deb.string()) + " " + ShellQuote(root.string()));
  ASSERT_EQ(unpack.status, 0) << unpack.text;
  EXPECT_EQ(Shell(ShellQuote((root / "usr/bin/vigilo").string()) + " --version").text,
            kVersionLine);
  EXPECT_TRUE(fs::exists(root / "usr/share/icons/hicolor/48x48/apps/vigilo.png"));
}

}  // namespace
}  // namespace vigilo
