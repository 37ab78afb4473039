#include "preview_picture.h"
#include "signs/panel_preview.h"
#include "signs/sign_patterns.h"

#include <gtest/gtest.h>

namespace {

bool allPixelsAre(const QImage& image, QRgb colour)
{
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if ((image.pixel(x, y) & 0xFFFFFF) != (colour & 0xFFFFFF)) return false;
    return true;
}

constexpr QRgb grey = 0x808080;

} // namespace

TEST(PanelPreviewTest, StartsEmptyAtTheScreensPixelDensity)
{
    const PanelPreview preview;
    EXPECT_EQ(preview.size(), QSize(200, 200));
    EXPECT_EQ(preview.backColor(), 0x808080);
    const QImage image = preview.image();
    EXPECT_EQ(image.devicePixelRatio(), preview.devicePixelRatioF());
    EXPECT_EQ(image.size(), QSize(200, 200) * preview.devicePixelRatioF());
    EXPECT_TRUE(allPixelsAre(image, grey));
}

TEST(PanelPreviewTest, ShowsTheLastMatrixAgainAfterBeingHiddenAndShown)
{
    SignPatterns patterns;
    initPatterns(patterns);
    PanelPreview preview;
    preview.drawPattern(patterns.patternChequer2);
    preview.show();
    preview.hide();
    preview.showMinimized();
    preview.showNormal();
    const QImage onScreen = preview.grab().toImage();
    EXPECT_EQ(pictureOf(onScreen), "RRGGRRGG\nRRGGRRGG\nGGRRGGRR\nGGRRGGRR\nRRGGRRGG\nRRGGRRGG\nGGRRGGRR\nGGRRGGRR\n");
    EXPECT_EQ(onScreen, preview.image().convertToFormat(onScreen.format()));
}

TEST(PanelPreviewTest, ABlankDrawLeavesNoTraceOfTheDotsBefore)
{
    SignPatterns patterns;
    initPatterns(patterns);
    PanelPreview preview;
    preview.drawPattern(patterns.patternStop);
    preview.drawPattern(SignPattern{});
    EXPECT_TRUE(allPixelsAre(preview.image(), grey));

    preview.drawPattern(patterns.patternRight);
    // The arrow lives in plane 1 only, so plane 0 shows nothing.
    preview.drawPatternMono(patterns.patternForward, colourGreen, 0);
    EXPECT_TRUE(allPixelsAre(preview.image(), grey));
}
