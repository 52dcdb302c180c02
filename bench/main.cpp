#include "bench.h"

#include "core/aside.h"

#include <QApplication>
#include <QTextStream>

#include <utility>
#include <vector>

namespace {
std::vector<std::pair<QString, BenchRun>>& sections() {
    static std::vector<std::pair<QString, BenchRun>> list;
    return list;
}
} // namespace

bool registerBenchSection(const char* name, const BenchRun& run) {
    sections().emplace_back(QString::fromUtf8(name), run);
    return true;
}

int main(int argc, char* argv[]) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);
    QTextStream out(stdout);

    QStringList only;
    const int at = args.indexOf(QStringLiteral("--only"));
    if (at >= 0 && at + 1 < args.size())
        only = args.at(at + 1).split(QLatin1Char(','));
    if (args.contains(QStringLiteral("--help"))) {
        out << "usage: orb-bench [--only section[,section]] [section options]\nsections:";
        for (const auto& s : sections())
            out << ' ' << s.first;
        out << '\n';
        return 0;
    }
    int rc = 0;
    for (const auto& s : sections()) {
        if (!only.isEmpty() && !only.contains(s.first))
            continue;
        out << "== " << s.first << " ==\n";
        out.flush();
        rc |= s.second(args);
    }
    out.flush();
    return Aside::finish(rc);
}
