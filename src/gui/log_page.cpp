#include "gui/log_page.h"

#include <QFontMetrics>
#include <QHeaderView>
#include <QMenu>
#include <QTableView>
#include <QVBoxLayout>

#include "gui/gui_support.h"
#include "gui/text_grid_model.h"

namespace kzb::gui {

LogPage::LogPage(app::Application& app, QWidget* parent) : QWidget(parent), app_(&app) {
  setObjectName("TabLog");
  model_ = new TextGridModel({"Date", "Operation", "Status", "Project", "Information"}, this);
  grid_ = new QTableView(this);
  grid_->setObjectName("LogGrid");
  grid_->setModel(model_);
  grid_->verticalHeader()->hide();
  grid_->verticalHeader()->setDefaultSectionSize(grid_->fontMetrics().height() + 4);
  grid_->horizontalHeader()->setStretchLastSection(true);
  grid_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  grid_->setSelectionBehavior(QAbstractItemView::SelectRows);
  grid_->setWordWrap(false);
  grid_->setToolTip("Right-click it to open menu");
  grid_->setContextMenuPolicy(Qt::CustomContextMenu);
  // Columns as wide as their longest usual text, whatever the font and the scale.
  const QFontMetrics metrics = grid_->fontMetrics();
  const int padding = metrics.averageCharWidth() * 2;
  grid_->setColumnWidth(0, metrics.horizontalAdvance("0000-00-00 00:00:00") + padding);
  grid_->setColumnWidth(1, metrics.horizontalAdvance("Operation") + padding);
  grid_->setColumnWidth(2, metrics.horizontalAdvance("Interrupt") + padding);
  grid_->setColumnWidth(3, metrics.averageCharWidth() * 18);
  menu_ = new QMenu(this);
  menu_->setObjectName("LogPopupMenu");
  QAction* clear = menu_->addAction("Clear all log");
  clear->setObjectName("ClearAllLog");
  connect(clear, &QAction::triggered, this, &LogPage::ClearAllLog);
  connect(grid_, &QTableView::customContextMenuRequested, this,
          [this](const QPoint& pos) { menu_->popup(grid_->viewport()->mapToGlobal(pos)); });
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(grid_);
}

void LogPage::Refresh() {
  const std::vector<app::LogRow>& rows = app_->Log().Rows();
  QVector<QStringList> texts;
  QVector<bool> alert;
  texts.reserve(static_cast<int>(rows.size()));
  alert.reserve(static_cast<int>(rows.size()));
  for (const app::LogRow& row : rows) {
    texts.push_back({Q(row.date), Q(row.operation), Q(row.status), Q(row.project), Q(row.information)});
    alert.push_back(app::ActivityLog::IsAlertRow(row));
  }
  model_->SetRows(std::move(texts), std::move(alert));
}

void LogPage::ClearAllLog() {
  Guarded(app_->Ui(), [this] { app_->Log().ClearLog(); });
  Refresh();
}

}  // namespace kzb::gui
