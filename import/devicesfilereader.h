#pragma once

#include "import/devicesfileparser.h"

#include <QObject>
#include <QString>
#include <QTimer>

#include <memory>

// Reads a device list file off the GUI thread, piece by piece, telling how far it got; the
// reading can be stopped between two pieces.
class DevicesFileReader : public QObject {
    Q_OBJECT

public:
    explicit DevicesFileReader(QObject* parent = nullptr);
    // A reading still running is stopped and its result dropped; nothing waits for it.
    ~DevicesFileReader() override;

    // False while another reading runs.
    bool start(const QString& fileName);
    // The reading stops after its current piece, then cancelled() follows.
    void cancel();
    bool isReading() const { return running != nullptr; }
    // What the finished reading gave; taken once.
    DevicesFileParser::Result takeContents();

signals:
    // Thousandths of the file read, now and then while reading.
    void progress(int permille);
    // opened: false when the file could not be opened or is not a regular file.
    void finished(bool opened);
    void cancelled();

private:
    struct Reading;
    std::shared_ptr<Reading> running;
    DevicesFileParser::Result contents;
    QTimer ticker;
};
