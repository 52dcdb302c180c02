#include "db/servertls.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QFileInfo>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QSslSocket>
#include <QStringList>
#include <QtEndian>

#include <algorithm>

namespace {

// Capability flags of the MySQL client/server protocol.
constexpr quint32 CLIENT_LONG_PASSWORD = 0x1;
constexpr quint32 CLIENT_PROTOCOL_41 = 0x200;
constexpr quint32 CLIENT_SSL = 0x800;
constexpr quint32 CLIENT_SECURE_CONNECTION = 0x8000;
constexpr quint32 CLIENT_PLUGIN_AUTH = 0x80000;
constexpr int MAX_GREETING = 64 * 1024;

bool waitFor(QSslSocket& socket, qint64 bytes, const QDeadlineTimer& deadline) {
    while (socket.bytesAvailable() < bytes) {
        if (deadline.hasExpired() || !socket.waitForReadyRead(int(deadline.remainingTime())))
            return false;
    }
    return true;
}

// One protocol packet: 3 bytes length, 1 byte sequence number, the payload.
bool readPacket(QSslSocket& socket, const QDeadlineTimer& deadline, QByteArray& payload, quint8& sequence) {
    if (!waitFor(socket, 4, deadline))
        return false;
    const QByteArray header = socket.read(4);
    const auto* h = reinterpret_cast<const uchar*>(header.constData());
    const int length = h[0] | (h[1] << 8) | (h[2] << 16);
    sequence = h[3];
    if (length > MAX_GREETING || !waitFor(socket, length, deadline))
        return false;
    payload = socket.read(length);
    return true;
}

// Server capabilities from the initial handshake packet (protocol version 10); 0 if it is none.
quint32 serverCapabilities(const QByteArray& greeting) {
    if (greeting.isEmpty() || greeting.at(0) != 10)
        return 0;
    const int versionEnd = greeting.indexOf('\0', 1);
    // connection id (4), first part of the scramble (8), filler (1), lower capabilities (2)
    const int at = versionEnd + 1 + 4 + 8 + 1;
    if (versionEnd < 0 || greeting.size() < at + 2)
        return 0;
    quint32 caps = qFromLittleEndian<quint16>(greeting.constData() + at);
    // character set (1), status (2), upper capabilities (2)
    if (greeting.size() >= at + 2 + 3 + 2)
        caps |= quint32(qFromLittleEndian<quint16>(greeting.constData() + at + 5)) << 16;
    return caps;
}

// The text of an error packet (0xff, code, optional '#' and SQL state, message).
QString serverError(const QByteArray& packet) {
    QByteArray text = packet.mid(3);
    if (text.startsWith('#'))
        text = text.mid(6);
    return QString::fromUtf8(text);
}

QByteArray sslRequest(quint8 sequence) {
    QByteArray packet(4 + 32, '\0');
    char* p = packet.data();
    qToLittleEndian<quint32>(32, p); // 3 bytes length; the fourth byte is overwritten next
    p[3] = char(sequence);
    qToLittleEndian<quint32>(CLIENT_LONG_PASSWORD | CLIENT_PROTOCOL_41 | CLIENT_SSL |
                                 CLIENT_SECURE_CONNECTION | CLIENT_PLUGIN_AUTH,
                             p + 4);
    qToLittleEndian<quint32>(16 * 1024 * 1024, p + 8);
    p[12] = 45; // utf8mb4_general_ci; the rest is filler
    return packet;
}

// A CA bundle is some kilobytes; a device or a pipe named instead could never end.
constexpr qint64 maxCaFileSize = 1024 * 1024;

QList<QSslCertificate> readCa(const QString& caFile) {
    QFile file(caFile);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QByteArray data = file.read(maxCaFileSize);
    QList<QSslCertificate> certificates = QSslCertificate::fromData(data, QSsl::Pem);
    if (certificates.isEmpty())
        certificates = QSslCertificate::fromData(data, QSsl::Der);
    return certificates;
}

QString unreachable(const QSslSocket& socket) {
    return QStringLiteral("Сервер БД не отвечает: %1").arg(socket.errorString());
}

} // namespace

QString checkServerTls(const QString& host, int port, const QString& caFile, int timeoutMs) {
    if (!QSslSocket::supportsSsl())
        return QStringLiteral("Шифрованное соединение недоступно: не найдена библиотека OpenSSL (%1).")
            .arg(QSslSocket::sslLibraryBuildVersionString());
    QList<QSslCertificate> ca;
    if (!caFile.isEmpty()) {
        const QFileInfo info(caFile);
        if (info.exists() && (!info.isFile() || info.size() > maxCaFileSize))
            return QStringLiteral("Файл %1 не похож на сертификат CA: нужен обычный файл не больше 1 МиБ.")
                .arg(caFile);
        ca = readCa(caFile);
        if (ca.isEmpty())
            return QStringLiteral("Не удалось прочитать сертификат CA из файла %1.").arg(caFile);
    }
    const QDeadlineTimer deadline(timeoutMs);
    QSslSocket socket;
    socket.connectToHost(host, quint16(port));
    if (!socket.waitForConnected(int(deadline.remainingTime())))
        return unreachable(socket);
    QByteArray greeting;
    quint8 sequence = 0;
    if (!readPacket(socket, deadline, greeting, sequence))
        return unreachable(socket);
    if (greeting.startsWith('\xff'))
        return serverError(greeting);
    if (!(serverCapabilities(greeting) & CLIENT_SSL))
        return QStringLiteral("Сервер БД не поддерживает шифрованное соединение (TLS).");
    socket.write(sslRequest(quint8(sequence + 1)));
    QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
    tls.setCaCertificates(ca); // the only trusted roots: no system ones
    // without a CA there is nothing to verify against: the driver encrypts without verifying
    tls.setPeerVerifyMode(ca.isEmpty() ? QSslSocket::VerifyNone : QSslSocket::VerifyPeer);
    tls.setProtocol(QSsl::TlsV1_2OrLater);
    socket.setSslConfiguration(tls);
    socket.setPeerVerifyName(host);
    socket.startClientEncryption();
    if (socket.waitForEncrypted(int(deadline.remainingTime()))) {
        // a clean TLS close: the server's side of it ends without an error
        socket.disconnectFromHost();
        if (socket.state() != QAbstractSocket::UnconnectedState)
            socket.waitForDisconnected(int(std::max<qint64>(0, deadline.remainingTime())));
        return QString();
    }
    QStringList reasons;
    for (const QSslError& e : socket.sslHandshakeErrors())
        reasons << e.errorString();
    if (reasons.isEmpty())
        reasons << socket.errorString();
    return QStringLiteral("Сертификат сервера БД не прошёл проверку: %1")
        .arg(reasons.join(QStringLiteral("; ")));
}
