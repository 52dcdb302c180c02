#include "models/dblane.h"

#include "core/aside.h"
#include "db/lanehandler.h"

// The lane's connection, opened, used and closed on its thread.
struct DbLaneLink : LaneHandler {
    explicit DbLaneLink(const QString& kind)
        : LaneHandler(kind) {}

    ConfigHandler* open() {
        if (connected)
            return handler.get();
        if (!handler) {
            handler = std::make_unique<ConfigHandler>(nullptr, connectionName);
            handler->knowGroups(groups);
        }
        handler->setConnectionSettings(settings);
        handler->useJournal(journal);
        connected = handler->connectToDatabase() == 0;
        if (connected)
            handler->useCheckedDatabase(adminGroupId);
        return connected ? handler.get() : nullptr;
    }

    SqlConnectionSettings settings;
    int adminGroupId = 0;
    JournalState journal;
    QVector<GroupInfo> groups;
};

DbLane::DbLane(const QString& name, QObject* parent)
    : QObject(parent)
    , lane(Aside::lane())
    , link(std::make_shared<DbLaneLink>(name)) {}

DbLane::~DbLane() {
    lane->run([link = link] { link->close(); });
    Aside::abandon(std::move(lane));
}

void DbLane::setConnection(const SqlConnectionSettings& settings, int adminGroupId,
                           const JournalState& journal) {
    lane->run([link = link, settings, adminGroupId, journal] {
        link->settings = settings;
        link->adminGroupId = adminGroupId;
        link->journal = journal;
        link->connected = false;
    });
}

void DbLane::reconnect() {
    lane->run([link = link] { link->connected = false; });
}

void DbLane::knowGroups(const QVector<GroupInfo>& groups) {
    lane->run([link = link, groups] {
        link->groups = groups;
        if (link->handler)
            link->handler->knowGroups(groups);
        if (link->settings.port != 0)
            link->open();
    });
}

void DbLane::run(QObject* context, Work work, std::function<void()> done) {
    lane->run(
        context,
        [link = link, work = std::move(work)] {
            ConfigHandler* db = link->open();
            work(db, db ? DbError() : link->handler->lastError());
            // a connection found gone is opened anew for the next job
            if (db && db->lastError().kind == DbError::Kind::ConnectionLost)
                link->connected = false;
        },
        std::move(done));
}
