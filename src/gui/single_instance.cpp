#include "gui/single_instance.h"

#include <unistd.h>

#include <QCryptographicHash>
#include <QDir>
#include <QLocalServer>
#include <QLocalSocket>

namespace kzb::gui {

namespace {

constexpr char kShowRequest[] = "show\n";

}  // namespace

SingleInstance::SingleInstance(const QString& data_dir, QObject* parent)
    : QObject(parent), name_(ServerName(data_dir)) {}

QString SingleInstance::ServerName(const QString& data_dir) {
  const QString folder = QDir::cleanPath(QDir(data_dir).absolutePath());
  const QByteArray hash = QCryptographicHash::hash(folder.toUtf8(), QCryptographicHash::Sha256).toHex().left(16);
  return QString("kestrova-zip-backup-%1-%2").arg(static_cast<qulonglong>(::getuid())).arg(QString::fromLatin1(hash));
}

bool SingleInstance::ActivateRunning(int timeout_ms) const {
  QLocalSocket socket;
  socket.connectToServer(name_);
  if (!socket.waitForConnected(timeout_ms)) return false;
  socket.write(kShowRequest);
  if (!socket.waitForBytesWritten(timeout_ms)) return false;
  // The running window answers once it has taken the request.
  socket.waitForReadyRead(timeout_ms);
  socket.disconnectFromServer();
  return true;
}

bool SingleInstance::Listen() {
  server_ = new QLocalServer(this);
  server_->setSocketOptions(QLocalServer::UserAccessOption);
  if (!server_->listen(name_)) {
    QLocalServer::removeServer(name_);
    if (!server_->listen(name_)) return false;
  }
  connect(server_, &QLocalServer::newConnection, this, [this] {
    while (QLocalSocket* socket = server_->nextPendingConnection()) {
      connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
        if (!socket->canReadLine()) return;
        if (socket->readLine().trimmed() == "show") {
          socket->write("ok\n");
          socket->flush();
          emit ActivationRequested();
        }
        socket->disconnectFromServer();
      });
      connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
    }
  });
  return true;
}

}  // namespace kzb::gui
