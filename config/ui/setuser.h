#pragma once
// TForm3: the settings window. What it shows and does lives in TSetUser; the window
// copies its controls to and from it.

#include <QDialog>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "config/setuser.h"

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;

namespace vigilo {

class SoundPlayer;
class TForm5;

class TForm3 : public QDialog, private SetUserView {
  Q_OBJECT

 public:
  // vg_ini is the window-state file; the prompt asks for passwords.
  TForm3(tusers& settings, TForm5& prompt, std::string vg_ini, QWidget* parent = nullptr);
  // Stops watching the focus before the controls go: their destruction moves it.
  ~TForm3() override;

  // Shows the window modally on the settings; the dialog result.
  int Execute();
  TSetUser& Logic() { return logic_; }

  // Services of the program, set by the assembly.
  std::function<std::vector<std::string>()> RasEntries;       // dial-up entries
  std::function<std::optional<MailAccount>()> ImportAccount;  // the mail client's account
  std::function<std::string()> OnSaveIconSet;  // SaveIconSet of Tdm: "" or the failure
  std::function<void()> OnLoadIconSet;         // LoadIconSet of Tdm
  SoundPlayer* Sound = nullptr;                // the test-sound player
  // Replace the message boxes (tests): errors, and questions answered true for "Ок"/"Да".
  std::function<void(const std::string&)> OnError;
  std::function<bool(const std::string&)> OnAsk;
  // Replaces the file chooser (tests): the file chosen, "" for none.
  std::function<std::string(const std::string& filter)> OnChooseFile;

  // Controls.
  QComboBox* listconf = nullptr;
  QLineEdit* ConfigNM = nullptr;
  QPushButton* addu = nullptr;
  QPushButton* delu = nullptr;
  QGroupBox* GroupBox1 = nullptr;  // "Пользователь"
  QLabel* LabelPOP3 = nullptr;
  QLabel* LabelSMTP = nullptr;
  QLineEdit* host = nullptr;
  QLineEdit* port = nullptr;
  QLineEdit* user = nullptr;
  QLineEdit* pwd = nullptr;
  QLineEdit* SMTPhost = nullptr;
  QLineEdit* SMTPport = nullptr;
  QLineEdit* Adress = nullptr;
  QCheckBox* ViewPost = nullptr;
  QPushButton* EditUser = nullptr;
  QCheckBox* NonActive = nullptr;
  // Secure mail of the configuration.
  QGroupBox* SecureBox = nullptr;
  QComboBox* POP3Security = nullptr;
  QComboBox* SMTPSecurity = nullptr;
  QComboBox* SMTPAuth = nullptr;
  QLineEdit* SMTPUser = nullptr;
  QLineEdit* SMTPPwd = nullptr;
  QCheckBox* SMTPPlainAuth = nullptr;
  QLineEdit* TrustCert = nullptr;
  QPushButton* FetchCert = nullptr;
  // Global options.
  QLineEdit* delay = nullptr;
  QLineEdit* playf = nullptr;
  QPushButton* Button3 = nullptr;
  QPushButton* BitBtn1 = nullptr;
  QLineEdit* postprog = nullptr;
  QPushButton* post = nullptr;
  QLineEdit* avir = nullptr;
  QPushButton* avirnutt = nullptr;
  QCheckBox* CheckBox1 = nullptr;
  QRadioButton* RadioButton1 = nullptr;
  QRadioButton* RadioButton2 = nullptr;
  QComboBox* ComboBox1 = nullptr;
  QCheckBox* checkifcon = nullptr;
  QCheckBox* visualiz = nullptr;
  QCheckBox* ponty = nullptr;
  QCheckBox* delType = nullptr;
  QCheckBox* delBlack = nullptr;
  QCheckBox* keyring = nullptr;
  QPushButton* bIconWorkSave = nullptr;
  QPushButton* bIconWorkLoad = nullptr;
  QPushButton* HelpButton = nullptr;
  QPushButton* BitBtn2 = nullptr;  // "Ок"
  QPushButton* BitBtn3 = nullptr;  // "Отмена"

  // Handlers.
  void listconfChange(int index);
  void adduClick();
  void deluClick();
  void EditUserClick();
  void RadioButtonClick();
  void BitBtn1Click();  // test sound
  void BitBtn2Click();  // "Ок"
  void bIconWorkSaveClick();
  void bIconWorkLoadClick();
  void FetchCertClick();
  void Button3Click();   // choose a sound
  void postClick();      // choose the mail program
  void avirnuttClick();  // choose the antivirus program

  // The file-chooser filters.
  static const char* const kSoundFilter;
  static const char* const kProgramFilter;

 private:
  void Build();
  QWidget* BuildUserBox();
  QWidget* BuildGlobalBox();
  void FormToLogic();
  void LogicToForm();
  void ApplyStates();
  void StoreQuietly();
  bool Ask(const std::string& text);
  std::string ChooseFile(const char* filter);

  // SetUserView.
  std::optional<std::string> AskPassword(const std::string& caption) override;
  void ShowError(const std::string& text) override;
  void FocusField(SetUserField field) override;

  TSetUser logic_;
  TForm5& prompt_;
  std::string vgIni_;
  bool filling_ = false;
  QMetaObject::Connection focusWatch_;
  std::vector<QWidget*> confControls_;  // stored when they lose the focus
};

// Words of a path as the mail-program field keeps them: quoted when needed.
std::string QuoteCommandWord(const std::string& word);

}  // namespace vigilo
