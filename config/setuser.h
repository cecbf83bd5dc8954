#pragma once
// What the settings window shows and what its commands do, without widgets. The
// window copies its controls into Conf and Global before a command and shows them
// again afterwards; the logic talks back through SetUserView.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "config/myuser.h"
#include "config/thunderbird.h"

namespace vigilo {

// The per-configuration controls, as texts and boxes.
struct ConfFields {
  std::string ConfigNM, Host, Port, UserName, UserPwd, SMTPHost, SMTPPort, Adress;
  bool ViewPost = false;
  bool NonActive = false;
  // Secure mail.
  int32_t POP3Security = 0;  // 0 none, 1 STARTTLS, 2 TLS
  int32_t SMTPSecurity = 0;
  int32_t SMTPAuth = 0;  // 0 none, 1 as POP3, 2 own user and password
  std::string SMTPUser, SMTPPwd, TrustCert;
  bool SMTPPlainAuth = false;
};

// The global controls.
struct GlobalFields {
  std::string Delay, Sound, Post, Avir, Ras;
  bool AutoRun = false;
  bool LocalNet = true;  // RadioButton1 "Локальная сеть"; else RadioButton2 "RAS (модем)"
  bool Visual = false;
  bool Ponty = false;
  bool delType = false;
  bool delBlack = false;
  bool ChIfCon = false;
  bool Keyring = true;  // passwords in the desktop keyring
};

// A field that can hold a value the store refuses.
enum class SetUserField { None, Port, SMTPPort, Delay, TrustCert };

class SetUserView {
 public:
  virtual ~SetUserView() = default;
  // The password prompt with `caption`: the typed text, or std::nullopt when it was
  // closed without "Ок".
  virtual std::optional<std::string> AskPassword(const std::string& caption) {
    (void)caption;
    return std::nullopt;
  }
  // An error box with one OK button.
  virtual void ShowError(const std::string& text) { (void)text; }
  virtual void FocusField(SetUserField field) { (void)field; }
};

class TSetUser {
 public:
  TSetUser(tusers& settings, SetUserView& view) : s_(settings), view_(view) {}

  // Shown state.
  std::vector<std::string> ConfNames;  // listconf
  int Selected = -1;                   // index into ConfNames and Conf of the settings
  ConfFields Conf;
  GlobalFields Global;
  std::vector<std::string> RasEntries;
  bool DeleteEnabled = false;  // delu
  bool Locked = false;         // protected fields greyed, EditUser enabled
  bool RasEnabled = true;      // RadioButton2
  bool ComboEnabled = false;   // ComboBox1
  bool CheckIfConEnabled = false;
  // A configuration was deleted (and the store saved) since Show.
  bool DeletedSome = false;

  // Fills everything from the settings; ras_entries are the dial-up entries.
  void Show(std::vector<std::string> ras_entries);
  // Shows configuration `index` (a selection in listconf).
  void ChangeConf(int index);
  // A radio button was clicked: Global.LocalNet holds the new choice.
  void RadioClick();
  // Copies the fields into the selected configuration and the global values. A field
  // the store refuses is reported and focused (unless `report` is false), and nothing
  // is stored: false.
  bool StoreForm(bool report = true);
  // Store, new configuration, import of `account` when given, store again.
  bool AddConf(const std::optional<MailAccount>& account);
  // Deletes the selected configuration and saves at once; the last one stays.
  void DeleteConf();
  // Asks for the password; the right one unlocks the protected fields.
  void Unlock();
  // "Ок": store and save. False when a field was refused (the window stays open).
  bool Ok();

  // The refused-value messages.
  static constexpr const char* kBadPort = "Номер порта должен быть целым числом от 1 до 65535.";
  static constexpr const char* kBadDelay =
      "Интервал проверки должен быть целым числом секунд от 0 до 86400.";
  static constexpr const char* kBadTrustCert =
      "Отпечаток сертификата должен состоять из 64 шестнадцатеричных цифр (SHA-256).";

 private:
  void FillList();
  void ApplyRasRules();
  bool Validate(bool report);

  tusers& s_;
  SetUserView& view_;
};

// A whole number from lo to hi written in decimal (blanks around it allowed).
std::optional<int32_t> FieldNumber(const std::string& text, int32_t lo, int32_t hi);

}  // namespace vigilo
