#include "app/journaltab.h"

#include "app/csettings.h"
#include "app/tablehabits.h"
#include "import/tablefilewriter.h"
#include "models/journaltablemodel.h"
#include "models/recordtablemodel.h"
#include "ui_journaltab.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QHeaderView>
#include <QLocale>
#include <QMessageBox>

#include <utility>

namespace {

bool sameConnection(const SqlConnectionSettings& a, const SqlConnectionSettings& b) {
    return a.ip == b.ip && a.port == b.port && a.user == b.user && a.password == b.password && a.db == b.db &&
           a.tls == b.tls && a.tlsCaFile == b.tlsCaFile;
}

} // namespace

JournalTab::JournalTab(QWidget* parent, std::function<SqlConnectionSettings()> settings)
    : QWidget(parent)
    , ui(new Ui::JournalTab)
    , journal(new JournalTableModel(this))
    , settings(std::move(settings)) {
    ui->setupUi(this);
    ui->journalScopeBar->hide();
    QTableView* table = ui->journalView;
    table->setModel(journal);
    table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table->setWordWrap(false);
    table->verticalHeader()->setDefaultSectionSize(table->verticalHeader()->minimumSectionSize());
    QHeaderView* header = table->horizontalHeader();
    header->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    const QFontMetrics metrics = table->fontMetrics();
    const auto fit = [&](int column, const QString& sample) {
        table->setColumnWidth(column,
                              qMax(header->sectionSizeHint(column), metrics.horizontalAdvance(sample) + 16));
    };
    fit(JournalTableModel::Time, QStringLiteral("00.00.0000 00:00:00"));
    // the whole administrator is in the cell's tooltip; what changed needs the room
    fit(JournalTableModel::Administrator, QStringLiteral("orb (ivanov@workstation)"));
    fit(JournalTableModel::Action, QStringLiteral("Изменение пользователя"));
    fit(JournalTableModel::Object, QStringLiteral("000000000000000"));
    connect(journal, &JournalTableModel::readFailed, this, [this](const QString& error) {
        failure = error;
        updateCounts();
    });
    connect(journal, &JournalTableModel::readingChanged, this, &JournalTab::updateCounts);
    connect(journal, &JournalTableModel::rowsInserted, this, &JournalTab::updateCounts);
    connect(journal, &JournalTableModel::modelReset, this, &JournalTab::updateCounts);
    updateCounts();
}

JournalTab::~JournalTab() {
    delete ui;
}

QTableView* JournalTab::view() const {
    return ui->journalView;
}

void JournalTab::read(const JournalFilter& scope) {
    const SqlConnectionSettings now = settings();
    if (!everRead || !sameConnection(now, used))
        journal->setConnectionSettings(now);
    used = now;
    everRead = true;
    stale = false;
    failure.clear();
    journal->reload(scope);
}

void JournalTab::showRecords(const QString& object, const QVector<int>& ids, const QString& description) {
    JournalFilter scope;
    scope.object = object;
    scope.objectIds = ids;
    ui->journalScopeLabel->setText(QStringLiteral("История: %1").arg(description));
    ui->journalScopeBar->show();
    read(scope);
}

void JournalTab::showAll() {
    ui->journalScopeBar->hide();
    read(JournalFilter());
}

void JournalTab::showSelected(const QTableView* table, const QString& object) {
    const auto* records = qobject_cast<const RecordTableModel*>(table->model());
    if (!records)
        return;
    QVector<int> ids;
    int selected = 0;
    int firstRow = -1;
    for (const auto& span : TableHabits::rowSpans(table->selectionModel()->selection())) {
        selected += span.second - span.first + 1;
        for (int row = span.first; row <= span.second && ids.size() < maxRecords; ++row) {
            if (firstRow < 0)
                firstRow = row;
            ids.append(records->idAt(row));
        }
    }
    if (ids.isEmpty())
        return;
    const bool device = object == QLatin1String("device");
    const bool user = object == QLatin1String("user");
    QString description;
    if (ids.size() == 1) {
        description = (device ? QStringLiteral("устройство %1")
                       : user ? QStringLiteral("пользователь %1")
                              : QStringLiteral("группа %1"))
                          .arg(records->index(firstRow, 0).data().toString());
    } else {
        description = (device ? QStringLiteral("выбранные устройства (%1)")
                       : user ? QStringLiteral("выбранные пользователи (%1)")
                              : QStringLiteral("выбранные группы (%1)"))
                          .arg(ids.size());
        if (selected > ids.size())
            description += QStringLiteral(", первые %1 из %2 выбранных").arg(ids.size()).arg(selected);
    }
    showRecords(object, ids, description);
}

void JournalTab::refresh() {
    read(journal->scope());
}

void JournalTab::markStale() {
    if (isVisible())
        refresh();
    else
        stale = true;
}

void JournalTab::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (!everRead || stale)
        refresh();
}

void JournalTab::on_journalFilterEdit_textEdited(const QString& text) {
    journal->setFilterText(text);
}

void JournalTab::on_journalAllButton_clicked() {
    showAll();
}

void JournalTab::on_journalRefreshButton_clicked() {
    refresh();
}

void JournalTab::updateCounts() {
    const QLocale russian(QLocale::Russian, QLocale::Russia);
    QString text;
    if (journal->isReading()) {
        text = QStringLiteral("Чтение журнала…");
    } else if (!failure.isEmpty()) {
        text = QStringLiteral("Не удалось прочитать журнал: %1").arg(failure);
    } else {
        text = QStringLiteral("Показано %1 из %2 прочитанных записей")
                   .arg(russian.toString(journal->rowCount()), russian.toString(journal->loadedCount()));
        if (journal->hasMore())
            text += journal->filterText().isEmpty()
                        ? QStringLiteral("; более ранние читаются при прокрутке вниз")
                        : QStringLiteral("; фильтр ищет среди прочитанных");
    }
    ui->journalCountLabel->setText(text);
}

// The rows shown, as the table shows them.
void JournalTab::on_journalExportButton_clicked() {
    const QString folder = CSettings::fileFolder();
    const QString start = !folder.isEmpty() && QDir(folder).exists() ? folder : QDir::homePath();
    const QString fileName = QFileDialog::getSaveFileName(window(), QStringLiteral("Экспорт журнала"),
                                                          start + QStringLiteral("/journal.csv"),
                                                          QStringLiteral("Файлы CSV (*.csv)"));
    if (fileName.isEmpty())
        return;
    CSettings::setFileFolder(QFileInfo(fileName).absolutePath());
    QStringList header;
    for (int column = 0; column < journal->columnCount(); ++column)
        header << journal->headerData(column, Qt::Horizontal).toString();
    QString error;
    const int rows = journal->rowCount();
    if (!writeTableFile(
            fileName, header, rows, [this](int row, int column) { return journal->text(row, column); },
            error)) {
        QMessageBox::critical(window(), QStringLiteral("Ошибка"),
                              QStringLiteral("Не удалось записать файл %1:\n%2")
                                  .arg(QDir::toNativeSeparators(fileName), error));
        return;
    }
    QMessageBox::information(window(), QStringLiteral("Экспорт журнала"),
                             QStringLiteral("Записано строк журнала: %1\nв файл %2")
                                 .arg(rows)
                                 .arg(QDir::toNativeSeparators(fileName)));
}
