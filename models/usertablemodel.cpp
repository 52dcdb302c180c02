#include "models/usertablemodel.h"
#include "core/schema.h"

QString UserRowTraits::text(const Row& row, int column, const Context& names) {
    return column == 0 ? row.login : names.joined(row.groups, ADMIN_MEMBER_TITLE);
}

QVariant UserRowTraits::display(const Row& row, int column, const Context& names) {
    return column >= 0 && column < columns() ? QVariant(text(row, column, names)) : QVariant();
}

bool UserRowTraits::matches(const Row& row, const QString& needle, const Context& names) {
    return row.login.contains(needle, Qt::CaseInsensitive) ||
           text(row, 1, names).contains(needle, Qt::CaseInsensitive);
}

UserTableModel::UserTableModel(QObject* parent, ConfigHandler* handler)
    : RecordRowsModel(parent, handler, {tr("Имя (логин)"), tr("В группах")}) {}
