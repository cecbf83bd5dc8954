#include "config/setuser.h"

#include <charconv>

#include "base/digest.h"
#include "base/text.h"

namespace vigilo {

std::optional<int32_t> FieldNumber(const std::string& text, int32_t lo, int32_t hi) {
  const std::string t = Trim(text);
  int64_t n = 0;
  const auto [p, ec] = std::from_chars(t.data(), t.data() + t.size(), n);
  if (t.empty() || ec != std::errc() || p != t.data() + t.size() || n < lo || n > hi) {
    return std::nullopt;
  }
  return static_cast<int32_t>(n);
}

void TSetUser::Show(std::vector<std::string> ras_entries) {
  RasEntries = std::move(ras_entries);
  DeletedSome = false;
  FillList();
  Global.Delay = std::to_string(s_.Delay);
  Global.Sound = s_.Sound;
  Global.Post = s_.Post;
  Global.Avir = s_.Avir;
  Global.AutoRun = s_.AutoRun;
  Global.Ras = s_.Ras;
  Global.Ponty = s_.Ponty;
  Global.delType = s_.delType;
  Global.delBlack = s_.delBlack;
  Global.ChIfCon = s_.ChIfCon;
  Global.Keyring = s_.UseKeyring;
  Global.Visual = s_.Visual != 0;
  Global.LocalNet = s_.Lan == 1;
  ApplyRasRules();
}

void TSetUser::FillList() {
  ConfNames.clear();
  for (const tuser& u : s_.Conf)
    ConfNames.push_back(u.ConfigNM);
  Selected = -1;
  if (!ConfNames.empty()) ChangeConf(0);
  DeleteEnabled = ConfNames.size() >= 2;
}

void TSetUser::ApplyRasRules() {
  RasEnabled = true;
  if (!Global.LocalNet && !RasEntries.empty()) {
    ComboEnabled = true;
  } else {
    ComboEnabled = false;
    if (RasEntries.empty()) {
      Global.LocalNet = true;
      RasEnabled = false;
    }
  }
  CheckIfConEnabled = !Global.LocalNet;
}

void TSetUser::RadioClick() {
  ComboEnabled = !Global.LocalNet;
  CheckIfConEnabled = !Global.LocalNet;
}

void TSetUser::ChangeConf(int index) {
  if (index < 0 || static_cast<std::size_t>(index) >= s_.Conf.size()) return;
  Selected = index;
  const tuser& u = s_.Conf[static_cast<std::size_t>(index)];
  Conf.ConfigNM = u.ConfigNM;
  Conf.Host = u.Host;
  Conf.Port = std::to_string(u.Port);
  Conf.UserName = u.UserName;
  Conf.UserPwd = u.UserPwd;
  Conf.SMTPHost = u.SMTPHost;
  Conf.SMTPPort = std::to_string(u.SMTPPort);
  Conf.Adress = u.Adress;
  Conf.ViewPost = u.ViewMail;
  Conf.NonActive = u.NonActive;
  Conf.POP3Security = u.POP3Security;
  Conf.SMTPSecurity = u.SMTPSecurity;
  Conf.SMTPAuth = u.SMTPAuth;
  Conf.SMTPUser = u.SMTPUser;
  Conf.SMTPPwd = u.SMTPPwd;
  Conf.SMTPPlainAuth = u.SMTPPlainAuth;
  Conf.TrustCert = u.TrustCert;
  Locked = u.ViewMail;
}

bool TSetUser::Validate(bool report) {
  const auto refuse = [&](const char* text, SetUserField field) {
    if (report) {
      view_.ShowError(text);
      view_.FocusField(field);
    }
    return false;
  };
  if (Selected >= 0) {
    if (!FieldNumber(Conf.Port, 1, 65535)) return refuse(kBadPort, SetUserField::Port);
    if (!FieldNumber(Conf.SMTPPort, 1, 65535)) return refuse(kBadPort, SetUserField::SMTPPort);
    if (!Trim(Conf.TrustCert).empty() && NormalizeFingerprint(Conf.TrustCert).empty())
      return refuse(kBadTrustCert, SetUserField::TrustCert);
  }
  if (!FieldNumber(Global.Delay, 0, 86400)) return refuse(kBadDelay, SetUserField::Delay);
  return true;
}

bool TSetUser::StoreForm(bool report) {
  if (!Validate(report)) return false;
  if (Selected >= 0 && static_cast<std::size_t>(Selected) < s_.Conf.size()) {
    tuser& u = s_.Conf[static_cast<std::size_t>(Selected)];
    u.Host = ShortStr(Trim(Conf.Host));
    u.Port = *FieldNumber(Conf.Port, 1, 65535);
    u.UserName = ShortStr(Trim(Conf.UserName));
    u.UserPwd = ShortStr(Trim(Conf.UserPwd));
    u.ConfigNM = ShortStr(Trim(Conf.ConfigNM));
    u.SMTPHost = ShortStr(Trim(Conf.SMTPHost));
    u.SMTPPort = *FieldNumber(Conf.SMTPPort, 1, 65535);
    u.Adress = ShortStr(Trim(Conf.Adress));
    u.ViewMail = Conf.ViewPost;
    u.NonActive = Conf.NonActive;
    u.POP3Security = Conf.POP3Security;
    u.SMTPSecurity = Conf.SMTPSecurity;
    u.SMTPAuth = Conf.SMTPAuth;
    u.SMTPUser = ShortStr(Trim(Conf.SMTPUser));
    u.SMTPPwd = ShortStr(Trim(Conf.SMTPPwd));
    u.SMTPPlainAuth = Conf.SMTPPlainAuth;
    u.TrustCert = NormalizeFingerprint(Conf.TrustCert);
    s_.ComputeDirs(u);
    ConfNames[static_cast<std::size_t>(Selected)] = u.ConfigNM;
  }
  s_.Delay = *FieldNumber(Global.Delay, 0, 86400);
  s_.Sound = ShortStr(Global.Sound);
  s_.Post = ShortStr(Global.Post);
  s_.Avir = ShortStr(Global.Avir);
  s_.AutoRun = Global.AutoRun;
  if (Global.LocalNet) {
    s_.Lan = 1;
  } else {
    s_.Ras = ShortStr(Global.Ras);
    s_.Lan = 2;
  }
  s_.Visual = Global.Visual ? 1 : 0;
  s_.Ponty = Global.Ponty;
  s_.delType = Global.delType;
  s_.ChIfCon = Global.ChIfCon;
  s_.delBlack = Global.delBlack;
  s_.UseKeyring = Global.Keyring;
  return true;
}

bool TSetUser::AddConf(const std::optional<MailAccount>& account) {
  if (!StoreForm()) return false;
  const int32_t index = s_.AddConf();
  ConfNames.push_back(s_.Conf[static_cast<std::size_t>(index)].ConfigNM);
  DeleteEnabled = true;
  ChangeConf(index);
  if (account) {
    // An account without a name keeps the new configuration's own name.
    if (!Trim(account->AccountName).empty()) Conf.ConfigNM = account->AccountName;
    Conf.Adress = account->Email;
    Conf.Host = account->PopServer;
    Conf.Port = std::to_string(account->PopPort.value_or(account->PopSecurity == 2 ? 995 : 110));
    Conf.UserName = account->PopUser;
    Conf.SMTPHost = account->SmtpServer;
    Conf.SMTPPort =
        std::to_string(account->SmtpPort.value_or(account->SmtpSecurity == 2 ? 465 : 25));
    Conf.POP3Security = account->PopSecurity;
    Conf.SMTPSecurity = account->SmtpSecurity;
  }
  return StoreForm();
}

void TSetUser::DeleteConf() {
  if (Selected < 0 || s_.Conf.size() < 2) return;
  s_.Conf[static_cast<std::size_t>(Selected)].Deleted = true;
  s_.Save();
  DeletedSome = true;
  FillList();
}

void TSetUser::Unlock() {
  const auto typed = view_.AskPassword("Пароль");
  if (typed && *typed == Conf.UserPwd) {
    Locked = false;
    return;
  }
  view_.ShowError("Пароль не верен. Редактирование параметров конфигурации " + Trim(Conf.ConfigNM) +
                  " запрещено.");
}

bool TSetUser::Ok() {
  if (!StoreForm()) return false;
  s_.Save();
  return true;
}

}  // namespace vigilo
