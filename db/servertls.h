#pragma once

#include <QString>

// Checks a MySQL/MariaDB server before any credentials are sent to it, on a connection of
// its own: its greeting must offer TLS, and when `caFile` is given, a TLS handshake must
// verify the server's certificate against that CA alone and the certificate's name against
// `host`. The database driver checks the chain but not the name. Returns an empty text when
// everything holds, else the reason (Russian, for the person).
QString checkServerTls(const QString& host, int port, const QString& caFile, int timeoutMs);
