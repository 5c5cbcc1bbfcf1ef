#include "qt_instance_channel.h"

#include <unistd.h>
#include <QLocalSocket>

namespace {

constexpr char kRaiseRequest[] = "raise\n";
constexpr char kRaiseAnswer[] = "raised\n";
// A copy that does not answer within this time is taken as gone.
constexpr int kAnswerWaitMs = 3000;

QString UserName() {
    QString user = qEnvironmentVariable("USER");
    return user.isEmpty() ? QString::number(getuid()) : user;
}

}  // namespace

QtInstanceChannel::QtInstanceChannel(const std::string& programName)
    : serverName_(QString::fromStdString(programName) + "-" + UserName()) {}

QtInstanceChannel::~QtInstanceChannel() {
    server_.close();
}

bool QtInstanceChannel::RaiseRunningInstance() {
    QLocalSocket socket;
    socket.connectToServer(serverName_);
    if (!socket.waitForConnected(kAnswerWaitMs))
        return false;
    socket.write(kRaiseRequest);
    if (!socket.waitForBytesWritten(kAnswerWaitMs))
        return false;
    while (!socket.canReadLine()) {
        if (!socket.waitForReadyRead(kAnswerWaitMs))
            return false;
    }
    return socket.readLine() == kRaiseAnswer;
}

void QtInstanceChannel::ListenForRaiseRequests(std::function<void()> raise) {
    raise_ = std::move(raise);
    // The single-instance lock is ours, so a socket left by a copy that died is stale.
    QLocalServer::removeServer(serverName_);
    server_.setSocketOptions(QLocalServer::UserAccessOption);
    if (!server_.listen(serverName_))
        return;
    QObject::connect(&server_, &QLocalServer::newConnection, &server_, [this] {
        while (QLocalSocket* socket = server_.nextPendingConnection()) {
            QObject::connect(socket, &QLocalSocket::disconnected, socket,
                             &QLocalSocket::deleteLater);
            QObject::connect(socket, &QLocalSocket::readyRead, socket, [this, socket] {
                while (socket->canReadLine()) {
                    if (socket->readLine() != kRaiseRequest)
                        continue;
                    if (raise_)
                        raise_();
                    socket->write(kRaiseAnswer);
                    socket->flush();
                }
            });
        }
    });
}
