#include "qt_instance_channel.h"

#include <QLocalSocket>

#include "platform/named_mutex.h"

namespace {

constexpr char kRaiseRequest[] = "raise\n";
constexpr char kRaiseAnswer[] = "raised\n";
// A copy that does not answer within this time is taken as gone.
constexpr int kAnswerWaitMs = 3000;

// Beside the single-instance lock, in the user's lock directory: a bare name would put the
// socket under TMPDIR, which, like the user name, may differ between the user's sessions.
QString ServerPath(const std::string& programName) {
    std::string dir;
    if (!plat::UserLockDirectory(dir))
        return {};
    return QString::fromStdString(dir + "/" + programName + ".raise");
}

}  // namespace

QtInstanceChannel::QtInstanceChannel(const std::string& programName)
    : serverName_(ServerPath(programName)) {}

QtInstanceChannel::~QtInstanceChannel() {
    server_.close();
}

bool QtInstanceChannel::RaiseRunningInstance() {
    if (serverName_.isEmpty())
        return false;
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
    if (serverName_.isEmpty())
        return;
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
