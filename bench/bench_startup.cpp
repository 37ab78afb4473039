// SPDX-License-Identifier: GPL-3.0-or-later
// Start-up to the first byte on the line, and peak memory, of the program against a bare Qt
// window that writes one byte through QSerialPort once shown (this binary with --bare DEVICE).
// Runs alternate, each on a fresh pseudo-terminal and home folder; the median of each is shown.
#include "program_home.h"
#include "pty_pair.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QSerialPort>
#include <QTimer>
#include <QWidget>

#include <algorithm>
#include <cstdio>
#include <fstream>

namespace {

struct Run {
    double ms = 0, mib = 0;
    double bytes = 0;
};

// Peak resident memory of a running process, from /proc.
double peakMib(qint64 pid)
{
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string key; status >> key;)
        if (key == "VmHWM:" && status >> key) return std::stod(key) / 1024;
    return 0;
}

Run run(const QString& program, const QStringList& arguments)
{
    ProgramHome home;
    PtyPair pty;
    (void)home.linkPort(1, QString::fromStdString(pty.slavePath()));
    QProcess process;
    process.setProcessEnvironment(home.environment());
    QElapsedTimer clock;
    clock.start();
    process.start(program, QStringList(arguments).replaceInStrings("DEVICE", QString::fromStdString(pty.slavePath())));
    Run r;
    r.bytes = double(pty.read(1, 10000).size());
    r.ms = double(clock.nsecsElapsed()) / 1e6;
    r.bytes += double(pty.read(SIZE_MAX, 300).size()); // the rest of the start-up, until the line is quiet
    r.mib = peakMib(process.processId());
    process.kill();
    process.waitForFinished();
    return r;
}

double median(std::vector<Run>& runs, double Run::*field)
{
    std::sort(runs.begin(), runs.end(), [field](const Run& a, const Run& b) { return a.*field < b.*field; });
    return runs[runs.size() / 2].*field;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc == 3 && std::string(argv[1]) == "--bare") {
        QApplication app(argc, argv);
        QWidget window;
        window.show();
        QSerialPort port(QString::fromLocal8Bit(argv[2]));
        QTimer::singleShot(0, &window, [&port] {
            if (port.open(QIODevice::WriteOnly)) port.write("\x71", 1), port.waitForBytesWritten(1000);
        });
        return QApplication::exec();
    }
    QCoreApplication app(argc, argv);
    const int runs = argc > 1 ? std::atoi(argv[1]) : 15;
    std::vector<Run> program, bare, posto;
    for (int i = 0; i < runs; ++i) {
        program.push_back(run(PROGRAM_PATH, {}));
        bare.push_back(run(QCoreApplication::applicationFilePath(), {"--bare", "DEVICE"}));
        posto.push_back(run(POSTO_PATH, {}));
    }
    const double ms[] = {median(program, &Run::ms), median(bare, &Run::ms)};
    const double mib[] = {median(program, &Run::mib), median(bare, &Run::mib)};
    const double bytes = median(program, &Run::bytes);
    std::printf("| start-up to first byte, offscreen, program vs bare window | %.1f ms | %.1f ms | %.2f |\n", ms[0], ms[1], ms[0] / ms[1]);
    std::printf("| peak memory, offscreen, program vs bare window | %.1f MiB | %.1f MiB | %.2f |\n", mib[0], mib[1], mib[0] / mib[1]);
    std::printf("| bytes: start-up (multi-colour) | %.0f B | 57 B = 59.4 ms wire | %.2f |\n", bytes, bytes / 57);
    // The post without a screen against the desk program, the same runs: the goal is half of each.
    const double postoMs = median(posto, &Run::ms), postoMib = median(posto, &Run::mib);
    std::printf("| start-up to first byte, painel-posto vs the desk program | %.1f ms | %.1f ms | %.2f |\n", postoMs, ms[0], postoMs / ms[0]);
    std::printf("| peak memory, painel-posto vs the desk program | %.1f MiB | %.1f MiB | %.2f |\n", postoMib, mib[0], postoMib / mib[0]);
    std::printf("| bytes: start-up, painel-posto | %.0f B | 57 B | %.2f |\n", median(posto, &Run::bytes), median(posto, &Run::bytes) / 57);
}
