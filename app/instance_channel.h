#pragma once
// The running window's door for later starts: a local socket beside the
// single-instance lock, in the same private runtime folder. A second start
// sends the files it was given (absolute paths) and ends; the running window
// comes to the front and adds them, as a drop of those files would.
//
// The message is the paths, each followed by a NUL byte, then the end of the
// connection; an empty message only brings the window to the front.
#include <QObject>
#include <QStringList>
#include <string>

class QLocalServer;

namespace rk {

class CInstanceChannel : public QObject {
    Q_OBJECT
public:
    explicit CInstanceChannel(QObject* parent = nullptr);
    ~CInstanceChannel() override;

    // Starts listening at SocketPath(); the caller holds the single-instance
    // lock, so a socket file left there by a dead process is removed first.
    // False when the folder is not private or no socket could be made.
    bool Listen();

    // Where the socket lives: beside the lock.
    static std::string SocketPath();

    // For a second start: hands `files` to the running window. False when no
    // running window answered within `timeoutMs`.
    static bool SendToRunning(const QStringList& files, int timeoutMs = 3000);

    // The paths of a message, as SendToRunning writes them.
    static QByteArray Encode(const QStringList& files);
    static QStringList Decode(const QByteArray& message);

signals:
    // Another start asked for the window, with its files (maybe none).
    void Called(const QStringList& files);

private:
    void OnNewConnection();
    QLocalServer* server_ = nullptr;
};

// The file arguments of a start, made absolute against the current folder;
// options (anything starting with '-') are not files.
QStringList StartFiles(int argc, char** argv);

}  // namespace rk
