#include "import/devicesfilereader.h"

#include "core/aside.h"

#include <atomic>
#include <utility>

// What the reading's thread and the reader share.
struct DevicesFileReader::Reading {
    std::atomic<bool> stop{false};
    std::atomic<int> permille{0};
    bool opened = false;
    DevicesFileParser::Result contents;
};

DevicesFileReader::DevicesFileReader(QObject* parent)
    : QObject(parent) {
    ticker.setInterval(100);
    connect(&ticker, &QTimer::timeout, this, [this] {
        if (running)
            emit progress(running->permille.load());
    });
}

DevicesFileReader::~DevicesFileReader() {
    if (running)
        running->stop = true;
}

bool DevicesFileReader::start(const QString& fileName) {
    if (running)
        return false;
    const auto reading = std::make_shared<Reading>();
    running = reading;
    ticker.start();
    Aside::shared().run(
        this,
        [reading, fileName] {
            reading->opened =
                DevicesFileParser::read(fileName, reading->contents, [&](qint64 read, qint64 size) {
                    reading->permille = size > 0 ? int(read * 1000 / size) : 0;
                    return !reading->stop.load();
                });
        },
        [this, reading] {
            if (reading != running)
                return;
            running.reset();
            ticker.stop();
            if (reading->stop) {
                emit cancelled();
                return;
            }
            contents = std::move(reading->contents);
            emit finished(reading->opened);
        });
    return true;
}

void DevicesFileReader::cancel() {
    if (running)
        running->stop = true;
}

DevicesFileParser::Result DevicesFileReader::takeContents() {
    return std::exchange(contents, DevicesFileParser::Result());
}
