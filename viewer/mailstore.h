#pragma once
// The viewer's side of the local message store: the folders of a configuration, the
// code-page file "info.txt", the order of the header list, message files written whole
// and read with retries, and attachment copies in the private temporary folder.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "config/myuser.h"
#include "viewer/CyrCoder.h"

namespace vigilo {

// Creates program_folder + "in" and then the configuration's InDir (mode 0700).
// Returns "" or the failure.
std::string EnsureInDir(const std::string& program_folder, const tuser& u);

// The file of header record h in u's store, and whether it exists (a regular file).
std::string HeadFilePath(const tuser& u, const tmailhead& h);
bool HeadFileExists(const tuser& u, const tmailhead& h);

// Writes the pairs "key", "page name" of every record to InDir/info.txt (CR LF lines).
// Returns "" or the failure.
std::string SaveCodePages(const std::string& program_folder, const tuser& u);
// Gives each record the page "info.txt" names for its key (first line equal to the key
// without regard to letter case). A missing file changes nothing; a line after the key
// that names no page leaves the record as it is.
void LoadCodePages(tuser& u);

// Sort keys of SortHeads: 1 From, 2 Subject, 3 Size, 4 To, 5 Date, 6 MessageID.
int SortKeyOfColumn(int column);
// Sorts the first HeadCount records in the exchange order: for each position i from the
// first, every later position j from the last down to i + 1 is exchanged with i when
// the two are out of order. Texts compare byte by byte, Size as the number of octets,
// Date as a parsed date. The records move with their Index.
void SortHeads(tuser& u, int key, bool ascending);
// The date of a "Date" value: an Internet date, else the local date and time format;
// 0 when neither reads it.
double HeadDate(const std::string& text);

// Writes a downloaded message into its file: a temporary file in the same folder,
// flushed and renamed over the name. Returns "" or the failure.
std::string WriteMessageFile(const std::string& path, std::string_view bytes);
// Reads a message file, trying to open it up to 1001 times in a row. False when it
// cannot be read.
bool ReadMessageFile(const std::string& path, std::string& bytes);
// True when the file at path is no larger than a message file may be.
bool MessageFileFits(const std::string& path);

// The base name an attachment is written under: only the part after the last "/" or
// "\", separators, control bytes and NUL replaced by "_", a leading "." or "-" replaced,
// "" "." and ".." replaced by "attachment", at most 255 bytes cut on a UTF-8 boundary.
std::string SafeAttachmentName(std::string_view name);
// Writes data as folder + SafeAttachmentName(name), replacing an earlier copy but never
// writing through a symbolic link (a fresh file, O_EXCL|O_NOFOLLOW, mode 0600).
// *written receives the name used. Returns "" or the failure.
std::string WriteAttachmentCopy(const std::string& folder, std::string_view name,
                                std::string_view data, std::string* written);

// The page a MIME charset label names, when it is one of the five.
std::optional<TCodePage> CodePageOfCharset(std::string_view charset);

// The page of a header's decoded text: the page its encoded words declare when every
// one of them names the same of the five pages, else the guess of DetectCodePage.
// `lines` are the raw header lines the text was decoded from.
TCodePage HeaderCodePage(const std::vector<std::string>& lines, std::string_view name,
                         std::string_view decoded);

}  // namespace vigilo
