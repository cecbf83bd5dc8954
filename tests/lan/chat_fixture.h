#pragma once
// Fakes around the messenger's logic: a neighbourhood given by the test and a view that
// records what the window would show.

#include <string>
#include <vector>

#include "lan/chat.h"

namespace vigilo::test {

class FixedNeighbourhood : public NeighbourhoodSource {
 public:
  std::vector<NetworkWorkgroup> Groups;
  bool Fail = false;
  std::vector<NetworkWorkgroup> Browse() override {
    if (Fail) throw std::runtime_error("no network");
    return Groups;
  }
};

class RecordingView : public ChatView {
 public:
  std::string Host, Msg, Status;
  std::vector<std::string> Messages;
  bool Visible = false;
  int TrayShown = 0;
  std::string HostText() const override { return Host; }
  void SetHostText(const std::string& t) override { Host = t; }
  std::string MsgText() const override { return Msg; }
  void SetMsgText(const std::string& t) override { Msg = t; }
  void ShowMessage(const std::string& t) override { Messages.push_back(t); }
  void ShowStatus(const std::string& t) override { Status = t; }
  bool IsVisible() const override { return Visible; }
  void ShowTrayIcon() override { ++TrayShown; }
};

}  // namespace vigilo::test
