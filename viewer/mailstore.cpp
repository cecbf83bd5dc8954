#include "viewer/mailstore.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <numeric>
#include <vector>

#include "base/text.h"
#include "base/utf8.h"
#include "mail/msmsgcls.h"
#include "platform/atomicfile.h"
#include "platform/folders.h"
#include "viewer/msgstore.h"

namespace vigilo {
namespace {

namespace fs = std::filesystem;

constexpr std::size_t kMaxMessageFile = 256u << 20;  // far above any mailbox's limit

std::string Join(const std::string& folder, const std::string& name) {
  if (!folder.empty() && folder.back() == '/') return folder + name;
  return folder + "/" + name;
}

std::vector<std::string> SplitCrLfLines(const std::string& text) {
  return ms::SplitLines(text);
}

int64_t SizeOctets(const std::string& size) {
  // " 1234 байт": the number between the leading blank and the unit.
  std::string digits = Trim(size);
  const std::size_t blank = digits.find(' ');
  if (blank != std::string::npos) digits.resize(blank);
  int64_t value = 0;
  const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
  if (ec != std::errc() || end != digits.data() + digits.size()) return 0;
  return value;
}

// The exchange order over precomputed keys; `order` holds record positions.
template <class Key>
void ExchangeSort(std::vector<Key>& keys, std::vector<std::size_t>& order, bool ascending) {
  const std::size_t n = keys.size();
  for (std::size_t i = 0; i + 1 < n; ++i) {
    for (std::size_t j = n - 1; j > i; --j) {
      const bool out = ascending ? keys[j] < keys[i] : keys[i] < keys[j];
      if (!out) continue;
      std::swap(keys[i], keys[j]);
      std::swap(order[i], order[j]);
    }
  }
}

// Text keys become ranks of their byte order, so the exchange compares integers.
std::vector<int64_t> TextRanks(const std::vector<tmailhead>& heads, std::size_t n,
                               std::string tmailhead::*field) {
  std::vector<std::size_t> by(n);
  std::iota(by.begin(), by.end(), 0);
  std::sort(by.begin(), by.end(),
            [&](std::size_t a, std::size_t b) { return heads[a].*field < heads[b].*field; });
  std::vector<int64_t> rank(n);
  int64_t r = 0;
  for (std::size_t k = 0; k < n; ++k) {
    if (k > 0 && heads[by[k - 1]].*field != heads[by[k]].*field) ++r;
    rank[by[k]] = r;
  }
  return rank;
}

double LocalDate(const std::string& text) {
  const std::string s = Trim(text);
  for (const char* format : {"%x %X", "%c", "%x"}) {
    std::tm tm{};
    const char* end = strptime(s.c_str(), format, &tm);
    if (!end || *end != '\0') continue;
    return ms::EncodeDateTime(tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min,
                              tm.tm_sec);
  }
  return 0;
}

}  // namespace

std::string EnsureInDir(const std::string& program_folder, const tuser& u) {
  if (std::string e = MakePrivateDirs(program_folder + "in"); !e.empty()) return e;
  return MakePrivateDirs(u.InDir);
}

std::string HeadFilePath(const tuser& u, const tmailhead& h) {
  return MessageFilePath(u.InDir, Trim(h.MessageID));
}

bool HeadFileExists(const tuser& u, const tmailhead& h) {
  struct stat st {};
  return ::stat(HeadFilePath(u, h).c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

std::string SaveCodePages(const std::string& program_folder, const tuser& u) {
  if (std::string e = EnsureInDir(program_folder, u); !e.empty()) return e;
  std::string text;
  const std::size_t n =
      std::min(u.Heads.size(), static_cast<std::size_t>(std::max(0, u.HeadCount)));
  for (std::size_t i = 0; i < n; ++i) {
    const tmailhead& h = u.Heads[i];
    text += h.MessageID + "\r\n";
    const auto cp = static_cast<TCodePage>(h.CodePage);
    text += std::string(IsValidCodePage(h.CodePage) ? CodePageName(cp) : "cp1251") + "\r\n";
  }
  return WriteFileAtomic(Join(u.InDir, "info.txt"), text);
}

void LoadCodePages(tuser& u) {
  std::string text;
  if (!ReadWholeFile(Join(u.InDir, "info.txt"), text, kMaxMessageFile).empty()) return;
  const std::vector<std::string> lines = SplitCrLfLines(text);
  const std::size_t n =
      std::min(u.Heads.size(), static_cast<std::size_t>(std::max(0, u.HeadCount)));
  for (std::size_t i = 0; i < n; ++i) {
    tmailhead& h = u.Heads[i];
    for (std::size_t k = 0; k < lines.size(); ++k) {
      if (!EqualsNoCase(lines[k], h.MessageID)) continue;
      if (k + 1 < lines.size()) {
        if (const auto cp = CodePageFromName(lines[k + 1])) h.CodePage = static_cast<uint8_t>(*cp);
      }
      break;
    }
  }
}

int SortKeyOfColumn(int column) {
  static constexpr int kKeys[] = {1, 2, 3, 5, 4, 6};
  return column >= 0 && column < 6 ? kKeys[column] : 5;
}

double HeadDate(const std::string& text) {
  ms::TDateTime date = 0;
  std::string zone;
  ms::ParseMailDate(text, date, zone);
  if (date != 0) return date;
  return LocalDate(text);
}

void SortHeads(tuser& u, int key, bool ascending) {
  const std::size_t n =
      std::min(u.Heads.size(), static_cast<std::size_t>(std::max(0, u.HeadCount)));
  std::vector<std::size_t> order(n);
  std::iota(order.begin(), order.end(), 0);
  const std::vector<tmailhead>& heads = u.Heads;
  if (key == 5) {
    std::vector<double> keys(n);
    for (std::size_t i = 0; i < n; ++i)
      keys[i] = HeadDate(heads[i].Date);
    ExchangeSort(keys, order, ascending);
  } else {
    std::vector<int64_t> keys;
    switch (key) {
      case 1:
        keys = TextRanks(heads, n, &tmailhead::From);
        break;
      case 2:
        keys = TextRanks(heads, n, &tmailhead::Subject);
        break;
      case 3:
        keys.resize(n);
        for (std::size_t i = 0; i < n; ++i)
          keys[i] = SizeOctets(heads[i].Size);
        break;
      case 4:
        keys = TextRanks(heads, n, &tmailhead::To);
        break;
      default:
        keys = TextRanks(heads, n, &tmailhead::MessageID);
        break;
    }
    ExchangeSort(keys, order, ascending);
  }
  std::vector<tmailhead> sorted;
  sorted.reserve(u.Heads.size());
  for (const std::size_t i : order)
    sorted.push_back(std::move(u.Heads[i]));
  for (std::size_t i = n; i < u.Heads.size(); ++i)
    sorted.push_back(std::move(u.Heads[i]));
  u.Heads = std::move(sorted);
}

std::string WriteMessageFile(const std::string& path, std::string_view bytes) {
  return WriteFileAtomic(path, bytes);
}

bool ReadMessageFile(const std::string& path, std::string& bytes) {
  for (int attempt = 0; attempt < 1001; ++attempt) {
    if (ReadWholeFile(path, bytes, kMaxMessageFile).empty()) return true;
  }
  bytes.clear();
  return false;
}

bool MessageFileFits(const std::string& path) {
  std::error_code ec;
  const auto size = fs::file_size(path, ec);
  return !ec && size <= kMaxMessageFile;
}

std::string SafeAttachmentName(std::string_view name) {
  std::string base(name);
  if (const std::size_t slash = base.find_last_of("/\\"); slash != std::string::npos)
    base.erase(0, slash + 1);
  for (char& c : base) {
    const auto b = static_cast<unsigned char>(c);
    if (b < 0x20 || b == 0x7F || c == '/' || c == '\\') c = '_';
  }
  if (!base.empty() && (base[0] == '.' || base[0] == '-')) base[0] = '_';
  if (Trim(base).empty() || base == "." || base == "..") base = "attachment";
  if (base.size() > 255) {
    std::size_t cut = 255;
    // Back up to the start of the character that crosses the limit.
    while (cut > 0 && (static_cast<unsigned char>(base[cut]) & 0xC0) == 0x80)
      --cut;
    base.resize(cut);
  }
  return base;
}

std::string WriteAttachmentCopy(const std::string& folder, std::string_view name,
                                std::string_view data, std::string* written) {
  const std::string base = SafeAttachmentName(name);
  if (written) *written = base;
  const std::string path = Join(folder, base);
  // The earlier copy (or anything planted under the name) goes; the new file is made
  // fresh, so a link put there between the two steps makes the open fail.
  if (::unlink(path.c_str()) != 0 && errno != ENOENT)
    return "Cannot replace " + path + ": " + std::strerror(errno);
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd < 0) return "Cannot create " + path + ": " + std::strerror(errno);
  std::size_t done = 0;
  while (done < data.size()) {
    const ssize_t n = ::write(fd, data.data() + done, data.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      const std::string why = std::strerror(errno);
      ::close(fd);
      ::unlink(path.c_str());
      return "Cannot write " + path + ": " + why;
    }
    done += static_cast<std::size_t>(n);
  }
  if (::close(fd) != 0) return "Cannot write " + path + ": " + std::strerror(errno);
  return {};
}

std::optional<TCodePage> CodePageOfCharset(std::string_view charset) {
  std::string c = AsciiLower(ms::StripQuotes(std::string(charset)));
  if (c == "windows-1251" || c == "cp1251" || c == "x-cp1251") return TCodePage::CP1251;
  if (c == "koi8-r" || c == "koi8r" || c == "koi8") return TCodePage::KOI8R;
  if (c == "ibm866" || c == "cp866" || c == "866" || c == "csibm866") return TCodePage::CP866;
  if (c == "iso-8859-5" || c == "iso8859-5" || c == "iso_8859-5") return TCodePage::ISO8859;
  if (c == "utf-8" || c == "utf8") return TCodePage::UTF8;
  return std::nullopt;
}

namespace {

// The raw value of the first field called name, continuation lines joined.
std::string RawField(const std::vector<std::string>& lines, std::string_view name) {
  std::string value;
  bool in = false;
  for (const std::string& line : lines) {
    if (line.empty() || line == "\r") break;
    if (in) {
      if (line[0] != ' ' && line[0] != '\t') break;
      value += line;
      continue;
    }
    if (line.size() > name.size() && line[name.size()] == ':' && StartsWithNoCase(line, name)) {
      in = true;
      value = line.substr(name.size() + 1);
    }
  }
  return value;
}

}  // namespace

TCodePage HeaderCodePage(const std::vector<std::string>& lines, std::string_view name,
                         std::string_view decoded) {
  const std::string raw = RawField(lines, name);
  std::optional<TCodePage> page;
  bool agree = true;
  for (std::size_t at = raw.find("=?"); at != std::string::npos; at = raw.find("=?", at + 2)) {
    const std::size_t q = raw.find('?', at + 2);
    if (q == std::string::npos) break;
    std::string charset = raw.substr(at + 2, q - at - 2);
    if (const std::size_t star = charset.find('*'); star != std::string::npos)
      charset.resize(star);  // RFC 2231 language
    // Only a complete word "=?charset?B|Q?...?=" counts.
    if (q + 2 >= raw.size() || raw[q + 2] != '?' || raw.find("?=", q + 3) == std::string::npos)
      continue;
    const auto cp = CodePageOfCharset(charset);
    if (!cp || (page && *page != *cp)) agree = false;
    if (cp && !page) page = cp;
  }
  if (page && agree) return *page;
  return DetectCodePage(decoded);
}

}  // namespace vigilo
