#pragma once

#include "db/confighandler.h"

#include <memory>

// A handler kept by a lane: opened, used and closed on that lane's thread only.
struct LaneHandler {
    // A connection name no other handler of the program uses: "orb-<kind>-<serial>".
    static QString uniqueConnectionName(const QString& kind);

    explicit LaneHandler(const QString& kind)
        : connectionName(uniqueConnectionName(kind)) {}

    bool open(const SqlConnectionSettings& settings);
    void close();

    const QString connectionName;
    std::unique_ptr<ConfigHandler> handler;
    bool connected = false;
};
