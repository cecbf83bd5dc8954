#include "config/ui/setuser.h"

#include "core/ui/qtext.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>
#include <algorithm>

#include "base/text.h"
#include "config/ui/parol.h"
#include "core/certprobe.h"
#include "core/ui/winpos.h"
#include "mail/mstls.h"
#include "platform/sound.h"

namespace vigilo {

const char* const TForm3::kSoundFilter =
    "Звуковые файлы (*.wav *.ogg *.oga *.mp3 *.flac *.opus);;Все файлы (*)";
const char* const TForm3::kProgramFilter = "Исполняемые файлы (*)";

namespace {

// Caption and hint as the accessible name and description.
template <typename W>
W* Named(W* w, const char* object_name, const QString& name, const QString& hint = {}) {
  w->setObjectName(object_name);
  w->setAccessibleName(name);
  if (!hint.isEmpty()) {
    w->setToolTip(hint);
    w->setAccessibleDescription(hint);
  }
  return w;
}

QLineEdit* Edit(QWidget* parent, const char* name, const QString& label, const QString& hint = {}) {
  return Named(new QLineEdit(parent), name, label, hint);
}

QComboBox* Levels(QWidget* parent, const char* name, const QString& label) {
  auto* box = Named(new QComboBox(parent), name, label);
  box->addItems({"Нет", "STARTTLS", "TLS"});
  return box;
}

}  // namespace

std::string QuoteCommandWord(const std::string& word) {
  if (!word.empty() && word.find_first_of(" \t\n'\"\\$`") == std::string::npos) return word;
  std::string out = "'";
  for (const char c : word) {
    if (c == '\'') {
      out += "'\\''";
    } else {
      out += c;
    }
  }
  return out + "'";
}

TForm3::TForm3(tusers& settings, TForm5& prompt, std::string vg_ini, QWidget* parent)
    : QDialog(parent), logic_(settings, *this), prompt_(prompt), vgIni_(std::move(vg_ini)) {
  setObjectName("TForm3");
  setWindowTitle("Установки");
  setModal(true);
  Build();
  focusWatch_ = connect(qApp, &QApplication::focusChanged, this, [this](QWidget* old, QWidget*) {
    if (!filling_ && isVisible() &&
        std::find(confControls_.begin(), confControls_.end(), old) != confControls_.end()) {
      StoreQuietly();
    }
  });
}

TForm3::~TForm3() {
  disconnect(focusWatch_);
}

void TForm3::Build() {
  auto* layout = new QVBoxLayout(this);
  auto* columns = new QHBoxLayout();
  columns->addWidget(BuildUserBox(), 1);
  columns->addWidget(BuildGlobalBox(), 1);
  layout->addLayout(columns);

  auto* buttons = new QHBoxLayout();
  HelpButton = Named(new QPushButton("Справка", this), "HelpButton", "Справка");
  BitBtn2 = Named(new QPushButton("Ок", this), "BitBtn2", "Ок");
  BitBtn2->setDefault(true);
  BitBtn3 = Named(new QPushButton("Отмена", this), "BitBtn3", "Отмена");
  buttons->addWidget(HelpButton);
  buttons->addStretch();
  buttons->addWidget(BitBtn2);
  buttons->addWidget(BitBtn3);
  layout->addLayout(buttons);

  connect(BitBtn2, &QPushButton::clicked, this, &TForm3::BitBtn2Click);
  connect(BitBtn3, &QPushButton::clicked, this, &QDialog::reject);
  connect(HelpButton, &QPushButton::clicked, this, [this] {
    QMessageBox::information(
        this, windowTitle(),
        "Вверху слева выбирается конфигурация (почтовый ящик); её поля сохраняются при "
        "переходе к другому полю. Справа - общие параметры программы. Кнопка \"Ок\" "
        "записывает установки, \"Отмена\" закрывает окно без записи.");
  });
}

QWidget* TForm3::BuildUserBox() {
  GroupBox1 = new QGroupBox("Пользователь", this);
  GroupBox1->setObjectName("GroupBox1");
  auto* grid = new QGridLayout(GroupBox1);
  int row = 0;

  listconf = Named(new QComboBox(GroupBox1), "listconf", "Конфигурация");
  listconf->setEditable(false);
  ConfigNM = Edit(GroupBox1, "ConfigNM", "Имя конфигурации", "Имя конфигурации");
  addu = Named(new QPushButton("+", GroupBox1), "addu", "Новая конфигурация", "Новая конфигурация");
  delu = Named(new QPushButton("-", GroupBox1), "delu", "Удалить конфигурацию",
               "Удалить конфигурацию");
  auto* top = new QHBoxLayout();
  top->addWidget(listconf, 1);
  top->addWidget(addu);
  top->addWidget(delu);
  grid->addLayout(top, row++, 0, 1, 4);
  grid->addWidget(new QLabel("Имя", GroupBox1), row, 0);
  grid->addWidget(ConfigNM, row++, 1, 1, 3);

  LabelPOP3 = new QLabel("<b>POP3</b>", GroupBox1);
  grid->addWidget(LabelPOP3, row++, 0, 1, 4);
  host = Edit(GroupBox1, "host", "Сервер POP3");
  port = Edit(GroupBox1, "port", "Порт POP3");
  port->setMaximumWidth(70);
  grid->addWidget(new QLabel("Сервер", GroupBox1), row, 0);
  grid->addWidget(host, row, 1);
  grid->addWidget(new QLabel("Порт", GroupBox1), row, 2);
  grid->addWidget(port, row++, 3);
  user = Edit(GroupBox1, "user", "Пользователь");
  pwd = Edit(GroupBox1, "pwd", "Пароль");
  pwd->setEchoMode(QLineEdit::Password);
  grid->addWidget(new QLabel("Пользователь", GroupBox1), row, 0);
  grid->addWidget(user, row++, 1, 1, 3);
  grid->addWidget(new QLabel("Пароль", GroupBox1), row, 0);
  grid->addWidget(pwd, row++, 1, 1, 3);

  LabelSMTP = new QLabel("<b>SMTP</b>", GroupBox1);
  grid->addWidget(LabelSMTP, row++, 0, 1, 4);
  SMTPhost = Edit(GroupBox1, "SMTPhost", "Сервер SMTP");
  SMTPport = Edit(GroupBox1, "SMTPport", "Порт SMTP");
  SMTPport->setMaximumWidth(70);
  grid->addWidget(new QLabel("Сервер", GroupBox1), row, 0);
  grid->addWidget(SMTPhost, row, 1);
  grid->addWidget(new QLabel("Порт", GroupBox1), row, 2);
  grid->addWidget(SMTPport, row++, 3);
  Adress = Edit(GroupBox1, "Adress",
                "Ваш адрес:", "Адрес необходим для для отправки ответов через E-mail");
  grid->addWidget(new QLabel("Ваш адрес:", GroupBox1), row, 0);
  grid->addWidget(Adress, row++, 1, 1, 3);

  ViewPost = Named(new QCheckBox("Просмотр почты по паролю", GroupBox1), "ViewPost",
                   "Просмотр почты по паролю");
  EditUser = Named(new QPushButton("Редактировать", GroupBox1), "EditUser", "Редактировать данные",
                   "Редактировать данные");
  NonActive = Named(new QCheckBox("Запись временно отключена", GroupBox1), "NonActive",
                    "Запись временно отключена");
  grid->addWidget(ViewPost, row, 0, 1, 2);
  grid->addWidget(EditUser, row++, 2, 1, 2);
  grid->addWidget(NonActive, row++, 0, 1, 4);

  SecureBox = new QGroupBox("Защищённое соединение", GroupBox1);
  SecureBox->setObjectName("SecureBox");
  auto* sg = new QGridLayout(SecureBox);
  POP3Security = Levels(SecureBox, "POP3Security", "Защита POP3");
  SMTPSecurity = Levels(SecureBox, "SMTPSecurity", "Защита SMTP");
  SMTPAuth = Named(new QComboBox(SecureBox), "SMTPAuth", "Вход на сервер SMTP");
  SMTPAuth->addItems({"Без входа", "Как для POP3", "Свой пользователь и пароль"});
  SMTPUser = Edit(SecureBox, "SMTPUser", "Пользователь SMTP");
  SMTPPwd = Edit(SecureBox, "SMTPPwd", "Пароль SMTP");
  SMTPPwd->setEchoMode(QLineEdit::Password);
  SMTPPlainAuth = Named(new QCheckBox("Разрешить вход SMTP без шифрования", SecureBox),
                        "SMTPPlainAuth", "Разрешить вход SMTP без шифрования");
  TrustCert = Edit(SecureBox, "TrustCert", "Доверенный сертификат (SHA-256)",
                   "Отпечаток SHA-256 сертификата, которому доверять без центра сертификации");
  FetchCert = Named(new QPushButton("Отпечаток...", SecureBox), "FetchCert", "Получить отпечаток",
                    "Соединиться с сервером POP3 и показать отпечаток его сертификата");
  int r = 0;
  sg->addWidget(new QLabel("POP3", SecureBox), r, 0);
  sg->addWidget(POP3Security, r, 1);
  sg->addWidget(new QLabel("SMTP", SecureBox), r, 2);
  sg->addWidget(SMTPSecurity, r++, 3);
  sg->addWidget(new QLabel("Вход SMTP", SecureBox), r, 0);
  sg->addWidget(SMTPAuth, r++, 1, 1, 3);
  sg->addWidget(new QLabel("Пользователь", SecureBox), r, 0);
  sg->addWidget(SMTPUser, r, 1);
  sg->addWidget(new QLabel("Пароль", SecureBox), r, 2);
  sg->addWidget(SMTPPwd, r++, 3);
  sg->addWidget(SMTPPlainAuth, r++, 0, 1, 4);
  sg->addWidget(new QLabel("Сертификат", SecureBox), r, 0);
  sg->addWidget(TrustCert, r, 1, 1, 2);
  sg->addWidget(FetchCert, r++, 3);
  grid->addWidget(SecureBox, row++, 0, 1, 4);
  grid->setRowStretch(row, 1);

  confControls_ = {ConfigNM,  host,         port,         user,      pwd,          SMTPhost,
                   SMTPport,  Adress,       ViewPost,     NonActive, SMTPUser,     SMTPPwd,
                   TrustCert, POP3Security, SMTPSecurity, SMTPAuth,  SMTPPlainAuth};

  connect(listconf, &QComboBox::currentIndexChanged, this, &TForm3::listconfChange);
  connect(addu, &QPushButton::clicked, this, &TForm3::adduClick);
  connect(delu, &QPushButton::clicked, this, &TForm3::deluClick);
  connect(EditUser, &QPushButton::clicked, this, &TForm3::EditUserClick);
  connect(FetchCert, &QPushButton::clicked, this, &TForm3::FetchCertClick);
  connect(SMTPAuth, &QComboBox::currentIndexChanged, this, [this] {
    if (!filling_) ApplyStates();
  });
  return GroupBox1;
}

QWidget* TForm3::BuildGlobalBox() {
  auto* box = new QWidget(this);
  auto* grid = new QGridLayout(box);
  grid->setContentsMargins(0, 0, 0, 0);
  int row = 0;
  const auto file_row = [&](QLineEdit*& edit, const char* name, const char* label) {
    grid->addWidget(new QLabel(label, box), row++, 0, 1, 3);
    edit = Edit(box, name, label);
    grid->addWidget(edit, row, 0);
  };

  delay = Edit(box, "delay", "Проверять через                       сек.");
  delay->setMaximumWidth(80);
  auto* delay_row = new QHBoxLayout();
  delay_row->addWidget(new QLabel("Проверять через", box));
  delay_row->addWidget(delay);
  delay_row->addWidget(new QLabel("сек.", box));
  delay_row->addStretch();
  grid->addLayout(delay_row, row++, 0, 1, 3);

  file_row(playf, "playf", "При получении почты проигрывать");
  Button3 = Named(new QPushButton("...", box), "Button3", "Выбрать звук");
  BitBtn1 = Named(new QPushButton("♪", box), "BitBtn1", "Проверить", "Проверить");
  grid->addWidget(Button3, row, 1);
  grid->addWidget(BitBtn1, row++, 2);
  file_row(postprog, "postprog", "Почтовая программа, запускаемая пользователем");
  post = Named(new QPushButton("...", box), "post", "Выбрать почтовую программу");
  grid->addWidget(post, row++, 1);
  file_row(avir, "avir", "Проверка антивирусом");
  avirnutt = Named(new QPushButton("...", box), "avirnutt", "Выбрать антивирус");
  grid->addWidget(avirnutt, row++, 1);

  CheckBox1 = Named(new QCheckBox("Запускать при входе в сеанс рабочего стола", box), "CheckBox1",
                    "Запускать при входе в сеанс рабочего стола");
  grid->addWidget(CheckBox1, row++, 0, 1, 3);
  RadioButton1 = Named(new QRadioButton("Локальная сеть", box), "RadioButton1", "Локальная сеть");
  RadioButton2 = Named(new QRadioButton("RAS (модем)", box), "RadioButton2", "RAS (модем)");
  ComboBox1 = Named(new QComboBox(box), "ComboBox1", "Соединение RAS");
  ComboBox1->setEditable(true);
  checkifcon = Named(new QCheckBox("Проверять только при активном соединении", box), "checkifcon",
                     "Проверять только при активном соединении");
  grid->addWidget(RadioButton1, row++, 0, 1, 3);
  grid->addWidget(RadioButton2, row, 0);
  grid->addWidget(ComboBox1, row++, 1, 1, 2);
  grid->addWidget(checkifcon, row++, 0, 1, 3);
  visualiz =
      Named(new QCheckBox("Включить визуализацию", box), "visualiz", "Включить визуализацию");
  ponty = Named(new QCheckBox("Нестандартный интерфейс", box), "ponty", "Нестандартный интерфейс");
  delType = Named(new QCheckBox("Удалять из просмотра сразу ", box), "delType",
                  "Удалять из просмотра сразу ");
  delBlack = Named(new QCheckBox("Удалять с сервера \"Черный список\"", box), "delBlack",
                   "Удалять с сервера \"Черный список\"");
  keyring = Named(new QCheckBox("Хранить пароли в связке ключей рабочего стола", box), "keyring",
                  "Хранить пароли в связке ключей рабочего стола");
  for (QCheckBox* c : {visualiz, ponty, delType, delBlack, keyring})
    grid->addWidget(c, row++, 0, 1, 3);
  bIconWorkSave = Named(new QPushButton("Выгрузить иконки на диск", box), "bIconWorkSave",
                        "Выгрузить иконки на диск");
  bIconWorkLoad = Named(new QPushButton("Загрузить иконки с диск", box), "bIconWorkLoad",
                        "Загрузить иконки с диск");
  grid->addWidget(bIconWorkSave, row++, 0, 1, 3);
  grid->addWidget(bIconWorkLoad, row++, 0, 1, 3);
  grid->setRowStretch(row, 1);
  grid->setColumnStretch(0, 1);

  connect(Button3, &QPushButton::clicked, this, &TForm3::Button3Click);
  connect(BitBtn1, &QPushButton::clicked, this, &TForm3::BitBtn1Click);
  connect(post, &QPushButton::clicked, this, &TForm3::postClick);
  connect(avirnutt, &QPushButton::clicked, this, &TForm3::avirnuttClick);
  connect(RadioButton1, &QRadioButton::clicked, this, &TForm3::RadioButtonClick);
  connect(RadioButton2, &QRadioButton::clicked, this, &TForm3::RadioButtonClick);
  connect(bIconWorkSave, &QPushButton::clicked, this, &TForm3::bIconWorkSaveClick);
  connect(bIconWorkLoad, &QPushButton::clicked, this, &TForm3::bIconWorkLoadClick);
  return box;
}

int TForm3::Execute() {
  logic_.Show(RasEntries ? RasEntries() : std::vector<std::string>{});
  LogicToForm();
  RestoreWindowPlacement(*this, vgIni_, "Setting");
  const int result = exec();
  SaveWindowPlacement(*this, vgIni_, "Setting");
  return result;
}

void TForm3::FormToLogic() {
  ConfFields& c = logic_.Conf;
  c.ConfigNM = S(ConfigNM->text());
  c.Host = S(host->text());
  c.Port = S(port->text());
  c.UserName = S(user->text());
  c.UserPwd = S(pwd->text());
  c.SMTPHost = S(SMTPhost->text());
  c.SMTPPort = S(SMTPport->text());
  c.Adress = S(Adress->text());
  c.ViewPost = ViewPost->isChecked();
  c.NonActive = NonActive->isChecked();
  c.POP3Security = POP3Security->currentIndex();
  c.SMTPSecurity = SMTPSecurity->currentIndex();
  c.SMTPAuth = SMTPAuth->currentIndex();
  c.SMTPUser = S(SMTPUser->text());
  c.SMTPPwd = S(SMTPPwd->text());
  c.SMTPPlainAuth = SMTPPlainAuth->isChecked();
  c.TrustCert = S(TrustCert->text());

  GlobalFields& g = logic_.Global;
  g.Delay = S(delay->text());
  g.Sound = S(playf->text());
  g.Post = S(postprog->text());
  g.Avir = S(avir->text());
  g.AutoRun = CheckBox1->isChecked();
  g.LocalNet = RadioButton1->isChecked();
  g.Ras = S(ComboBox1->currentText());
  g.Visual = visualiz->isChecked();
  g.Ponty = ponty->isChecked();
  g.delType = delType->isChecked();
  g.delBlack = delBlack->isChecked();
  g.ChIfCon = checkifcon->isChecked();
  g.Keyring = keyring->isChecked();
}

void TForm3::LogicToForm() {
  filling_ = true;
  listconf->clear();
  for (const auto& name : logic_.ConfNames)
    listconf->addItem(Q(name));
  listconf->setCurrentIndex(logic_.Selected);

  const ConfFields& c = logic_.Conf;
  ConfigNM->setText(Q(c.ConfigNM));
  host->setText(Q(c.Host));
  port->setText(Q(c.Port));
  user->setText(Q(c.UserName));
  pwd->setText(Q(c.UserPwd));
  SMTPhost->setText(Q(c.SMTPHost));
  SMTPport->setText(Q(c.SMTPPort));
  Adress->setText(Q(c.Adress));
  ViewPost->setChecked(c.ViewPost);
  NonActive->setChecked(c.NonActive);
  POP3Security->setCurrentIndex(std::clamp(c.POP3Security, 0, 2));
  SMTPSecurity->setCurrentIndex(std::clamp(c.SMTPSecurity, 0, 2));
  SMTPAuth->setCurrentIndex(std::clamp(c.SMTPAuth, 0, 2));
  SMTPUser->setText(Q(c.SMTPUser));
  SMTPPwd->setText(Q(c.SMTPPwd));
  SMTPPlainAuth->setChecked(c.SMTPPlainAuth);
  TrustCert->setText(Q(c.TrustCert));

  const GlobalFields& g = logic_.Global;
  delay->setText(Q(g.Delay));
  playf->setText(Q(g.Sound));
  postprog->setText(Q(g.Post));
  avir->setText(Q(g.Avir));
  CheckBox1->setChecked(g.AutoRun);
  ComboBox1->clear();
  for (const auto& entry : logic_.RasEntries)
    ComboBox1->addItem(Q(entry));
  ComboBox1->setCurrentText(Q(g.Ras));
  RadioButton1->setChecked(g.LocalNet);
  RadioButton2->setChecked(!g.LocalNet);
  visualiz->setChecked(g.Visual);
  ponty->setChecked(g.Ponty);
  delType->setChecked(g.delType);
  delBlack->setChecked(g.delBlack);
  checkifcon->setChecked(g.ChIfCon);
  keyring->setChecked(g.Keyring);
  filling_ = false;
  ApplyStates();
}

void TForm3::ApplyStates() {
  delu->setEnabled(logic_.DeleteEnabled);
  // A password-guarded configuration keeps its fields greyed until unlocked; its
  // secure-mail values (an SMTP password among them) too.
  const bool open = !logic_.Locked;
  for (QWidget* w :
       std::initializer_list<QWidget*>{ConfigNM, host, port, user, pwd, ViewPost, LabelPOP3,
                                       LabelSMTP, SMTPhost, SMTPport, Adress, SecureBox}) {
    w->setEnabled(open);
  }
  EditUser->setEnabled(logic_.Locked);
  const bool own = SMTPAuth->currentIndex() == 2;
  SMTPUser->setEnabled(own);
  SMTPPwd->setEnabled(own);
  RadioButton2->setEnabled(logic_.RasEnabled);
  ComboBox1->setEnabled(logic_.ComboEnabled);
  checkifcon->setEnabled(logic_.CheckIfConEnabled);
}

void TForm3::StoreQuietly() {
  FormToLogic();
  if (logic_.StoreForm(false)) listconf->setItemText(logic_.Selected, Q(logic_.Conf.ConfigNM));
}

void TForm3::listconfChange(int index) {
  if (filling_ || index < 0 || index == logic_.Selected) return;
  FormToLogic();
  if (!logic_.StoreForm()) {
    // The configuration being left keeps the focus until its fields are corrected.
    filling_ = true;
    listconf->setCurrentIndex(logic_.Selected);
    filling_ = false;
    return;
  }
  logic_.ChangeConf(index);
  LogicToForm();
}

void TForm3::adduClick() {
  FormToLogic();
  logic_.AddConf(ImportAccount ? ImportAccount() : std::nullopt);
  LogicToForm();
}

void TForm3::deluClick() {
  FormToLogic();  // the global controls keep what was typed
  logic_.DeleteConf();
  LogicToForm();
}

void TForm3::EditUserClick() {
  FormToLogic();
  logic_.Unlock();
  ApplyStates();
}

void TForm3::RadioButtonClick() {
  logic_.Global.LocalNet = RadioButton1->isChecked();
  logic_.RadioClick();
  ApplyStates();
}

void TForm3::BitBtn1Click() {
  const std::string sound = Trim(S(playf->text()));
  if (!sound.empty() && Sound) Sound->Play(sound);
}

void TForm3::BitBtn2Click() {
  FormToLogic();
  if (logic_.Ok()) accept();
}

void TForm3::bIconWorkSaveClick() {
  if (!Ask("Будет создан каталог ICON в котором будут сохранены иконки Vigiloера. Структура "
           "описывается в файле icon.ini, который будет находиться в каталоге программы. "
           "Изменяя пути и названия иконок Вы можете менять интерфейс программы.")) {
    return;
  }
  const std::string error = OnSaveIconSet ? OnSaveIconSet() : std::string();
  if (!error.empty()) ShowError("Не удалось выгрузить иконки: " + error);
}

void TForm3::bIconWorkLoadClick() {
  if (OnLoadIconSet) OnLoadIconSet();
}

void TForm3::FetchCertClick() {
  FormToLogic();
  const ConfFields& c = logic_.Conf;
  const auto port_number = FieldNumber(c.Port, 1, 65535);
  if (!port_number) {
    ShowError(TSetUser::kBadPort);
    FocusField(SetUserField::Port);
    return;
  }
  // The connection keeps the window alive (message pump): no second one meanwhile.
  FetchCert->setEnabled(false);
  QApplication::setOverrideCursor(Qt::WaitCursor);
  const CertProbeResult r = ProbeServerCertificate(Trim(c.Host), *port_number, c.POP3Security);
  QApplication::restoreOverrideCursor();
  FetchCert->setEnabled(true);
  if (r.Fingerprint.empty()) {
    ShowError("Не удалось получить сертификат сервера " + Trim(c.Host) + ": " + r.Error);
    return;
  }
  std::string text = "Сервер " + Trim(c.Host) + " предъявил сертификат с отпечатком SHA-256:\r" +
                     ms::ColonFingerprint(r.Fingerprint) + "\r";
  if (r.TrustedByCA) text += "Сертификат подтверждён центром сертификации.\r";
  text += "Доверять этому сертификату?";
  if (Ask(text)) {
    TrustCert->setText(Q(r.Fingerprint));
    StoreQuietly();
  }
}

void TForm3::Button3Click() {
  const std::string file = ChooseFile(kSoundFilter);
  if (!file.empty()) playf->setText(Q(file));
}

void TForm3::postClick() {
  const std::string file = ChooseFile(kProgramFilter);
  if (!file.empty()) postprog->setText(Q(QuoteCommandWord(file)));
}

void TForm3::avirnuttClick() {
  const std::string file = ChooseFile(kProgramFilter);
  if (!file.empty()) avir->setText(Q(QuoteCommandWord(file)));
}

std::string TForm3::ChooseFile(const char* filter) {
  if (OnChooseFile) return OnChooseFile(filter);
  QFileDialog dialog(this);
  dialog.setFileMode(QFileDialog::ExistingFile);
  dialog.setNameFilter(filter);
  if (filter == kProgramFilter) {
    // Programs only: files with the executable bit, and folders to walk through.
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setFilter(QDir::AllDirs | QDir::Files | QDir::Executable | QDir::NoDotAndDotDot);
  }
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return {};
  return S(dialog.selectedFiles().first());
}

bool TForm3::Ask(const std::string& text) {
  if (OnAsk) return OnAsk(text);
  QString shown = Q(text);
  shown.replace('\r', '\n');
  return QMessageBox::information(this, windowTitle(), shown,
                                  QMessageBox::Ok | QMessageBox::Cancel) == QMessageBox::Ok;
}

std::optional<std::string> TForm3::AskPassword(const std::string& caption) {
  return prompt_.Ask(caption);
}

void TForm3::ShowError(const std::string& text) {
  if (OnError) return OnError(text);
  QString shown = Q(text);
  shown.replace('\r', '\n');
  QMessageBox::critical(this, windowTitle(), shown);
}

void TForm3::FocusField(SetUserField field) {
  switch (field) {
    case SetUserField::Port:
      port->setFocus();
      port->selectAll();
      break;
    case SetUserField::SMTPPort:
      SMTPport->setFocus();
      SMTPport->selectAll();
      break;
    case SetUserField::Delay:
      delay->setFocus();
      delay->selectAll();
      break;
    case SetUserField::TrustCert:
      TrustCert->setFocus();
      break;
    case SetUserField::None:
      break;
  }
}

}  // namespace vigilo
