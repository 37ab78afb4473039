#include "fake_serial_port.h"
#include "fake_status_line.h"
#include "preview_picture.h"
#include "signs/sign_display.h"

#include <QSignalSpy>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <tuple>

namespace {

// What the port was handed, one hex word per write call: "A5795A75E7 A5795A7651 A5795A73 C3 ...".
std::string hexWrites(const std::vector<Bytes>& writes)
{
    std::string text;
    for (const auto& write : writes) {
        if (!text.empty()) text += ' ';
        for (const auto b : write) {
            char hex[3];
            std::snprintf(hex, sizeof hex, "%02X", b);
            text += hex;
        }
    }
    return text;
}

const std::string none = "00 00 00 00 00 00 00 00";
const std::string chequerA = "33 33 CC CC 33 33 CC CC";
const std::string chequerB = "CC CC 33 33 CC CC 33 33";
const std::string chequer2Picture = "RRGGRRGG\nRRGGRRGG\nGGRRGGRR\nGGRRGGRR\nRRGGRRGG\nRRGGRRGG\nGGRRGGRR\nGGRRGGRR\n";

std::string uploads(const std::string& red, const std::string& green)
{
    return "A5795A73 " + red + " A5795A74 " + green;
}

std::string click(const std::string& redTime, const std::string& greenTime, const std::string& planes,
                  const std::string& code)
{
    return "A5795A75" + redTime + " A5795A76" + greenTime + " " + planes + " A5795A7B" + code + " A5795A71";
}

struct Sign {
    std::string red, green;
    int monoPlane;
    std::string redTime, greenTime, code, picture;
    [[nodiscard]] std::string multi() const { return click(redTime, greenTime, uploads(red, green), code); }
};

const Sign signs[] = {
    {"C3 E7 7E 3C 3C 7E E7 C3", none, 0, "E7", "51", "04",
     "RR....RR\nRRR..RRR\n.RRRRRR.\n..RRRR..\n..RRRR..\n.RRRRRR.\nRRR..RRR\nRR....RR\n"},
    {none, "00 08 0C FE FF FE 0C 08", 1, "9C", "9C", "02",
     "...G....\n..GGG...\n.GGGGG..\nGGGGGGG.\n..GGG...\n..GGG...\n..GGG...\n..GGG...\n"},
    {"10 38 7C FE 38 38 38 38", "10 38 7C FE 38 38 38 38", 0, "E2", "56", "03",
     "........\n....Y...\n....YY..\nYYYYYYY.\nYYYYYYYY\nYYYYYYY.\n....YY..\n....Y...\n"},
    {"38 38 38 38 FE 7C 38 10", "38 38 38 38 FE 7C 38 10", 0, "E2", "56", "01",
     "........\n...Y....\n..YY....\n.YYYYYYY\nYYYYYYYY\n.YYYYYYY\n..YY....\n...Y....\n"},
    {chequerA, chequerB, 0, "9C", "9C", "07",
     "GGRRGGRR\nGGRRGGRR\nRRGGRRGG\nRRGGRRGG\nGGRRGGRR\nGGRRGGRR\nRRGGRRGG\nRRGGRRGG\n"},
};

// The program with the recording port. Unless told otherwise the port cannot open during the
// start-up sequence, so the patterns are built and nothing is drawn or recorded yet.
struct Rig {
    FakeSerialPort port;
    FakeStatusLine status;
    PanelSettings settings;
    PanelLink link{port, status, settings};
    PanelCommands commands{port};
    PanelPreview preview;
    SignDisplay display{link, commands, preview, settings};

