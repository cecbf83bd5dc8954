#pragma once
// The settings object: global options, blacklist and the mailbox configurations
// with the message headers found at the last check, kept in the registry under
// "Software\Brenna\Vigilo".

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "platform/autostart.h"
#include "platform/keyring.h"
#include "platform/registry.h"

namespace vigilo {

// Stored texts are limited to 255 characters; longer ones are cut at a character boundary.
inline constexpr std::size_t kShortStringChars = 255;
std::string ShortStr(std::string_view s);

// One message on the server, from its header.
struct tmailhead {
  uint8_t CodePage = 0;
  int32_t Index = 0;
  std::string From;
  std::string Subject;
  std::string Size;  // " 2048 байт"
  std::string To;
  std::string Date;
  std::string MessageID;
  bool Marked = false;
  bool DeleteNext = false;
  // The server's unique id of the message (UIDL), "" when the server gave none.
  // A deletion mark is carried out only on the message with this id.
  std::string UniqueID;
};

// One mailbox configuration.
struct tuser {
  int32_t Index = 0;
  std::string ConfigNM;
  std::string Host;
  int32_t Port = 0;
  std::string SMTPHost;
  int32_t SMTPPort = 0;
  std::string Adress;
  std::string UserName;
  std::string UserPwd;
  bool Connected = false;
  bool Deleted = false;
  int32_t HeadCount = 0;
  bool ViewMail = false;
  bool NonActive = false;
  std::vector<tmailhead> Heads;
  std::string InDir;
  std::string OutDir;

  // Secure mail. Each is stored only when it differs from its default, so a store
  // without them keeps the classic plain-text sessions.
  int32_t POP3Security = 0;    // 0 none, 1 STLS, 2 TLS from the start (ms::TmsSecurity)
  int32_t SMTPSecurity = 0;    // 0 none, 1 STARTTLS, 2 TLS from the start
  int32_t SMTPAuth = 0;        // 0 none, 1 with UserName/UserPwd, 2 with SMTPUser/SMTPPwd
  std::string SMTPUser;        // for SMTPAuth 2
  std::string SMTPPwd;         // for SMTPAuth 2; stored scrambled like UserPwd
  bool SMTPPlainAuth = false;  // AUTH allowed over an unencrypted connection
  std::string TrustCert;       // SHA-256 fingerprint trusted without a CA, or ""

  // Ids of the keyring items holding UserPwd and SMTPPwd; "" while a password is stored
  // scrambled in the registry.
  std::string UserPwdKeyring;
  std::string SMTPPwdKeyring;

  // Number of the registry key the record was loaded from or last saved to; 0 for a
  // record not stored yet. Lets a save that renumbers keys move a key's other values
  // along with its configuration.
  int32_t StoredKey = 0;
};

class tusers {
 public:
  static constexpr const char* kRoot = "Software\\Brenna\\Vigilo";
  static constexpr int32_t kHeadsReserveLimit = 1024;

  // Loads everything (Load). program_folder ends with '/'; program_file is what the
  // autostart entry starts. With a keyring and a backup store, passwords are kept in
  // the keyring and registry values hold markers (see PlacePasswords).
  tusers(RegistryStore& reg, Autostart& autorun, std::string program_folder,
         std::string program_file, Keyring* keyring = nullptr, RegistryStore* backup = nullptr);

  // The key of the backup store holding a scrambled copy of each keyring password.
  static constexpr const char* kBackupKey = "Software\\Brenna\\Vigilo\\Passwords";

  std::vector<tuser> Conf;
  int32_t Users = 0;
  int32_t Delay = 0;
  bool Ponty = false;
  bool delType = false;
  bool delBlack = false;
  bool ChIfCon = false;
  std::string Sound;
  std::string Post;
  std::string Avir;
  bool AutoRun = false;
  int32_t Lan = 0;
  std::string Ras;
  int32_t Visual = 0;
  // Address of the publisher's web server for the version check ("http://host[:port]");
  // empty: the program asks no server at all.
  std::string UpdateURL;
  // Passwords are kept in the desktop keyring when the program has one.
  bool UseKeyring = true;
  std::vector<std::string> Black;

  void Load();
  void Save();
  // The stored UpdateURL, readable before the settings are loaded.
  static std::string ReadUpdateURL(const RegistryStore& reg);
  int32_t AddConf();
  // Frees the headers of `conf` and prepares room for about n records (at most
  // kHeadsReserveLimit are reserved: n may come from a server).
  void ClearHeads(int32_t conf, int64_t n);
  void AddHead(int32_t conf, int32_t idx, std::string_view From, std::string_view Subject,
               std::string_view Size, std::string_view Date, std::string_view To,
               std::string_view MessageID, uint8_t CodePage);
  void FreeHeads(int32_t conf);

  // Password scrambling with the bytes of `key` used cyclically (an empty key leaves
  // the bytes as they are). DecodePwd throws std::invalid_argument on malformed text.
  static std::string EncodePwd(std::string_view plain, std::string_view key);
  static std::string DecodePwd(std::string_view stored, std::string_view key);

  // Sets InDir and OutDir of u from the program folder, UserName and Host.
  void ComputeDirs(tuser& u) const;
  const std::string& ProgramFolder() const { return program_folder_; }
  std::string ErrorLogPath() const { return program_folder_ + "error.log"; }

 private:
  std::string ConfKey(int32_t n) const;
  void FirstStart(bool damaged, const std::string& why);
  bool LoadConf(int32_t number, tuser& u, std::string& why);
  void Log(const std::string& message) const;
  void SaveStore();
  void ResolvePasswords(tuser& u, const std::string& where);
  void PlacePasswords();
  bool Place(const std::string& id, const std::string& label, const std::string& pwd);
  void ForgetUnused();

  RegistryStore& reg_;
  Autostart& autorun_;
  std::string program_folder_;
  std::string program_file_;
  std::set<int32_t> stored_keys_;  // configuration keys the list was loaded from or saved to
  Keyring* keyring_;
  RegistryStore* backup_;
  // Keyring ids: the password each holds in the keyring and the backup as far as this
  // program knows; those whose password could not be read; those registry.reg refers to.
  std::map<std::string, std::string> placed_;
  std::set<std::string> unresolved_;
  std::set<std::string> referenced_;
};

}  // namespace vigilo
