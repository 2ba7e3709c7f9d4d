#include "app/runs/main_runs.h"

#include "zip/reader/vcl_unzip.h"

namespace kzb::app {

MainRuns::MainRuns(Application& app)
    : app_(&app),
      reader_(std::make_unique<zip::TVCLUnZip>()),
      backup_(std::make_unique<BackupRun>(app)),
      browser_(std::make_unique<ArchiveBrowser>(app.Settings(), *reader_, app.Ui())),
      restore_(std::make_unique<RestoreRun>(app, *reader_, browser_.get())),
      scheduler_(std::make_unique<class Scheduler>(app, *backup_)) {
  backup_->OnProgress = [this](int percent) { SetProgress(percent); };
  restore_->OnProgress = [this](int percent) { SetProgress(percent); };
  backup_->OnPageChange = [this](MainPage page) {
    if (page == MainPage::kRestore) browser_->PageControl1Change(app_->Panel().Fields().save_path);
  };
  scheduler_->AddHoldOff([this]() { return restore_->Confirming() || restore_->Running(); });
}

MainRuns::~MainRuns() = default;

void MainRuns::SetProgress(int percent) {
  progress_ = percent;
  if (OnProgress) OnProgress(percent);
}

BackupResult MainRuns::BackupMenuItemClick(const std::string& caption) {
  if (app_->Busy() || !app_->SelectProject(caption)) return BackupResult{};
  if (!app_->LoadSelectedProject()) return BackupResult{};
  return backup_->RunBackup();
}

void MainRuns::ActivatePage(MainPage page) {
  if (app_->Busy()) return;
  app_->SetActivePage(page);
  if (page == MainPage::kRestore) browser_->PageControl1Change(app_->Panel().Fields().save_path);
}

}  // namespace kzb::app
