#include "models/journaltablemodel.h"

#include "core/aside.h"
#include "core/journaltext.h"
#include "db/lanehandler.h"

#include <utility>

// The model's connection, opened, used and closed on its lane's thread.
struct JournalLink : LaneHandler {
    struct Result {
        bool ok = false;
        QVector<JournalTableModel::Row> rows;
        int read = 0;
        QString error;
    };

    JournalLink()
        : LaneHandler(QStringLiteral("journal")) {}

    void load(const SqlConnectionSettings& settings, bool settingsChanged, const JournalFilter& filter,
              Result& result) {
        QVector<JournalEntry> entries;
        // a connection kept since the last read may have been dropped meanwhile
        const bool reused = connected && !settingsChanged;
        if (reused || open(settings)) {
            entries = handler->journal(filter, JournalTableModel::pageSize, &result.ok);
            if (!result.ok && reused && open(settings))
                entries = handler->journal(filter, JournalTableModel::pageSize, &result.ok);
        }
        if (!result.ok) {
            result.error = handler->lastErrorText();
            connected = false;
            return;
        }
        result.read = entries.size();
        result.rows.reserve(entries.size());
        for (JournalEntry& entry : entries) {
            JournalTableModel::Row row;
            row.texts[JournalTableModel::Time] = JournalText::time(entry);
            row.texts[JournalTableModel::Administrator] = JournalText::administrator(entry);
            row.texts[JournalTableModel::Action] = JournalText::action(entry.action, entry.object);
            row.texts[JournalTableModel::Object] = JournalText::label(entry);
            row.texts[JournalTableModel::Changes] = JournalText::changes(entry);
            for (const QString& text : row.texts)
                row.folded += text.toCaseFolded() + QLatin1Char('\n');
            row.entry = std::move(entry);
            result.rows.append(std::move(row));
        }
    }
};

JournalTableModel::JournalTableModel(QObject* parent)
    : QAbstractTableModel(parent)
    , lane(Aside::lane())
    , link(std::make_shared<JournalLink>()) {}

JournalTableModel::~JournalTableModel() {
    lane->run([link = link] { link->close(); });
    Aside::abandon(std::move(lane));
}

void JournalTableModel::setConnectionSettings(const SqlConnectionSettings& settings) {
    this->settings = settings;
    settingsChanged = true;
}

void JournalTableModel::reload(const JournalFilter& scope) {
    readScope = scope;
    readScope.beforeId = 0;
    ++generation;
    beginResetModel();
    rows.clear();
    shown.clear();
    exhausted = true;
    endResetModel();
    read(0);
}

void JournalTableModel::read(quint64 beforeId) {
    JournalFilter filter = readScope;
    filter.beforeId = beforeId;
    auto result = std::make_shared<JournalLink::Result>();
    const bool wasReading = std::exchange(reading, true);
    if (!wasReading)
        emit readingChanged(true);
    lane->run(
        this,
        [link = link, settings = settings, changed = std::exchange(settingsChanged, false), filter, result] {
            link->load(settings, changed, filter, *result);
        },
        [this, result, generation = generation] {
            // a reload meanwhile has its own read queued behind this one
            if (generation != this->generation)
                return;
            reading = false;
            if (result->ok) {
                exhausted = result->read < pageSize;
                QVector<int> added;
                for (int i = 0; i < result->rows.size(); ++i) {
                    if (matches(result->rows.at(i)))
                        added.append(rows.size() + i);
                }
                if (!added.isEmpty())
                    beginInsertRows(QModelIndex(), shown.size(), shown.size() + added.size() - 1);
                rows.append(std::move(result->rows));
                shown.append(added);
                if (!added.isEmpty())
                    endInsertRows();
            } else {
                exhausted = true;
                emit readFailed(result->error);
            }
            emit readingChanged(false);
            emit readDone();
        });
}

bool JournalTableModel::matches(const Row& row) const {
    return foldedFilter.isEmpty() || row.folded.contains(foldedFilter);
}

void JournalTableModel::setFilterText(const QString& text) {
    if (text == filter)
        return;
    filter = text;
    foldedFilter = text.toCaseFolded();
    beginResetModel();
    shown.clear();
    for (int i = 0; i < rows.size(); ++i) {
        if (matches(rows.at(i)))
            shown.append(i);
    }
    endResetModel();
}

QString JournalTableModel::text(int row, int column) const {
    if (row < 0 || row >= shown.size() || column < 0 || column >= ColumnCount)
        return QString();
    return rows.at(shown.at(row)).texts[column];
}

JournalEntry JournalTableModel::entry(int row) const {
    return row >= 0 && row < shown.size() ? rows.at(shown.at(row)).entry : JournalEntry();
}

int JournalTableModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : shown.size();
}

int JournalTableModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant JournalTableModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid())
        return QVariant();
    if (role == Qt::DisplayRole)
        return text(index.row(), index.column());
    // the sentence is wider than a window beside the other columns: it shows over any cell of its row
    if (role == Qt::ToolTipRole)
        return text(index.row(), index.column() == Administrator ? Administrator : Changes);
    return QVariant();
}

QVariant JournalTableModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (role != Qt::DisplayRole)
        return QVariant();
    if (orientation == Qt::Vertical)
        return section + 1;
    static const char* const titles[ColumnCount] = {"Время", "Администратор", "Действие", "Объект",
                                                    "Что изменено"};
    return section >= 0 && section < ColumnCount ? QString::fromUtf8(titles[section]) : QVariant();
}

// Under a filter the rows read so far are searched; reading on would go through the whole
// journal whenever the filter matches few of them.
bool JournalTableModel::canFetchMore(const QModelIndex& parent) const {
    return !parent.isValid() && !exhausted && !reading && filter.isEmpty() && !rows.isEmpty();
}

void JournalTableModel::fetchMore(const QModelIndex& parent) {
    if (canFetchMore(parent))
        read(rows.constLast().entry.id);
}
