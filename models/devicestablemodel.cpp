#include "models/devicestablemodel.h"

#include <cstring>

namespace {
const QString forAllText = QStringLiteral("для всех");

// imeiText's digits as a C string, without the cost of formatting a QString per row.
void imeiDigits(quint64 imei, char* out) {
    char reversed[24];
    int n = 0;
    do {
        reversed[n++] = char('0' + imei % 10);
        imei /= 10;
    } while (imei > 0);
    while (n < 15)
        reversed[n++] = '0';
    for (int i = 0; i < n; ++i)
        out[i] = reversed[n - 1 - i];
    out[n] = '\0';
}

bool digitsOnly(const QString& text) {
    for (const QChar c : text) {
        if (c.unicode() < '0' || c.unicode() > '9')
            return false;
    }
    return true;
}
} // namespace

// administrators see every device: their group is never listed
QString DeviceRowTraits::text(const Row& row, int column, const Context& names) {
    switch (column) {
    case 0:
        return imeiText(row.imei);
    case 1:
        return row.name;
    default:
        return row.forAll ? forAllText : names.joined(row.groups);
    }
}

QVariant DeviceRowTraits::display(const Row& row, int column, const Context& names) {
    return column >= 0 && column < columns() ? QVariant(text(row, column, names)) : QVariant();
}

DeviceNeedle DeviceRowTraits::needle(const QString& text, const Context& names) {
    DeviceNeedle n;
    n.text = text;
    if (digitsOnly(text))
        n.digits = text.toLatin1();
    n.forAll = forAllText.contains(text, Qt::CaseInsensitive);
    n.acrossNames = text.contains(QLatin1Char(','));
    n.groups = names.idsContaining(text);
    return n;
}

bool DeviceRowTraits::matches(const Row& row, const Needle& needle, const Context& names) {
    if (!needle.digits.isEmpty()) {
        char imei[24];
        imeiDigits(row.imei, imei);
        if (std::strstr(imei, needle.digits.constData()))
            return true;
    }
    if (row.name.contains(needle.text, Qt::CaseInsensitive))
        return true;
    if (row.forAll)
        return needle.forAll;
    if (needle.acrossNames)
        return names.joined(row.groups).contains(needle.text, Qt::CaseInsensitive);
    for (const int id : row.groups) {
        if (needle.groups.contains(id))
            return true;
    }
    return false;
}

DevicesTableModel::DevicesTableModel(QObject* parent, ConfigHandler* handler)
    : RecordRowsModel(parent, handler,
                      {tr("IMEI устройства"), tr("Имя устройства"), tr("Доступно для групп")}) {}
