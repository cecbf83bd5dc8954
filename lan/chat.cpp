#include "lan/chat.h"

#include "base/text.h"
#include "base/utf8.h"
#include "platform/errorlog.h"
#include "platform/sound.h"
#include "viewer/CyrUtf8.h"

namespace vigilo {

namespace {

// Lower case of Latin and Russian letters; anything else as it is.
std::u32string Folded(const std::string& s) {
  std::u32string out;
  const auto* p = reinterpret_cast<const unsigned char*>(s.data());
  const auto* end = p + s.size();
  while (p < end) {
    char32_t c;
    p += utf8::Decode(p, end, c);
    if (c >= 'A' && c <= 'Z') c += 0x20;
    if (c >= 0x410 && c <= 0x42F) c += 0x20;
    if (c >= 0x400 && c <= 0x40F) c += 0x50;
    out.push_back(c);
  }
  return out;
}

// Line breaks of the log: "\n" whatever the peer sent.
std::string LogLines(const std::string& text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r') {
      out += '\n';
      if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
    } else {
      out += text[i];
    }
  }
  return out;
}

// Line breaks on the wire: CR LF.
std::string WireLines(const std::string& text) {
  std::string out;
  for (char c : LogLines(text)) {
    if (c == '\n') out += '\r';
    out += c;
  }
  return out;
}

}  // namespace

std::string TooLongText(std::size_t bytes) {
  return "Сообщение слишком длинное: " + std::to_string(bytes) +
         " байт. По сети можно отправить не больше 9999 байт.";
}

TChat::TChat(ChatView& view, NeighbourhoodSource& network, int32_t port, LanLimits limits)
    : LanMsgServ1(port, limits), Now(ErrorLogStamp), view_(view), network_(network) {
  LanMsg1.Port = port;
  LanMsgServ1.OnMSG = [this](const std::string& from, const std::string& msg) {
    LanMsgServ1MSG(from, msg);
  };
}

std::string TChat::Listen() {
  ListenError = LanMsgServ1.Listen();
  return ListenError;
}

int TChat::LineCount(const std::string& text) {
  if (text.empty()) return 0;
  int lines = 1;
  for (char c : text)
    lines += c == '\n';
  return lines;
}

void TChat::AddHostItem(const std::string& name) {
  const auto folded = Folded(name);
  for (const auto& item : HostItems)
    if (Folded(item) == folded) return;
  HostItems.push_back(name);
  view_.HostItemsChanged();
}

int TChat::TakeRow() {
  if (Rows.size() == 1 && Rows[0].Marker.empty()) return 0;
  Rows.emplace_back();
  return static_cast<int>(Rows.size()) - 1;
}

void TChat::FormShow() {
  LocalName = ComputerName();
  loadLanList(false);
}

void TChat::loadLanList(bool probe) {
  if (busy_) return;
  busy_ = true;
  view_.SetBusy(true);
  HostItems.clear();
  view_.SetHostText("");
  view_.HostItemsChanged();
  Tree.clear();
  try {
    TNetworkNeighborhood network(network_);
    view_.ShowStatus("");
    int total = 0;
    for (int g = 0; g < network.Count(); ++g) {
      Tree.push_back({network.Strings(g), {}});
      for (const auto& name : network.Objects(g))
        Tree.back().Computers.push_back({name});
      total += static_cast<int>(network.Objects(g).size());
    }
    view_.TreeChanged();
    view_.SetProgress(0, total);
    int done = 0;
    for (std::size_t g = 0; probe && g < Tree.size(); ++g) {
      for (std::size_t i = 0; i < Tree[g].Computers.size(); ++i) {
        auto& computer = Tree[g].Computers[i];
        computer.Image = Probe(computer.Name) ? kComputerAnswered : kComputerSilent;
        if (computer.Image == kComputerAnswered) AddHostItem(computer.Name);
        view_.ComputerChanged(static_cast<int>(g), static_cast<int>(i));
        view_.SetProgress(++done, total);
      }
    }
  } catch (const ECannotFindNetwork& e) {
    view_.TreeChanged();
    view_.ShowStatus(e.what());
  }
  view_.SetProgress(0, 100);
  view_.SetBusy(false);
  busy_ = false;
}

