// SPDX-License-Identifier: GPL-3.0-or-later
#include "control/panel_control.h"
#include "fake_serial_port.h"
#include "journal_rows.h"
#include "pty_pair.h"
#include "recording_view.h"
#include "serial/port_devices.h"
#include "serial/qt_serial_port.h"
#include "stalled_line.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <functional>
#include <map>
#include <memory>

namespace {

const auto& pictures = frames::picture;

// The control with the recording port, its line, commands and view, under `initial`. Unless told
// otherwise the port cannot open during the start-up sequence, so the patterns are built and
// nothing is recorded yet.
template <typename Port = FakeSerialPort>
struct Rig {
    Port port;
    FakeStatusLine status;
    RecordingView view;
    PanelSettings settings;
    PanelLine line{port, status};
    PanelCommands commands{port};
    PanelControl control{line, commands, view, settings};

    explicit Rig(bool portAtStartUp = false, const PanelSettings& initial = {}, Journal* journal = nullptr) : settings(initial)
    {
        if (journal != nullptr) journal->namePorts(&portAndDevice);
        control.setJournal(journal);
        line.initSerial(9600);
        if constexpr (std::is_same_v<Port, FakeSerialPort>) port.openError = portAtStartUp ? std::nullopt : std::optional(LineError::CouldNotOpenDevice);
        (void)control.initPanel();
        if constexpr (std::is_same_v<Port, FakeSerialPort>) port.openError.reset();
    }
    [[nodiscard]] std::string picture() const { return view.picture(); }
};

// A sign in mono-colour mode: the colour's LED times, then one plane of the sign in the planes
// of the colour, then the sign's code.
std::string monoFrames(int kind, ColourCode colour)
{
    const std::string& multi = frames::sign[static_cast<std::size_t>(kind)];
    const std::string shown = multi.substr(kind == 1 ? 78 : 42, 23);
    const std::string blank = "00 00 00 00 00 00 00 00";
    const std::string times = colour == colourRed ? "E7 A5 79 5A 76 51" : colour == colourGreen ? "9C A5 79 5A 76 9C" : "E2 A5 79 5A 76 56";
    return "A5 79 5A 75 " + times + " A5 79 5A 73 " + (colour != colourGreen ? shown : blank) + " A5 79 5A 74 " + (colour != colourRed ? shown : blank) + " A5 79 5A 7B "
           + multi.substr(114);
}

std::string monoPicture(int kind, char dot)
{
    std::string picture = pictures[static_cast<std::size_t>(kind)];
    const std::string inPlane = kind == 1 ? "GY" : "RY";
    for (char& c : picture)
        if (c != '\n') c = inPlane.find(c) != std::string::npos ? dot : '.';
    return picture;
}

TEST(SignClick, EverySignInEveryModeIsSentAndDrawn)
{
    // The two worked examples, as the line carries them.
    EXPECT_EQ(monoFrames(1, colourGreen), "A5 79 5A 75 9C A5 79 5A 76 9C A5 79 5A 73 00 00 00 00 00 00 00 00 "
                                          "A5 79 5A 74 00 08 0C FE FF FE 0C 08 A5 79 5A 7B 02 A5 79 5A 71");
    const std::vector<std::pair<ColourCode, char>> monoColours{{colourRed, 'R'}, {colourGreen, 'G'}, {colourYellow, 'Y'}};
    // What the view says it shows, for those who cannot see it.
    const std::array<std::pair<const char*, const char*>, 5> inWords{{{"Parar: X vermelho", "Parar: X amarelo"},
                                                                      {"Frente: seta verde para cima", "Frente: seta para cima, amarela"},
                                                                      {"Direita: seta amarela para a direita", "Direita: seta para a direita, amarela"},
                                                                      {"Esquerda: seta amarela para a esquerda", "Esquerda: seta para a esquerda, amarela"},
                                                                      {"Xadrez: quadrados vermelhos e verdes, animado", "Xadrez: quadrados amarelos"}}};
    for (int kind = 0; kind < 5; ++kind) {
        Rig multi;
        multi.control.chooseSign(Sign(kind));
        EXPECT_EQ(multi.port.sent(), frames::sign[static_cast<std::size_t>(kind)]);
        EXPECT_EQ(multi.picture(), pictures[static_cast<std::size_t>(kind)]) << kind;
        EXPECT_EQ(multi.view.description + "|" + multi.view.shownText(), QString(inWords[std::size_t(kind)].first) + "|" + inWords[std::size_t(kind)].first);
        EXPECT_EQ(multi.port.calls.back(), "close");
        EXPECT_EQ(multi.control.animation().timer().isActive(), kind == 4);
        for (const auto& [colour, dot] : monoColours) {
            Rig mono(false, {1, monoColourSigns, colour});
            mono.control.chooseSign(Sign(kind));
            EXPECT_EQ(mono.port.sent(), monoFrames(kind, colour)) << kind << " in " << dot;
            EXPECT_EQ(mono.picture(), monoPicture(kind, dot)) << kind << " in " << dot;
            if (colour == colourYellow) {
                EXPECT_EQ(mono.view.description, inWords[std::size_t(kind)].second);
            }
            EXPECT_FALSE(mono.control.animation().timer().isActive());
        }
    }
}

TEST(SignAnimation, TicksAlternateTheChequerImagesOnTheirOwnRhythm)
{
    Rig rig;
    QTimer& timer = rig.control.animation().timer();
    EXPECT_EQ(std::pair(timer.interval(), timer.timerType()), std::pair(250, Qt::PreciseTimer));
    rig.control.chooseSign(Sign::Chequer);
    // Chosen again half-way to the first tick: the time to that tick is not reset.
    ASSERT_TRUE(QTest::qWaitFor([&] { return timer.remainingTime() < 150; }));
    rig.control.chooseSign(Sign::Chequer);
    EXPECT_LT(timer.remainingTime(), 200);
    // The first tick comes from Timer1 itself; the later ones are called directly.
    QSignalSpy ticks(&timer, &QTimer::timeout);
    for (const bool second : {true, false, true}) {
        rig.port.clearRecord();
        if (ticks.isEmpty()) ASSERT_TRUE(ticks.wait(2000));
        else rig.control.animation().tick();
        EXPECT_EQ(rig.port.sent(), second ? frames::chequerTick2 : frames::chequerTick1);
        EXPECT_EQ(rig.picture(), second ? frames::chequer2Picture : pictures[4]);
    }
    // A tick whose close fails (its bytes may not all be out) keeps its image for the next one,
    // and the flag runs on; mono-colour mode chosen meanwhile does not change the images.
    // While the line fails part-way the flag tries once a second; a port that does not open
    // keeps its pace.
    rig.port.closeError = LineError::WriteFailed;
    rig.control.animation().tick();
    EXPECT_EQ(rig.status.texts[1], "Erro a escrever na porta serie");
    EXPECT_EQ(std::pair(timer.isActive(), timer.interval()), std::pair(true, 1000));
    rig.port.closeError.reset();
    rig.settings = {1, monoColourSigns, colourRed};
    rig.port.clearRecord();
    rig.control.animation().tick();
    EXPECT_EQ(rig.port.sent(), frames::chequerTick1);
    rig.port.openError = LineError::CouldNotOpenDevice;
    rig.control.animation().tick();
    rig.port.openError.reset();
    EXPECT_EQ(timer.interval(), 250);
    // Another sign ends the animation even when it is not sent: before its first write fails,
    // or when the port does not open at all, so no tick brings the flag back with the port.
    rig.settings = {};
    for (const bool opens : {true, false}) {
        rig.control.chooseSign(Sign::Chequer);
        ASSERT_TRUE(timer.isActive());
        rig.port.failAtWrite = rig.port.writeCount + 1;
        if (!opens) rig.port.openError = LineError::CouldNotOpenDevice;
        rig.control.chooseSign(Sign::Right);
        rig.port.openError.reset();
        rig.port.failAtWrite.reset();
        EXPECT_FALSE(timer.isActive()) << opens;
        EXPECT_TRUE(rig.view.shownText().startsWith("Último sinal enviado: Xadrez")) << rig.view.shownText().toStdString();
    }
}

TEST(SignFault, AClickFailingAtAnyWriteOrAtTheCloseLeavesThePortClosedAndTheNextClickWhole)
{
    Rig healthy;
    healthy.control.chooseSign(Sign::Ahead);
    const std::vector<Bytes> full = healthy.port.writes;
    for (std::size_t k = 1; k <= full.size() + 1; ++k) {
        SCOPED_TRACE("failing at write " + std::to_string(k));
        Rig rig;
        rig.control.chooseSign(Sign::Stop);
        rig.port.clearRecord();
        if (k > full.size()) rig.port.closeError = LineError::WriteFailed;
        else rig.port.failAtWrite = rig.port.writeCount + int(k);
        rig.control.chooseSign(Sign::Ahead);
        EXPECT_EQ(rig.port.writes, std::vector<Bytes>(full.begin(), full.begin() + std::ptrdiff_t(k - 1)));
        EXPECT_FALSE(rig.port.open);
        EXPECT_EQ(rig.status.texts[1], "Erro a escrever na porta serie");
        // The view is drawn after the LED times and before the planes, and is marked as not
        // what the panel shows, with the last sign sent in words.
        EXPECT_EQ(rig.picture(), pictures[k > 2 ? 1 : 0]);
        EXPECT_TRUE(QRegularExpression("^Último sinal enviado: Parar às \\d\\d:\\d\\d:\\d\\d$").match(rig.view.shownText()).hasMatch()) << rig.view.shownText().toStdString();
        EXPECT_TRUE(rig.view.stale);

        rig.port.closeError.reset();
        rig.port.clearRecord();
        rig.control.chooseSign(Sign::Ahead);
        EXPECT_EQ(rig.port.sent(), frames::sign[1]);
        EXPECT_EQ(rig.view.shownText(), "Frente: seta verde para cima");
        EXPECT_FALSE(rig.view.stale);
    }
    // Before any sign went out, a failed click says so; a start-up that never reached the port
    // leaves nothing to mark.
    Rig unreached;
    EXPECT_FALSE(unreached.view.stale);
    unreached.port.openError = LineError::CouldNotOpenDevice;
    unreached.control.chooseSign(Sign::Right);
    EXPECT_EQ(unreached.view.shownText(), "Nenhum sinal enviado desde o arranque");
}

TEST(InitPanel, SendsTheStartUpFramesThenSignZeroInTheCurrentMode)
{
    Rig multi(true);
    EXPECT_EQ(multi.port.sent(), frames::startup + " " + frames::sign[0]);
    EXPECT_EQ(multi.picture(), pictures[0]);
    EXPECT_EQ(Rig(true, {1, monoColourSigns, colourGreen}).port.sent(), frames::startup + " " + monoFrames(0, colourGreen));
}

// The lamp test, frame by frame: the LED times of green, then every LED red, green, yellow, each
// column from the left, each row from the top, all off; then the chosen sign exactly as a
// click sends it, its animation again included. Choosing a sign ends the test at once.
TEST(LampTest, EveryLampThenTheChosenSignBack)
{
    const auto lamps = [](const std::string& red, const std::string& green) { return " A5 79 5A 73 " + red + " A5 79 5A 74 " + green + " A5 79 5A 71"; };
    const auto plane = [](const std::function<bool(int)>& lit) {
        std::string bytes;
        for (int line = 0; line < 8; ++line) bytes += std::string(line ? " " : "") + (lit(line) ? "FF" : "00");
        return bytes;
    };
    const std::string on = plane([](int) { return true; }), off = plane([](int) { return false; });
    std::string expected = "A5 79 5A 75 9C A5 79 5A 76 9C" + lamps(on, off) + lamps(off, on) + lamps(on, on);
    for (int column = 7; column >= 0; --column) expected += lamps(plane([&](int line) { return line == column; }), plane([&](int line) { return line == column; }));
    for (int row = 0; row < 8; ++row) {
        char bit[3];
        std::snprintf(bit, sizeof bit, "%02X", 1 << row);
        const std::string rows = " " + std::string(bit);
        std::string all = bit;
        for (int line = 1; line < 8; ++line) all += rows;
        expected += lamps(all, all);
    }
    expected += lamps(off, off) + " " + frames::sign[4];

    Rig rig(true);
    rig.control.chooseSign(Sign::Chequer);
    rig.port.clearRecord();
    rig.control.startLampTest();
    EXPECT_FALSE(rig.control.animation().timer().isActive());
    EXPECT_EQ(rig.control.lampTestRunning(), true);
    for (int step = 2; step <= LampTest::stepCount + 1; ++step) rig.control.lampTest().step();
    EXPECT_EQ(rig.port.sent(), expected);
    EXPECT_FALSE(rig.control.lampTestRunning());
    EXPECT_TRUE(rig.control.animation().timer().isActive());

    // On its own timer: the LED times and the first step at once, the third step 600 ms later.
    rig.port.clearRecord();
    QElapsedTimer clock;
    clock.start();
    rig.control.startLampTest();
    ASSERT_TRUE(QTest::qWaitFor([&] { return rig.port.sent().size() >= (10 + 3 * 28) * 3 - 1; }, 5000));
    EXPECT_GE(clock.elapsed(), 599);
    rig.port.clearRecord();
    rig.control.chooseSign(Sign::Ahead);
    EXPECT_EQ(rig.port.sent(), frames::sign[1]);
    EXPECT_FALSE(rig.control.lampTestRunning());
}

// With the keep-alive on, the chosen sign goes out again every interval, counted by its real
// timer; the animating flag is left to its own ticks; 0 turns it off.
TEST(KeepAlive, TheChosenSignGoesAgainEveryInterval)
{
    Rig rig(true);
    rig.control.chooseSign(Sign::Ahead);
    rig.port.clearRecord();
    rig.control.setKeepAlive(1);
    QElapsedTimer clock;
    clock.start();
    // A sign chosen half-way: the resends count from it.
    ASSERT_TRUE(QTest::qWaitFor([&] { return clock.elapsed() >= 500; }));
    rig.control.chooseSign(Sign::Ahead);
    rig.port.clearRecord();
    clock.restart();
    ASSERT_TRUE(QTest::qWaitFor([&] { return rig.port.sent().size() > frames::sign[1].size(); }, 5000));
    EXPECT_EQ(rig.port.sent(), frames::sign[1] + " " + frames::sign[1]);
    EXPECT_GE(clock.elapsed(), 1990);
    EXPECT_LT(clock.elapsed(), 2900);
    // The animating flag is left to its ticks, but gets display_on alone, which lights a panel
    // that restarted; the lamp test gets nothing.
    rig.control.chooseSign(Sign::Chequer);
    rig.port.clearRecord();
    rig.control.keepAlive().tick();
    EXPECT_EQ(rig.port.sent(), "A5 79 5A 71");
    EXPECT_TRUE(rig.control.animation().timer().isActive());
    rig.control.startLampTest();
    rig.port.clearRecord();
    rig.control.keepAlive().tick();
    EXPECT_EQ(rig.port.sent(), "");
    rig.control.setKeepAlive(0);
    EXPECT_FALSE(rig.control.keepAlive().isActive());
}

// Every action goes to the journal with its origin, sign and outcome, and every change of the
// link's state; the flag's ticks and the keep-alive only where a run of failures starts and ends.
TEST(Journal, EveryOriginEveryFailureAndEveryChangeOfTheLink)
{
    QTemporaryDir dir;
    Journal journal(dir.filePath("registo.sqlite"));
    Rig rig(true, {}, &journal);
    rig.control.chooseSign(Sign::Chequer);
    rig.port.openError = LineError::CouldNotOpenDevice;
    for (int tick = 0; tick < 2; ++tick) rig.control.animation().tick();
    rig.port.openError.reset();
    rig.control.animation().tick();
    rig.port.failAtWrite = rig.port.writeCount + 3; // after the two LED times
    rig.control.chooseSign(Sign::Ahead, Origin::Keyboard);
    rig.control.chooseSign(Sign::Ahead, Origin::Accessibility);
    rig.port.openError = LineError::CouldNotOpenDevice;
    for (int tick = 0; tick < 3; ++tick) rig.control.keepAlive().tick();
    rig.port.openError.reset();
    rig.control.keepAlive().tick();
    rig.control.startLampTest();
    for (int step = 2; step <= LampTest::stepCount + 1; ++step) rig.control.lampTest().step();
    rig.control.chooseSign(Sign::Stop, Origin::Remote);
    journal.flush();
    QCoreApplication::processEvents();
    EXPECT_EQ(journal.problem().toStdString(), "");
    EXPECT_EQ(journalRows(journal.fileName()).join("\n").toStdString(), "arranque|estado da ligação||ligação em ordem\n"
                                                                        "arranque|arranque|Parar|enviado\n"
                                                                        "rato|sinal|Xadrez|enviado\n"
                                                                        "animação|início da animação|Xadrez|\n"
                                                                        "animação|estado da ligação||porta não abre\n"
                                                                        "animação|passo da animação|Xadrez|porta não abriu\n"
                                                                        "animação|estado da ligação||ligação em ordem\n"
                                                                        "animação|passo da animação|Xadrez|enviado\n"
                                                                        "teclado|estado da ligação||escrita falha\n"
                                                                        "teclado|sinal|Frente|falhou na escrita\n"
                                                                        "animação|fim da animação|Xadrez|\n"
                                                                        "acessibilidade|estado da ligação||ligação em ordem\n"
                                                                        "acessibilidade|sinal|Frente|enviado\n"
                                                                        "reenvio|estado da ligação||porta não abre\n"
                                                                        "reenvio|reenvio|Frente|porta não abriu\n"
                                                                        "reenvio|estado da ligação||ligação em ordem\n"
                                                                        "reenvio|reenvio|Frente|enviado\n"
                                                                        "teste|início do teste do painel||enviado\n"
                                                                        "teste|fim do teste do painel||concluído\n"
                                                                        "teste|sinal|Frente|enviado\n"
                                                                        "remoto|sinal|Parar|enviado");
    EXPECT_EQ(journalRows(journal.fileName(), "porta, bytes, motivo, pormenor, falha", "falha = 1 AND acao <> 'estado da ligação'").join("\n").toStdString(),
              "COM1|0|Permission denied||1\nCOM1|10|write failed||1\nCOM1|0|Permission denied||1");
    EXPECT_EQ(journalRows(journal.fileName(), "bytes, pormenor", "acao IN ('arranque', 'fim do teste do painel', 'reenvio') AND falha = 0").join("\n").toStdString(),
              "57|\n43|de novo enviado, após 3 falhas\n" + std::to_string(10 + 20 * 28) + "|20 de 20 passos enviados");
    // A lamp test on a port that does not open checked nothing: it failed, and says how little went.
    rig.port.openError = LineError::CouldNotOpenDevice;
    rig.control.startLampTest();
    for (int step = 2; step <= LampTest::stepCount + 1; ++step) rig.control.lampTest().step();
    journal.flush();
    EXPECT_EQ(journalRows(journal.fileName(), "resultado, motivo, pormenor, falha", "acao = 'fim do teste do painel'").join("\n").toStdString(),
              "concluído||20 de 20 passos enviados|0\nfalhou|Permission denied|0 de 20 passos enviados|1");
    // The mode as it was; the colour only where it is the sign's.
    rig.port.openError.reset();
    rig.settings = {2, monoColourSigns, colourGreen};
    rig.control.chooseSign(Sign::Left);
    journal.flush();
    EXPECT_EQ(journalRows(journal.fileName(), "modo, cor, porta", "sinal IN ('Parar', 'Esquerda')").join("\n").toStdString(),
              "multicor||COM1\nmulticor||COM1\nmulticor||COM1\nmonocor|Verde|COM2");
}

// With the cable's echo on, a send whose echo did not come back whole went out but proves
// nothing: the status line says why, the preview is marked, the journal has each entry's echo
// and each change of it once, under the flag too, where a lost echo shows at the next tick.
TEST(CableEcho, EveryOutcomeIsShownAndEachChangeJournaledOnce)
{
    QTemporaryDir dir;
    Journal journal(dir.filePath("registo.sqlite"));
    Rig rig(true, {}, &journal);
    rig.line.setEcho(1, true);
    QSignalSpy changes(&rig.control, &PanelControl::echoChanged);
    const std::map<Echo, std::string> reasons{{Echo::Confirmed, ""},
                                              {Echo::Missing, "sem eco do cabo em COM1: o cabo pode estar cortado ou desligado no painel"},
                                              {Echo::Different, "eco diferente em COM1 (o byte 1 voltou 00): ruído na linha, ou um conversor noutra velocidade"},
                                              {Echo::Incomplete, "eco incompleto em COM1 (só voltou 1 byte): a linha cortou-se a meio, ou o cabo tem mau contacto"}};
    for (const auto& [echo, reason] : reasons) {
        rig.port.echoAnswer = echo;
        rig.control.chooseSign(Sign::Left);
        EXPECT_EQ(rig.status.texts[linkStatusPanel] + "|" + rig.status.toolTips[linkStatusPanel], (reason.empty() ? blankStatusText : echoFailureText) + "|" + reason);
        EXPECT_EQ(rig.view.stale, !reason.empty()) << reason;
        EXPECT_EQ(rig.view.note.section(" às ", 0, 0).toStdString(),
                  reason.empty() ? "" : "Sem prova de que chegou ao painel: " + reason + "\nÚltimo sinal com eco do cabo: Esquerda");
        EXPECT_EQ(rig.control.echo(), echo);
    }
    // The flag: lost at one tick, shown at once and journaled once however many ticks find it so.
    rig.port.echoAnswer = Echo::Confirmed;
    rig.control.chooseSign(Sign::Chequer);
    rig.port.echoAnswer = Echo::Missing;
    for (int tick = 0; tick < 4; ++tick) {
        rig.control.animation().tick();
        EXPECT_TRUE(rig.view.stale) << tick;
    }
    rig.port.echoAnswer = Echo::Confirmed;
    rig.control.animation().tick();
    EXPECT_FALSE(rig.view.stale);
    // Nothing went out: nothing to weigh, and nothing changes.
    rig.port.openError = LineError::CouldNotOpenDevice;
    rig.control.animation().tick();
    EXPECT_EQ(changes.size(), 7);
    journal.flush();
    // Each entry's echo, "e" for a change of it and "s" for a sign, and whether it is a failure.
    EXPECT_EQ(journalRows(journal.fileName(), "substr(acao, 1, 1) || ':' || eco || ':' || falha", "acao IN ('sinal', 'eco do cabo') OR eco = 'não verificado'").join(" "),
              "e:confirmado:0 s:confirmado:0 e:sem eco:1 s:sem eco:1 e:diferente:1 s:diferente:1 e:incompleto:1 s:incompleto:1 e:confirmado:0 "
              "s:confirmado:0 e:sem eco:1 e:confirmado:0 p:não verificado:1");
}

// A line whose far end has stopped reading, its buffer kept full, while the flag animates: each
// tick is given up 50 ms past its 25 ms of wire time, so the window is never held up for long;
// once the line is read again a click is whole.
TEST(SignAnimation, AStalledLineNeverHoldsUpTheWindow)
{
    QTemporaryDir home;
    qputenv("XDG_CONFIG_HOME", home.path().toLocal8Bit());
    PtyPair pty;
    ASSERT_TRUE(QDir().mkpath(configFolder()) && QFile::link(QString::fromStdString(pty.slavePath()), configFolder() + "/com1"));
    Rig<QtSerialPort> rig(true);
    rig.control.chooseSign(Sign::Chequer);
    auto stuck = std::make_unique<StuckFarEnd>(pty.slavePath());
    // The far end's filler may leave room for a tick now and then: ticks until one fails.
    const auto failed = [&] { return rig.line.lastFailure(1).has_value(); };
    for (int tick = 0; tick < 40 && !failed(); ++tick) {
        QElapsedTimer clock;
        clock.start();
        rig.control.animation().tick();
        // 75 ms, with room for a busy machine.
        EXPECT_LT(clock.elapsed(), 300) << "tick " << tick;
    }
    EXPECT_NE(rig.line.lastFailure(1).value_or(LineFailure{}).reason.find("a linha não aceita dados há"), std::string::npos);
    stuck.reset();
    while (!pty.read(1 << 16, 50).empty()) {}
    rig.control.chooseSign(Sign::Ahead);
    EXPECT_EQ(hexBytes(pty.read(43)), frames::sign[1]);
}

} // namespace