    explicit Rig(bool portAtStartUp = false, const PanelSettings& initial = {}) : settings(initial)
    {
        if (!portAtStartUp) port.openError = errnum::couldNotOpenDevice;
        display.initPanel();
        port.openError.reset();
        if (!portAtStartUp) port.clearRecord();
    }
    [[nodiscard]] std::string sent() const { return hexWrites(port.writes); }
    [[nodiscard]] std::string picture() const { return pictureOf(preview.image()); }
};

// Multi-colour, then mono-colour in each colour with that colour's LED times.
struct Mode {
    std::int16_t signalMode;
    ColourCode colour;
    const char* name;
    std::string redTime, greenTime;
    char dot;
};
const Mode modes[] = {{multiColourSigns, colourRed, "Multi", {}, {}, 0},
                      {monoColourSigns, colourRed, "MonoRed", "E7", "51", 'R'},
                      {monoColourSigns, colourGreen, "MonoGreen", "9C", "9C", 'G'},
                      {monoColourSigns, colourYellow, "MonoYellow", "E2", "56", 'Y'}};

// The two worked examples, as the line carries them.
const std::string stopMultiLine = "A5795A75E7 A5795A7651 A5795A73 C3 E7 7E 3C 3C 7E E7 C3 "
                                  "A5795A74 00 00 00 00 00 00 00 00 A5795A7B04 A5795A71";
const std::string forwardMonoGreenLine = "A5795A759C A5795A769C A5795A73 00 00 00 00 00 00 00 00 "
                                         "A5795A74 00 08 0C FE FF FE 0C 08 A5795A7B02 A5795A71";

class SignClickTest : public testing::TestWithParam<std::tuple<int, int>> {};

} // namespace

TEST_P(SignClickTest, SendsTheSignWriteByWriteAndDrawsIt)
{
    const auto [modeIndex, kind] = GetParam();
    const Mode& mode = modes[modeIndex];
    const Sign& sign = signs[kind];
    std::string expected = sign.multi();
    std::string picture = sign.picture;
    if (mode.signalMode == monoColourSigns) {
        const std::string& shown = sign.monoPlane == 0 ? sign.red : sign.green;
        expected = click(mode.redTime, mode.greenTime, uploads(mode.dot != 'G' ? shown : none,
                                                               mode.dot != 'R' ? shown : none), sign.code);
        // One plane of the multi-colour picture, in the one colour.
        const std::string inPlane = sign.monoPlane == 0 ? "RY" : "GY";
        for (char& dot : picture)
            if (dot != '\n') dot = inPlane.find(dot) != std::string::npos ? mode.dot : '.';
    }
    if (modeIndex == 0 && kind == 0) {
        EXPECT_EQ(expected, stopMultiLine);
    } else if (modeIndex == 2 && kind == 1) {
        EXPECT_EQ(expected, forwardMonoGreenLine);
    }

    Rig rig;
    rig.settings.signalMode = mode.signalMode;
    rig.settings.signColour = mode.colour;
    rig.display.Option1_Click(std::int16_t(kind));
    EXPECT_EQ(rig.sent(), expected);
    EXPECT_EQ(rig.picture(), picture);
    EXPECT_EQ(rig.port.calls.back(), "close");
    EXPECT_EQ(rig.display.timer().isActive(), modeIndex == 0 && kind == 4);
}

INSTANTIATE_TEST_SUITE_P(AllSignsAllModes, SignClickTest, testing::Combine(testing::Range(0, 4), testing::Range(0, 5)),
                         [](const auto& info) {
                             return modes[std::get<0>(info.param)].name + std::string("_Sign")
                                    + std::to_string(std::get<1>(info.param));
                         });

TEST(SignAnimationTest, TicksAlternateTheChequerImagesAndAnotherSignStopsThemFirst)
{
    Rig rig;
    QTimer& timer = rig.display.timer();
    EXPECT_FALSE(timer.isActive());
    EXPECT_EQ(timer.interval(), 250);
    EXPECT_EQ(timer.timerType(), Qt::PreciseTimer);
    rig.display.Option1_Click(4);
    // The first tick comes from Timer1 itself; the later ones are called directly.
    QSignalSpy ticks(&timer, &QTimer::timeout);
    for (const bool second : {true, false, true}) {
        rig.port.clearRecord();
        if (ticks.isEmpty()) {
            ASSERT_TRUE(ticks.wait(2000));
        } else {
            rig.display.Timer1_Timer();
        }
        EXPECT_EQ(rig.sent(), second ? uploads(chequerB, chequerA) : uploads(chequerA, chequerB));
        EXPECT_EQ(rig.picture(), second ? chequer2Picture : signs[4].picture);
        EXPECT_EQ(rig.display.chequerPhase(), second);
        EXPECT_FALSE(rig.port.open);
    }
    // The flag chosen again mid-animation: its first image goes out again and the timer runs on.
    rig.port.clearRecord();
    rig.display.Option1_Click(4);
    EXPECT_EQ(rig.sent(), signs[4].multi());
    EXPECT_TRUE(rig.display.timer().isActive());
    // Another sign stops the timer before its first write, even when that write fails.
    rig.port.failAtWrite = rig.port.writeCount + 1;
    rig.display.Option1_Click(2);
    EXPECT_FALSE(rig.display.timer().isActive());
}

