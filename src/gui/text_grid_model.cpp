#include "gui/text_grid_model.h"

#include <QBrush>
#include <QColor>

namespace kzb::gui {

namespace {

const QColor kNavy(0, 0, 128);
const QColor kRed(255, 0, 0);

}  // namespace

TextGridModel::TextGridModel(QStringList headers, QObject* parent)
    : QAbstractTableModel(parent), headers_(std::move(headers)) {}

void TextGridModel::SetRows(QVector<QStringList> rows, QVector<bool> alert) {
  beginResetModel();
  rows_ = std::move(rows);
  alert_ = std::move(alert);
  endResetModel();
}

QString TextGridModel::Text(int row, int column) const {
  if (row < 0 || row >= rows_.size() || column < 0 || column >= rows_[row].size()) return {};
  return rows_[row][column];
}

int TextGridModel::rowCount(const QModelIndex& parent) const {
  if (parent.isValid()) return 0;
  return rows_.isEmpty() ? 1 : static_cast<int>(rows_.size());
}

int TextGridModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(headers_.size());
}

QVariant TextGridModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid()) return {};
  switch (role) {
    case Qt::DisplayRole:
    case Qt::ToolTipRole: {
      const QString text = Text(index.row(), index.column());
      if (role == Qt::ToolTipRole && text.isEmpty()) return {};
      return text;
    }
    case Qt::TextAlignmentRole:
      return QVariant::fromValue(Qt::Alignment(Qt::AlignLeft | Qt::AlignTop));
    case Qt::ForegroundRole:
      if (index.row() < alert_.size() && alert_[index.row()]) return QBrush(kRed);
      return {};
    default:
      return {};
  }
}

QVariant TextGridModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || section < 0 || section >= headers_.size()) return {};
  if (role == Qt::DisplayRole) return headers_[section];
  if (role == Qt::ForegroundRole) return QBrush(kNavy);
  if (role == Qt::TextAlignmentRole) return QVariant::fromValue(Qt::Alignment(Qt::AlignLeft | Qt::AlignVCenter));
  return {};
}

}  // namespace kzb::gui
