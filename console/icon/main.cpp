// xelexec-icon OUTDIR SIZE...: writes the console's program icon as
// OUTDIR/SIZExSIZE/apps/xelexec.png for each SIZE, the hicolor theme's layout.
// Run at build time with QT_QPA_PLATFORM=offscreen.
#include <QDir>
#include <QGuiApplication>

#include <cstdio>
#include <cstdlib>

#include "console/ProgramArt.h"

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: xelexec-icon OUTDIR SIZE...\n");
        return 2;
    }
    QGuiApplication app(argc, argv);
    const QString outDir = QString::fromLocal8Bit(argv[1]);
    for (int i = 2; i < argc; ++i) {
        const int size = std::atoi(argv[i]);
        if (size < 16 || size > 1024) {
            std::fprintf(stderr, "xelexec-icon: bad size %s\n", argv[i]);
            return 2;
        }
        const QString dir = QStringLiteral("%1/%2x%2/apps").arg(outDir).arg(size);
        const QString file = dir + QStringLiteral("/xelexec.png");
        if (!QDir().mkpath(dir) || !console::programIconPixmap(size).save(file, "PNG")) {
            std::fprintf(stderr, "xelexec-icon: cannot write %s\n", qPrintable(file));
            return 1;
        }
    }
    return 0;
}
