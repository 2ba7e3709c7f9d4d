// A read-only grid of texts for the window's three grids (archive listing, archive entries, log): a
// header row drawn navy, rows drawn red where the owner says so, and texts at the top left of each cell.
// A grid without rows shows one blank row, as the window always has.
#pragma once

#include <QAbstractTableModel>
#include <QStringList>
#include <QVector>
#include <functional>

namespace kzb::gui {

class TextGridModel : public QAbstractTableModel {
  Q_OBJECT

 public:
  explicit TextGridModel(QStringList headers, QObject* parent = nullptr);

  // Replaces every row at once (one reset, however many rows).
  void SetRows(QVector<QStringList> rows, QVector<bool> alert = {});
  // The rows held (without the blank row shown for an empty grid).
  const QVector<QStringList>& Rows() const { return rows_; }
  QString Text(int row, int column) const;

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

 private:
  QStringList headers_;
  QVector<QStringList> rows_;
  QVector<bool> alert_;
};

}  // namespace kzb::gui
