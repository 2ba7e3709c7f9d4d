// One window per user and data folder. The first process listens on a local socket named after the user
// and the data folder; a later start connects, asks it to come to the front and ends, without opening
// any data file.
#pragma once

#include <QObject>
#include <QString>

class QLocalServer;

namespace kzb::gui {

class SingleInstance : public QObject {
  Q_OBJECT

 public:
  explicit SingleInstance(const QString& data_dir, QObject* parent = nullptr);

  // The socket's name: the user's id and a hash of the data folder.
  static QString ServerName(const QString& data_dir);

  // A later start: asks the running window to come to the front. True when it answered.
  bool ActivateRunning(int timeout_ms = 1000) const;
  // The first start: listens for later starts (a socket left over by a crashed process is replaced; the
  // caller holds the window lock, so no live window owns it). False when listening failed.
  bool Listen();

 signals:
  void ActivationRequested();

 private:
  QString name_;
  QLocalServer* server_ = nullptr;
};

}  // namespace kzb::gui
