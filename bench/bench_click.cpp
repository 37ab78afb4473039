// SPDX-License-Identifier: GPL-3.0-or-later
// One multi-colour "Parar" click, from the handler until the port is closed and drained, through
// the product's port on a pseudo-terminal, without and with the journal, and with the cable's echo
// (the line loops every byte back, each send waits for it and compares); against the same bytes
// written with POSIX calls to the same device, in one write and in the click's own writes; and
// the preview's redraw alone.
#include "bench_line.h"
#include "journal/journal.h"
#include "serial/qt_serial_port.h"

#include <QApplication>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

namespace {

BenchLine* line = nullptr;

std::vector<Bytes> clickWrites()
{
    FakeSerialPort port;
    BenchDisplay click(port);
    port.clearRecord();
    click.session.chooseSign(Sign::Stop, Origin::Mouse);
    return port.writes;
}

void posixSend(const std::vector<Bytes>& writes)
{
    const int fd = ::open(line->device().c_str(), O_WRONLY | O_NOCTTY);
    for (const Bytes& w : writes) benchmark::DoNotOptimize(::write(fd, w.data(), w.size()));
    ::tcdrain(fd);
    ::close(fd);
}

// Every benchmark reports the same counters: Google Benchmark's CSV stops at a run without one
// the header has, whichever order the random interleaving gives.
void countBytes(benchmark::State& state, std::size_t before)
{
    while (line->received() < before + 43 * state.iterations()) std::this_thread::yield();
    state.counters["bytes"] = double(line->received() - before) / double(state.iterations());
}

void BM_SignClick(benchmark::State& state)
{
    const std::size_t before = line->received() + 57; // the start-up the click's set-up sends
    // The journal in a scratch folder, its writes on its own thread as in the program.
    QTemporaryDir folder;
    std::optional<Journal> journal;
    if (state.range(0) != 0) journal.emplace(folder.filePath("registo.sqlite"));
    QtSerialPort port;
    BenchDisplay click(port, journal ? &*journal : nullptr);
    while (line->received() < before) std::this_thread::yield();
    const bool echo = state.range(1) != 0;
    line->setEcho(echo);
    click.setEcho(1, echo);
    for (auto _ : state) click.session.chooseSign(Sign::Stop, Origin::Mouse);
    line->setEcho(false);
    countBytes(state, before);
    if (click.status.texts[1] != std::string(29, ' ')) state.SkipWithError(click.status.texts[1].c_str());
    if (echo && click.session.echo() != Echo::Confirmed) state.SkipWithError("the echo did not come back");
    if (journal) {
        journal->flush();
        if (!journal->problem().isEmpty()) state.SkipWithError(journal->problem().toStdString().c_str());
    }
}

void BM_PosixFloor(benchmark::State& state)
{
    Bytes all;
    for (const Bytes& w : clickWrites()) all.insert(all.end(), w.begin(), w.end());
    const std::size_t before = line->received();
    for (auto _ : state) posixSend({all});
    countBytes(state, before);
}

void BM_PosixFloorPerWrite(benchmark::State& state)
{
    const std::vector<Bytes> writes = clickWrites();
    const std::size_t before = line->received();
    for (auto _ : state) posixSend(writes);
    countBytes(state, before);
}

void BM_PreviewDraw(benchmark::State& state)
{
    PanelPreview preview;
    SignPatterns patterns;
    initPatterns(patterns);
    for (auto _ : state) preview.drawPattern(patterns.patternStop);
    state.counters["bytes"] = 0;
}

// The journal's own cost of an entry, on its thread: a thousand clicks' entries recorded and
// written to the file, per entry; with `post`, a control room's entries of a post's state, which
// name the post (its column, in the chain and in the timeline's index).
void BM_JournalEntries(benchmark::State& state)
{
    const QTemporaryDir folder;
    Journal journal(folder.filePath(QStringLiteral("registo.sqlite")));
    JournalEntry e = journalEntry(Origin::Mouse, QStringLiteral("sinal"), QStringLiteral("enviado"), {}, {}, false);
    e.sign = QStringLiteral("Parar");
    e.mode = QStringLiteral("multicor");
    e.port = 1;
    e.bytes = 43;
    e.echo = QStringLiteral("desligado");
    if (state.range(0) != 0) {
        e = journalEntry(Origin::Central, QStringLiteral("sinal do posto"), QStringLiteral("enviado"), {}, {}, false);
        e.sign = QStringLiteral("Parar");
        e.mode = QStringLiteral("multicor");
        e.echo = QStringLiteral("confirmado");
    }
    int post = 0;
    journal.flush();
    for (auto _ : state) {
        for (int i = 0; i < 1000; ++i) {
            if (state.range(0) != 0) {
                e.post = QStringLiteral("posto-%1").arg(++post % 1000, 4, 10, QLatin1Char('0'));
                e.detail = e.post + QStringLiteral("; mostra Parar; origem central; hora do posto 2026-12-09T10:00:00.000Z; relógio do posto +12 ms");
            }
            journal.record(e);
        }
        journal.flush();
    }
    state.SetItemsProcessed(state.iterations() * 1000);
    state.counters["bytes"] = 0;
}

BENCHMARK(BM_SignClick)->ArgNames({"journal", "echo"})->Args({0, 0})->Args({1, 0})->Args({0, 1})->UseRealTime();
BENCHMARK(BM_PosixFloor)->UseRealTime();
BENCHMARK(BM_PosixFloorPerWrite)->UseRealTime();
BENCHMARK(BM_PreviewDraw)->UseRealTime();
BENCHMARK(BM_JournalEntries)->ArgName("post")->Arg(0)->Arg(1)->UseRealTime();

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    BenchLine panelLine;
    line = &panelLine;
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
}
