// The repair run as the main window drives it.
#pragma once

#include "app/Run.h"
#include "gui-win32/MainWindow.h"

namespace kv::gui {

class RepairRunControl : public RunControl {
 public:
  explicit RepairRunControl(app::RepairRun& run) : run_(run) {}
  bool Startup(const std::string& companyDir) override { return run_.Startup(companyDir); }
  bool Fix(modules::ProgressSink& progress) override { return run_.Fix(progress); }
  void Close() override { run_.Close(); }
  int ExitCode() const override { return run_.ExitCode(); }

 private:
  app::RepairRun& run_;
};

}  // namespace kv::gui