bool TChat::Probe(const std::string& computer) {
  LanMsg1.OnMessageSent = nullptr;  // probes are not logged
  LanMsg1.FromName = LocalName;
  LanMsg1.Host = computer;
  LanMsg1.TimeOut = kProbeTimeOutMs;
  try {
    LanMsg1.PostIt("");
    return true;
  } catch (const std::exception&) {
    return false;
  }
}

void TChat::Button1Click() {
  if (busy_) return;
  const std::string host = Trim(view_.HostText());
  const std::string text = view_.MsgText();
  if (Trim(LocalName).empty() || Trim(text).empty()) return;
  const std::string wire = WireLines(text);
  const std::size_t bytes = ToWireText(wire).size();
  if (bytes > kLanMaxText) {
    view_.ShowMessage(TooLongText(bytes));
    view_.FocusMsg();
    return;
  }
  busy_ = true;
  LanMsg1.FromName = LocalName;
  LanMsg1.Host = host;
  LanMsg1.TimeOut = kSendTimeOutMs;
  LanMsg1.OnMessageSent = [this, host, text] { LanMsg1MessageSent(host, text); };
  try {
    LanMsg1.PostIt(wire);
  } catch (const std::exception&) {
    view_.ShowMessage("Отправить сообщение " + host + " невозможно. Проверьте адрес.");
    view_.FocusHost();
  }
  LanMsg1.OnMessageSent = nullptr;
  busy_ = false;
}

void TChat::LanMsg1MessageSent(const std::string& host, const std::string& text) {
  const int row = TakeRow();
  Rows[row] = {"0", host, Now(), LogLines(text)};
  view_.RowChanged(row, row > 0);
  if (!Trim(host).empty()) AddHostItem(Trim(host));
  view_.SetMsgText("");
}

void TChat::LanMsgServ1MSG(const std::string& fromName, const std::string& msg) {
  if (Trim(msg).empty()) return;  // a probe
  const int row = TakeRow();
  Rows[row] = {"2", fromName, Now(), LogLines(msg)};
  view_.RowChanged(row, row > 0);
  if (!view_.IsVisible()) view_.ShowTrayIcon();
  const std::string sound = SoundName ? Trim(SoundName()) : "";
  if (Sound && !sound.empty()) Sound->Play(sound);
}

void TChat::gridSelectCell(int row) {
  if (row < 0 || row >= static_cast<int>(Rows.size()) || Rows[row].Marker != "2") return;
  Rows[row].Marker = "1";
  view_.RowChanged(row, false);
}

void TChat::TreeView1Click(int group, int index) {
  if (busy_ || group < 0 || group >= static_cast<int>(Tree.size())) return;
  auto& computers = Tree[group].Computers;
  if (index < 0 || index >= static_cast<int>(computers.size())) return;
  busy_ = true;
  const std::string name = Trim(computers[index].Name);
  const bool answered = Probe(name);
  // The tree may have been rebuilt meanwhile only through this object, which is busy.
  computers[index].Image = answered ? kComputerAnswered : kComputerSilent;
  view_.SetHostText(answered ? name : "");
  view_.ComputerChanged(group, index);
  busy_ = false;
}

bool TChat::N1Enabled(int row) const {
  return row >= 0 && row < static_cast<int>(Rows.size()) && !Trim(Rows[row].Text).empty();
}

bool TChat::N2Enabled(int row) const {
  return row >= 0 && row < static_cast<int>(Rows.size()) && !Trim(Rows[row].From).empty();
}

void TChat::N2Click(int row) {
  if (!N2Enabled(row)) return;
  const std::string from = Trim(Rows[row].From);
  AddHostItem(from);
  view_.SetHostText(from);
  view_.FocusMsg();
}

void TChat::N1Click(int row) {
  if (row < 0 || row >= static_cast<int>(Rows.size())) return;
  view_.SetHostText(Trim(Rows[row].From));
  view_.SetMsgText("Re:" + Trim(Rows[row].Text));
  view_.FocusMsg();
}

}  // namespace vigilo
