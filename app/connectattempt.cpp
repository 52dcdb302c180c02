#include "app/connectattempt.h"

#include "core/aside.h"
#include "db/confighandler.h"
#include "db/lanehandler.h"

ConnectAttempt::ConnectAttempt(const SqlConnectionSettings& settings, bool check, QObject* parent)
    : QObject(parent)
    , lane(Aside::lane()) {
    const QString name = LaneHandler::uniqueConnectionName(QStringLiteral("attempt"));
    auto outcome = std::make_shared<Outcome>();
    lane->run(
        this,
        [settings, check, name, outcome] {
            auto handler = std::make_unique<ConfigHandler>(nullptr, name);
            handler->setConnectionSettings(settings);
            outcome->connected = handler->connectToDatabase() == 0;
            if (!outcome->connected)
                outcome->serverText = handler->lastError().serverText;
            else
                outcome->tlsSession = handler->tlsSession();
            if (outcome->connected && check) {
                try {
                    outcome->rootDefault = handler->checkDatabase();
                    outcome->adminGroupId = handler->adminGroupId();
                    handler->prepareJournal();
                    outcome->journal = handler->journalState();
                } catch (const QString& error) {
                    outcome->checkError = error;
                }
            }
            // one that outlived the program's end leaves its connection to the system
            if (Aside::ending())
                static_cast<void>(handler.release());
        },
        [this, outcome] {
            result = *outcome;
            done = true;
            emit finished();
        });
}

ConnectAttempt::~ConnectAttempt() {
    Aside::abandon(std::move(lane));
}
