// Set-up of the window tests: the run tests' data folder, source tree and destination, with a main window
// over them whose every question and dialog is answered by a scripted interface.
#pragma once

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QMenu>
#include <QTabWidget>
#include <QTest>
#include <QToolButton>
#include <memory>

#include "app/runs/runs_fixture.h"
#include "gui/gui_support.h"
#include "gui/log_page.h"
#include "gui/main_window.h"

namespace kzb::gui {

class WindowTest : public app::runs_test::RunsTest {
 protected:
  ~WindowTest() override {
    window_.reset();
    DesktopOpener() = [](const QUrl&) { return false; };
  }

  // Writes the projects like RunsTest::Start and opens the window on them.
  MainWindow& Open(const std::vector<app::runs_test::ProjectSetup>& projects, const std::string& common_extra = "") {
    std::string text = "[Common]\nProject Count=" + std::to_string(projects.size()) + "\n";
    for (std::size_t i = 0; i < projects.size(); ++i) {
      text += "Count" + std::to_string(i) + "=" + projects[i].name + "\n";
    }
    if (!projects.empty()) text += "Last Project=" + projects[0].name + "\n";
    text += common_extra;
    for (const auto& p : projects) text += Section(p);
    test::WriteFileText(IniPath(), text);
    MainWindowOptions options;
    options.data_dir = DataDir();
    options.program_path = "/opt/kzb/kestrova-zip-backup";
    options.autostart_entry = dir_ / "autostart/kestrova-zip-backup.desktop";
    window_ = std::make_unique<MainWindow>(options);
    window_->Ui().SetAnswerer(&ui_);
    window_->Start();
    window_->show();
    opened_.clear();
    DesktopOpener() = [this](const QUrl& url) {
      opened_.push_back(url.toLocalFile().toStdString());
      return true;
    };
    return *window_;
  }

  QToolButton* Button(const char* name) {
    QToolButton* b = window_->ToolButton(name);
    EXPECT_NE(b, nullptr) << name;
    return b;
  }
  void Click(const char* name) { QTest::mouseClick(Button(name), Qt::LeftButton); }
  template <typename T>
  T* Child(const char* name) {
    T* child = window_->findChild<T*>(name);
    EXPECT_NE(child, nullptr) << name;
    return child;
  }
  // Clicks a check box or radio button on its indicator (a click on the empty end of a wide box misses).
  static void Toggle(QAbstractButton* button) {
    QTest::mouseClick(button, Qt::LeftButton, Qt::NoModifier, QPoint(6, button->height() / 2));
  }
  QAction* TrayEntry(int index) { return window_->BackupSubmenu()->actions().at(index); }

  std::unique_ptr<MainWindow> window_;
  std::vector<std::string> opened_;
};

}  // namespace kzb::gui
