// SPDX-License-Identifier: GPL-3.0-or-later
#include "control/panel_control.h"
#include "fake_serial_port.h"
#include "preview_matrix.h"
#include "widgets/panel_preview.h"

#include <QRegularExpression>

#include <gtest/gtest.h>

#include <cmath>

namespace {

// The preview's dots are 325 twips apart, the first 350 twips in.
std::string pictureOf(const QImage& image)
{
    const auto pixel = [&](int i) { return int(std::floor((350 + 325 * i) / 15.0 * image.devicePixelRatio())); };
    return matrixOf(
        image, [&](int row, int column) { return QPoint(pixel(column), pixel(row)); }, 0x808080);
}

// The panel's control drawing on Picture1, as the window has it.
struct Drawn {
    FakeSerialPort port;
    FakeStatusLine status;
    PanelPreview preview;
    PanelSettings settings;
    PanelLine line{port, status};
    PanelCommands commands{port};
    PanelControl control{line, commands, preview, settings};

    explicit Drawn(const PanelSettings& initial = {}) : settings(initial)
    {
        line.initSerial(9600);
        (void)control.initPanel();
    }
};

// Each sign in each mode is drawn dot for dot where the panel lights it, as its circles of colour
// on the grey surface, and said in words as the tooltip and the accessible description.
TEST(PanelPreview, DrawsEverySignInEveryModeDotForDot)
{
    for (int kind = 0; kind < 5; ++kind) {
        Drawn multi;
        multi.control.chooseSign(Sign(kind));
        EXPECT_EQ(pictureOf(multi.preview.image()), frames::picture[std::size_t(kind)]) << kind;
        EXPECT_EQ(multi.preview.toolTip(), multi.preview.accessibleDescription());
        for (const auto& [colour, dot] : {std::pair{colourRed, 'R'}, {colourGreen, 'G'}, {colourYellow, 'Y'}}) {
            Drawn mono({1, monoColourSigns, colour});
            mono.control.chooseSign(Sign(kind));
            std::string expected = frames::picture[std::size_t(kind)];
            const std::string inPlane = kind == 1 ? "GY" : "RY";
            for (char& c : expected)
                if (c != '\n') c = inPlane.find(c) != std::string::npos ? dot : '.';
            EXPECT_EQ(pictureOf(mono.preview.image()), expected) << kind << " in " << dot;
        }
    }
}

// A send that failed leaves the picture as it was, with a dashed border over it and the last sign
// sent as its tooltip, until a sign goes out again; what is on screen is what it drew, and a new
// picture leaves nothing of the one before.
TEST(PanelPreview, KeepsItsPictureMarkedWhileTheLastSendFailed)
{
    Drawn drawn;
    const QImage onScreen = drawn.preview.grab().toImage();
    EXPECT_EQ(onScreen, drawn.preview.image().convertToFormat(onScreen.format()));
    drawn.port.openError = LineError::CouldNotOpenDevice;
    drawn.control.chooseSign(Sign::Ahead);
    EXPECT_TRUE(QRegularExpression("^Último sinal enviado: Parar às \\d\\d:\\d\\d:\\d\\d$").match(drawn.preview.toolTip()).hasMatch()) << drawn.preview.toolTip().toStdString();
    EXPECT_TRUE(drawn.preview.isStale());
    EXPECT_NE(drawn.preview.grab().toImage().pixel(1, 1), drawn.preview.image().pixel(1, 1));
    drawn.port.openError.reset();
    drawn.control.chooseSign(Sign::Ahead);
    EXPECT_EQ(drawn.preview.toolTip(), "Frente: seta verde para cima");
    EXPECT_EQ(drawn.preview.grab().toImage().pixel(1, 1), drawn.preview.image().pixel(1, 1));
    drawn.preview.drawPattern(SignPattern{});
    QImage blank(drawn.preview.image().size(), QImage::Format_RGB32);
    blank.fill(0x808080);
    EXPECT_EQ(drawn.preview.image(), blank);
}

} // namespace
