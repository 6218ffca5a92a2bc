#include "app/instance_channel.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QThread>

#include "app/single_instance.h"
#include "base/log.h"

namespace rk {

namespace {

// A message is a handful of paths; anything longer is not one of ours.
constexpr qint64 kMaxMessage = 1 << 20;

}  // namespace

CInstanceChannel::CInstanceChannel(QObject* parent) : QObject(parent) {}

CInstanceChannel::~CInstanceChannel() {
    if (server_) server_->close();
}

std::string CInstanceChannel::SocketPath() { return CSingleInstance::LockPath() + ".socket"; }

bool CInstanceChannel::Listen() {
    const std::string path = SocketPath();
    if (!IsPrivateFolder(path.substr(0, path.rfind('/')))) {
        LogMessage(2, "CInstanceChannel::Listen(): %s is not in a private folder", path.c_str());
        return false;
    }
    const QString name = QString::fromStdString(path);
    // We hold the lock: a socket file there is a dead process's.
    QLocalServer::removeServer(name);
    server_ = new QLocalServer(this);
    server_->setSocketOptions(QLocalServer::UserAccessOption);
    if (!server_->listen(name)) {
        LogMessage(2, "CInstanceChannel::Listen(): %s: %s", path.c_str(), server_->errorString().toUtf8().constData());
        delete server_;
        server_ = nullptr;
        return false;
    }
    connect(server_, &QLocalServer::newConnection, this, &CInstanceChannel::OnNewConnection);
    return true;
}

void CInstanceChannel::OnNewConnection() {
    while (QLocalSocket* s = server_->nextPendingConnection()) {
        auto message = std::make_shared<QByteArray>();
        connect(s, &QLocalSocket::readyRead, this, [s, message] {
            message->append(s->readAll());
            if (message->size() > kMaxMessage) s->abort();
        });
        connect(s, &QLocalSocket::disconnected, this, [this, s, message] {
            message->append(s->readAll());
            s->deleteLater();
            if (message->size() > kMaxMessage) return;
            emit Called(Decode(*message));
        });
    }
}

QByteArray CInstanceChannel::Encode(const QStringList& files) {
    QByteArray out;
    for (const QString& f : files) {
        out += f.toUtf8();
        out += '\0';
    }
    return out;
}

QStringList CInstanceChannel::Decode(const QByteArray& message) {
    QStringList files;
    qsizetype start = 0;
    for (qsizetype i = 0; i < message.size(); ++i) {
        if (message[i] != '\0') continue;
        if (i > start) files << QString::fromUtf8(message.mid(start, i - start));
        start = i + 1;
    }
    return files;
}

bool CInstanceChannel::SendToRunning(const QStringList& files, int timeoutMs) {
    const QString name = QString::fromStdString(SocketPath());
    QElapsedTimer clock;
    clock.start();
    // The running window may still be starting: its socket comes after the lock.
    for (;;) {
        QLocalSocket s;
        s.connectToServer(name);
        if (s.waitForConnected(std::max<qint64>(1, timeoutMs - clock.elapsed()))) {
            s.write(Encode(files));
            bool ok = s.waitForBytesWritten(std::max<qint64>(1, timeoutMs - clock.elapsed())) || files.isEmpty();
            s.disconnectFromServer();
            if (s.state() != QLocalSocket::UnconnectedState) ok = s.waitForDisconnected(1000) && ok;
            return ok;
        }
        if (clock.elapsed() >= timeoutMs) return false;
        QThread::msleep(100);
    }
}

QStringList StartFiles(int argc, char** argv) {
    // Qt's own options that take a value: the value is not a file.
    static const char* const kWithValue[] = {"-platform", "-platformpluginpath", "-platformtheme", "-plugin",
                                             "-style", "-stylesheet", "-session", "-display", "-name", "-title",
                                             "-geometry", "-qwindowgeometry", "-qwindowtitle", "-qwindowicon"};
    QStringList files;
    for (int i = 1; i < argc; ++i) {
        const QString a = QString::fromLocal8Bit(argv[i]);
        if (a.startsWith(QLatin1Char('-'))) {
            for (const char* o : kWithValue)
                if (a == QLatin1String(o) || a == QLatin1Char('-') + QLatin1String(o)) ++i;
            continue;
        }
        if (!a.isEmpty()) files << QFileInfo(a).absoluteFilePath();
    }
    return files;
}

}  // namespace rk