TEST(SignAnimationTest, ATickThatCannotSendChangesNothingButTheStatus)
{
    Rig rig;
    rig.display.Option1_Click(4);
    rig.port.clearRecord();
    rig.port.openError = errnum::couldNotOpenDevice;
    rig.display.Timer1_Timer();
    EXPECT_EQ(rig.sent(), "");
    EXPECT_FALSE(rig.display.chequerPhase());
    EXPECT_EQ(rig.status.text(1), openFailureText);

    rig.port.openError.reset();
    rig.port.failAtWrite = rig.port.writeCount + 5;
    rig.display.Timer1_Timer();
    EXPECT_FALSE(rig.display.chequerPhase());
    EXPECT_FALSE(rig.port.open);
    EXPECT_EQ(rig.status.text(1), writeFailureText);
    EXPECT_EQ(rig.picture(), signs[4].picture);
    EXPECT_TRUE(rig.display.timer().isActive());

    // Mono-colour mode chosen while the flag runs: the ticks still send the two-colour images.
    rig.settings.signalMode = monoColourSigns;
    rig.port.clearRecord();
    rig.display.Timer1_Timer();
    EXPECT_EQ(rig.sent(), uploads(chequerB, chequerA));
}

TEST(SignFaultTest, AClickFailingAtAnyWriteOrAtTheCloseLeavesThePortClosedAndTheNextClickWhole)
{
    const std::string full = signs[1].multi();
    const auto writes = std::size_t(std::count(full.begin(), full.end(), ' ') + 1);
    for (std::size_t k = 1; k <= writes + 1; ++k) {
        SCOPED_TRACE("failing at write " + std::to_string(k));
        Rig rig;
        rig.display.Option1_Click(0);
        rig.port.clearRecord();
        if (k > writes) rig.port.closeError = errnum::writeFailed;
        else rig.port.failAtWrite = rig.port.writeCount + int(k);

        rig.display.Option1_Click(1);
        std::size_t end = 0;
        for (std::size_t i = 0; i < k - 1; ++i) end = full.find(' ', end + 1);
        EXPECT_EQ(rig.sent(), full.substr(0, k > 1 ? end : 0));
        EXPECT_FALSE(rig.port.open);
        EXPECT_EQ(rig.status.text(1), writeFailureText);
        // The preview comes after the LED times and before the planes.
        EXPECT_EQ(rig.picture(), k > 2 ? signs[1].picture : signs[0].picture);

        rig.port.closeError.reset();
        rig.port.clearRecord();
        rig.display.Option1_Click(1);
        EXPECT_EQ(rig.sent(), full);
        EXPECT_EQ(rig.status.text(1), blankStatusText);
    }
}

TEST(InitPanelTest, SendsTheStartUpFramesThenSignZeroInTheCurrentMode)
{
    const Sign& stop = signs[0];
    Rig multi(true);
    EXPECT_EQ(multi.sent(), "A5795A75E7 A5795A7651 A5795A71 " + stop.multi());
    EXPECT_EQ(multi.picture(), stop.picture);
    EXPECT_FALSE(multi.port.open);

    Rig mono(true, PanelSettings{1, monoColourSigns, colourGreen});
    EXPECT_EQ(mono.sent(), "A5795A75E7 A5795A7651 A5795A71 " + click("9C", "9C", uploads(none, stop.red), "04"));
    std::string green = stop.picture;
    std::replace(green.begin(), green.end(), 'R', 'G');
    EXPECT_EQ(mono.picture(), green);
}

TEST(InitPanelTest, WithoutAPortBuildsThePatternsAndSendsAndDrawsNothing)
{
    Rig rig;
    SignPatterns built;
    initPatterns(built);
    EXPECT_EQ(std::memcmp(&rig.display.patterns(), &built, sizeof built), 0);
    EXPECT_EQ(rig.status.text(1), openFailureText);
    EXPECT_EQ(rig.picture().find_first_not_of(".\n"), std::string::npos);
    EXPECT_EQ(rig.port.writeCount, 0);
}
