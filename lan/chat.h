#pragma once
// What the messenger window shows and what its commands do, without widgets. The
// window (TForm7) implements ChatView and forwards its events here.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "lan/lanmsg.h"
#include "lan/networks.h"

namespace vigilo {

class SoundPlayer;

// One row of the message log. Marker "0" sent, "2" received and unread, "1" received
// and read, "" the empty row the log starts with. Text lines are separated by "\n".
struct ChatRow {
  std::string Marker;
  std::string From;
  std::string Time;
  std::string Text;
};

// Images of the tree's computers.
enum ComputerImage : int { kComputerAnswered = 0, kWorkgroupImage = 1, kComputerSilent = 2 };

struct ChatComputer {
  std::string Name;
  int Image = kComputerAnswered;
};
struct ChatWorkgroup {
  std::string Name;
  std::vector<ChatComputer> Computers;
};

class ChatView {
 public:
  virtual ~ChatView() = default;
  virtual std::string HostText() const { return ""; }
  virtual void SetHostText(const std::string&) {}
  virtual void HostItemsChanged() {}
  virtual std::string MsgText() const { return ""; }
  virtual void SetMsgText(const std::string&) {}
  virtual void FocusHost() {}
  virtual void FocusMsg() {}
  // A modal box with one OK button, plain text.
  virtual void ShowMessage(const std::string&) {}
  // A line in the window's status area ("" hides it).
  virtual void ShowStatus(const std::string&) {}
  virtual bool IsVisible() const { return false; }
  virtual void ShowTrayIcon() {}
  virtual void RowChanged(int /*row*/, bool /*added*/) {}
  virtual void TreeChanged() {}
  virtual void ComputerChanged(int /*group*/, int /*index*/) {}
  virtual void SetProgress(int /*position*/, int /*max*/) {}
  virtual void SetBusy(bool) {}
};

// Time limits of one exchange: a probe gives up sooner than a message.
inline constexpr int kProbeTimeOutMs = 3000;
inline constexpr int kSendTimeOutMs = 15000;

class TChat {
 public:
  TChat(ChatView& view, NeighbourhoodSource& network, int32_t port = kLanPort,
        LanLimits limits = {});

  // The sender and the listener.
  TLanMsg LanMsg1;
  TLanMsgServ LanMsgServ1;

  // This computer's name: the sender name of every frame.
  std::string LocalName;
  // The message log; it starts with one empty row.
  std::vector<ChatRow> Rows{ChatRow{}};
  // The drop-down list of the recipient box.
  std::vector<std::string> HostItems;
  // The tree of workgroups and computers.
  std::vector<ChatWorkgroup> Tree;

  // Sound on receipt: the player and the name of the sound (the setting "Sound").
  SoundPlayer* Sound = nullptr;
  std::function<std::string()> SoundName;
  // The time text of a new row ("dd.MM.yyyy HH:mm:ss").
  std::function<std::string()> Now;
  // This computer's name (gethostname).
  std::function<std::string()> ComputerName = LocalComputerName;

  // Starts listening. Returns "" or the failure, which also stays in ListenError.
  std::string Listen();
  std::string ListenError;

  // Handlers.
  void FormShow();
  void loadLanList(bool probe);
  void Button1Click();
  void LanMsg1MessageSent(const std::string& host, const std::string& text);
  void LanMsgServ1MSG(const std::string& fromName, const std::string& msg);
  void gridSelectCell(int row);
  void TreeView1Click(int group, int index);
  void BitBtn2Click() { loadLanList(true); }
  // Context menu of the row: N1 "Копировать письмо", N2 "Ответить отправителю".
  bool N1Enabled(int row) const;
  bool N2Enabled(int row) const;
  void N1Click(int row);
  void N2Click(int row);

  // True while a send or probe waits for the network (commands are ignored then).
  bool Busy() const { return busy_; }
  // Number of lines of a log text.
  static int LineCount(const std::string& text);
  // Adds name to HostItems unless it is there already, ignoring letter case.
  void AddHostItem(const std::string& name);

 private:
  int TakeRow();
  bool Probe(const std::string& computer);

  ChatView& view_;
  NeighbourhoodSource& network_;
  bool busy_ = false;
};

// The text a user gives a message in when it is too long to send.
std::string TooLongText(std::size_t bytes);

}  // namespace vigilo
