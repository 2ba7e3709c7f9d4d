// The "Log" page: the activity log's grid, newest first, rows with the status "Fails" or "Interrupt" in
// red, and its menu "Clear all log".
#pragma once

#include <QWidget>

#include "app/session/application.h"

class QMenu;
class QTableView;

namespace kzb::gui {

class TextGridModel;

class LogPage : public QWidget {
  Q_OBJECT

 public:
  LogPage(app::Application& app, QWidget* parent = nullptr);

  void Refresh();
  QTableView* Grid() const { return grid_; }
  TextGridModel* Model() const { return model_; }
  QMenu* Menu() const { return menu_; }
  void ClearAllLog();

 private:
  app::Application* app_;
  QTableView* grid_;
  TextGridModel* model_;
  QMenu* menu_;
};

}  // namespace kzb::gui
