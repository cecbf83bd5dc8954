#include "config/ui/settings_wiring.h"

#include <QDir>
#include <QTimer>

#include "config/thunderbird.h"
#include "config/ui/parol.h"
#include "config/ui/setuser.h"
#include "core/ui/datm.h"

namespace vigilo {

void ConnectSettingsWindows(Tdm& dm, TForm3& form, TForm5& prompt, const Folders& folders) {
  form.RasEntries = [&dm] { return dm.msRas1.Entries(); };
  form.ImportAccount = [] {
    return FindThunderbirdAccount(ThunderbirdFolders(QDir::homePath().toStdString()));
  };
  const std::string icon_ini = folders.Home + "icon.ini";
  form.OnSaveIconSet = [&dm, icon_ini] { return dm.SaveIconSet(icon_ini); };
  form.OnLoadIconSet = [&dm, icon_ini] { dm.LoadIconSet(icon_ini); };
  form.Sound = dm.Sound();
  dm.AskPassword = [&prompt](const std::string& caption) { return prompt.Ask(caption); };
  dm.SetSettingsWindow([&form] {
    Tdm::SettingsOutcome outcome;
    outcome.Accepted = form.Execute() == QDialog::Accepted;
    outcome.Deleted = form.Logic().DeletedSome;
    return outcome;
  });
}

void OpenSettingsAfterStart(Tdm& dm) {
  QTimer::singleShot(0, &dm, [&dm] { dm.N32Click(); });
}

}  // namespace vigilo
