// A device list file of 1 GB (1,000,000 lines, names of 500 Cyrillic letters) read aside as the
// window reads it: the GUI thread's longest stall while it is read and while its contents are
// handed over, and how long closing takes in the middle of a reading.

#include "bench.h"
#include "eventwait.h"
#include "heartbeat.h"

#include "import/devicesfileparser.h"
#include "import/devicesfilereader.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QTemporaryDir>
#include <QTextStream>

#include <memory>

namespace {

using bench::waitFor;

bool writeLargeFile(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    const QByteArray name = QString(500, QChar(0x0416)).toUtf8();
    QByteArray block;
    for (int i = 0; i < 1000000; ++i) {
        block += QByteArray::number(350000000000000LL + i) + ',' + name + '\n';
        if (block.size() > (8 << 20) || i == 999999) {
            if (file.write(block) != block.size())
                return false;
            block.clear();
        }
    }
    return true;
}

int runFilesBench(const QStringList& args) {
    Q_UNUSED(args)
    QTextStream out(stdout);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("large.csv"));
    if (!dir.isValid() || !writeLargeFile(path)) {
        out << "cannot write the 1 GB file\n";
        return 1;
    }
    out << "1 GB file, 1,000,000 devices with names of 500 letters, read aside:\n";
    bench::Heartbeat heartbeat;
    DevicesFileParser parser;
    {
        DevicesFileReader reader;
        bool finished = false;
        QObject::connect(&reader, &DevicesFileReader::finished, [&] { finished = true; });
        QElapsedTimer timer;
        timer.start();
        reader.start(path);
        if (!waitFor([&] { return finished; }, 300000)) {
            out << "  not read within 300 s\n";
            return 1;
        }
        out << QStringLiteral("  read: %1 ms, longest GUI stall %2 ms (goal < 100 ms)\n")
                   .arg(timer.elapsed(), 6)
                   .arg(heartbeat.longestMs(), 0, 'f', 1);
        heartbeat.reset();
        timer.restart();
        parser.take(reader.takeContents());
        out << QStringLiteral("  handed to the parser: %1 ms, %2 devices, longest GUI stall %3 ms\n")
                   .arg(timer.elapsed(), 6)
                   .arg(parser.devices().size())
                   .arg(heartbeat.longestMs(), 0, 'f', 1);
    }
    {
        auto reader = std::make_unique<DevicesFileReader>();
        reader->start(path);
        bench::runFor(500);
        heartbeat.reset();
        const qint64 closingMs = bench::msToDestroy(reader);
        out << QStringLiteral("  closed 0.5 s into a reading: %1 ms (goal < 1000 ms); the reading stops "
                              "after its piece of 1 MiB\n")
                   .arg(closingMs);
    }
    return 0;
}

} // namespace

ORB_BENCH_SECTION("files", runFilesBench);
