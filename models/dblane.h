#pragma once

#include "db/confighandler.h"

#include <QObject>
#include <QVector>

#include <functional>
#include <memory>

class Aside;
struct DbLaneLink;

// A thread and a database connection of its own, so that what is asked of the database never
// holds up the GUI thread. Its jobs run one after another, in the order given. Lives in the
// thread that creates it; returns at once when destroyed, a job still running then ends on its
// thread and closes the connection there.
class DbLane : public QObject {
    Q_OBJECT

public:
    explicit DbLane(const QString& name, QObject* parent = nullptr);
    ~DbLane() override;

    // Used from the next job on, which connects anew; adminGroupId is what the integrity check
    // of these settings found, journal what connecting found of the change journal.
    void setConnection(const SqlConnectionSettings& settings, int adminGroupId, const JournalState& journal);
    // The next job connects anew (the connection may have been closed meanwhile).
    void reconnect();
    // Group names that a refused change may need to name a group deleted meanwhile; connects
    // meanwhile, so that the next job finds the connection open.
    void knowGroups(const QVector<GroupInfo>& groups);

    // `work` on the lane's thread with its handler, or with none when it could not connect (then
    // `error` says why); then `done` on this thread unless `context` is gone by then.
    using Work = std::function<void(ConfigHandler* db, const DbError& error)>;
    void run(QObject* context, Work work, std::function<void()> done);

private:
    std::unique_ptr<Aside> lane;
    const std::shared_ptr<DbLaneLink> link; // used on the lane's thread only
};
