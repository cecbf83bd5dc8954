#pragma once
// Tdm as WakeupChecks sees it: whether a check may start now, and starting one.

#include "core/wakeup.h"

namespace vigilo {

class Tdm;

class TdmWakeupTray : public WakeupChecks::Tray {
 public:
  explicit TdmWakeupTray(Tdm& tdm) : dm_(tdm) {}

  WakeupChecks::TrayState State() const override;
  bool DialsOwnLine() const override;
  void RunCheck() override;

 private:
  Tdm& dm_;
};

}  // namespace vigilo
