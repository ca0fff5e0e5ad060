// Drawing into bitmaps and windows, checked pixel by pixel: gradients, boxes, text, and copies
// of the desktop.
#include "fixture.h"

#include <host/drawing.h>
#include <host/error.h>

#include <filesystem>

using namespace host;
using hosttest::PumpUntil;
using hosttest::RunAsMain;

namespace {

struct Canvas {
    std::shared_ptr<XbpPresSpace> ps = XbpPresSpace::New()->create();
    std::shared_ptr<XbpBitmap> bmp = XbpBitmap::New()->create();
    Canvas(int w, int h) {
        bmp->presSpace(ps);
        bmp->make(w, h);
    }
    testx::Bmp image() const {
        const std::string path = ::testing::TempDir() + "canvas.bmp";
        EXPECT_TRUE(bmp->saveFile(path));
        auto img = testx::Bmp::read(path);
        std::filesystem::remove(path);
        return img;
    }
};

const Color kFrom = 0x06bee1; // RGB(6, 190, 225)
const Color kTo = 0xd2faff;   // RGB(210, 250, 255)

} // namespace

TEST(Bitmap, LinearGradientRunsFromLowerLeftToUpperRight) {
    testx::XServer x;
    RunAsMain([] {
        Canvas c(800, 576);
        ASSERT_TRUE(GraGradient(c.ps, {0, 0}, {{800, 576}}, {kFrom, kTo}, gradient::Linear));
        const auto img = c.image();
        ASSERT_EQ(img.width, 800);
        ASSERT_EQ(img.height, 576);
        EXPECT_TRUE(testx::near(img.hostPixel(0, 0), 6, 190, 225)) << str(img.hostPixel(0, 0));
        EXPECT_TRUE(testx::near(img.hostPixel(799, 575), 210, 250, 255))
            << str(img.hostPixel(799, 575));
        EXPECT_TRUE(testx::near(img.hostPixel(400, 288), 108, 220, 240))
            << str(img.hostPixel(400, 288));
        // The colour grows steadily along the way from one corner to the other.
        EXPECT_LT(img.hostPixel(200, 144).r, img.hostPixel(400, 288).r);
        EXPECT_LT(img.hostPixel(400, 288).r, img.hostPixel(600, 432).r);
        EXPECT_THROW(GraGradient(c.ps, {0, 0}, {{1, 1}}, {kFrom, kTo}, 7), Error);
    });
}

TEST(Bitmap, FilledBoxAndOneDeviceFrameCoverExactlyTheirPixels) {
    testx::XServer x;
    RunAsMain([] {
        Canvas c(128, 22);
        c.ps->setColor(GraMakeRGBColor({255, 255, 180}));
        GraBox(c.ps, {0, 0}, {127, 21}, fill::Fill);
        c.ps->setColor(GraMakeRGBColor({255, 0, 0}));
        GraBox(c.ps, {1, 1}, {126, 20}, fill::Outline);
        const auto img = c.image();
        for (int y = 0; y < 22; ++y) {
            for (int x = 0; x < 128; ++x) {
                const bool edge = x == 0 || y == 0 || x == 127 || y == 21;
                const bool frame = !edge && (x == 1 || y == 1 || x == 126 || y == 20);
                const auto p = img.hostPixel(x, y);
                if (frame) {
                    ASSERT_TRUE(testx::near(p, 255, 0, 0, 0)) << x << "," << y << " " << str(p);
                } else {
                    ASSERT_TRUE(testx::near(p, 255, 255, 180, 0)) << x << "," << y << " " << str(p);
                }
            }
        }
    });
}

TEST(Bitmap, TextIsMeasuredAndDrawnOnItsBaseline) {
    testx::XServer x;
    RunAsMain([] {
        Canvas c(200, 40);
        const TextBox small = GraQueryTextBox(c.ps, "Tip for updating");
        const TextBox wide = GraQueryTextBox(c.ps, "Other explanation tip");
        EXPECT_GT(small.upperRight.x - small.lowerLeft.x, 40);
        EXPECT_GT(wide.upperRight.x, small.upperRight.x);
        EXPECT_GT(small.upperRight.y, 0) << "ascent above the baseline";
        EXPECT_LT(small.lowerLeft.y, 0) << "descent below it";
        EXPECT_EQ(small.upperRight.y - small.lowerLeft.y, wide.upperRight.y - wide.lowerLeft.y);
        EXPECT_EQ(GraQueryTextBox(c.ps, "").upperRight.x, 0);

        c.ps->setColor(GraMakeRGBColor({255, 255, 255}));
        GraBox(c.ps, {0, 0}, {199, 39}, fill::Fill);
        c.ps->setColor(GraMakeRGBColor({40, 25, 115}));
        GraStringAt(c.ps, {3, 10}, "Tip for updating");
        const auto img = c.image();
        int inked = 0, outside = 0;
        for (int y = 0; y < 40; ++y) {
            for (int x = 0; x < 200; ++x) {
                const bool ink = !testx::near(img.hostPixel(x, y), 255, 255, 255, 8);
                const bool inBox = x >= 3 && x <= 3 + small.upperRight.x &&
                                   y >= 10 + small.lowerLeft.y && y <= 10 + small.upperRight.y;
                inked += ink && inBox;
                outside += ink && !inBox;
            }
        }
        EXPECT_GT(inked, 100);
        EXPECT_EQ(outside, 0) << "every inked pixel lies inside the measured box";
    });
}

TEST(Bitmap, DrawsIntoAnotherFromTheLowerLeftAndRefusesWhatHasNothingToDraw) {
    testx::XServer x;
    RunAsMain([] {
        Canvas c(8, 6);
        Canvas red(2, 3);
        red.ps->setColor(GraMakeRGBColor({255, 0, 0}));
        ASSERT_TRUE(GraBox(red.ps, {0, 0}, {1, 2}, fill::Fill));
        ASSERT_TRUE(red.bmp->draw(c.ps, {5, 1}));
        const auto img = c.image();
        for (int y = 0; y < 6; ++y) {
            for (int px = 0; px < 8; ++px) {
                const bool inside = px >= 5 && px <= 6 && y >= 1 && y <= 3;
                EXPECT_TRUE(testx::near(img.hostPixel(px, y), inside ? 255 : 0, 0, 0, 0))
                    << px << "," << y << " " << str(img.hostPixel(px, y));
            }
        }
        // No space: an error. A space bound to nothing, a bitmap never made, an empty
        // rectangle: nothing drawn, and false.
        const std::shared_ptr<XbpPresSpace> none;
        EXPECT_THROW(GraBox(none, {0, 0}, {1, 1}), Error);
        EXPECT_THROW(GraStringAt(none, {0, 0}, "x"), Error);
        EXPECT_THROW(GraQueryTextBox(none, "x"), Error);
        EXPECT_THROW(GraBitBlt(c.ps, none, {0, 0, 1, 1}, {0, 0}), Error);
        EXPECT_THROW(red.bmp->draw(none, {0, 0}), Error);
        EXPECT_THROW(c.bmp->make(0, 5), Error);
        EXPECT_THROW(GraBox(c.ps, {0, 0}, {1, 1}, 4), Error);
        const auto unbound = XbpPresSpace::New()->create();
        EXPECT_FALSE(GraBox(unbound, {0, 0}, {1, 1}, fill::Fill));
        EXPECT_FALSE(GraStringAt(unbound, {0, 0}, "x"));
        EXPECT_EQ(unbound->size(), (Size{0, 0}));
        EXPECT_FALSE(red.bmp->draw(unbound, {0, 0}));
        EXPECT_FALSE(XbpBitmap::New()->create()->draw(c.ps, {0, 0}));
        EXPECT_FALSE(GraBitBlt(c.ps, red.ps, {3, 3, 2, 2}, {0, 0}));
        const auto after = c.image();
        EXPECT_TRUE(testx::near(after.hostPixel(6, 3), 255, 0, 0, 0)) << "the picture stays";
        EXPECT_TRUE(testx::near(after.hostPixel(0, 0), 0, 0, 0, 0)) << "nothing drawn over it";
    });
}

TEST(Bitmap, CopiesTheDesktopAsTheServerShowsIt) {
    testx::XServer x;
    x.paintRoot(0x336699);
    RunAsMain([&] {
        Canvas c(1, 1);
        const Size screen = AppDesktop()->currentSize();
        EXPECT_EQ(screen, (Size{x.screenWidth(), x.screenHeight()}));
        c.bmp->make(screen.width, screen.height);
        // A marker window in the upper left corner of the screen.
        auto marker =
            XbpDialog::New(AppDesktop(), nullptr, Point{0, screen.height - 50}, Size{50, 50},
                           {{pp::Background, GraMakeRGBColor({255, 0, 0})}}, false);
        marker->titlebar(false);
        marker->alwaysOnTop(true);
        marker->create();
        marker->show();
        auto desk = AppDesktop()->lockPS();
        ASSERT_TRUE(GraBitBlt(c.ps, desk, {0, 0, screen.width - 1, screen.height - 1}, {0, 0}));
        AppDesktop()->unlockPS();
        marker->destroy();
        const auto img = c.image();
        EXPECT_TRUE(testx::near(img.hostPixel(10, screen.height - 10), 255, 0, 0, 0))
            << "marker at the top";
        EXPECT_TRUE(testx::near(img.hostPixel(10, 10), 0x33, 0x66, 0x99, 0))
            << str(img.hostPixel(10, 10));
        EXPECT_TRUE(testx::near(img.hostPixel(screen.width - 1, 60), 0x33, 0x66, 0x99, 0));
        // A part of the desktop into a part of the bitmap: the 10x10 block whose upper left
        // 5x5 pixels are the marker's lower right corner.
        Canvas small(20, 20);
        marker = XbpDialog::New(AppDesktop(), nullptr, Point{0, screen.height - 50}, Size{50, 50},
                                {{pp::Background, GraMakeRGBColor({0, 255, 0})}}, true);
        marker->titlebar(false);
        marker->alwaysOnTop(true);
        marker->create();
        GraBitBlt(small.ps, AppDesktop()->lockPS(), {0, 0, 9, 9}, {45, screen.height - 55});
        marker->destroy();
        const auto part = small.image();
        EXPECT_TRUE(testx::near(part.hostPixel(0, 9), 0, 255, 0, 0)) << str(part.hostPixel(0, 9));
        EXPECT_TRUE(testx::near(part.hostPixel(4, 5), 0, 255, 0, 0)) << str(part.hostPixel(4, 5));
        EXPECT_TRUE(testx::near(part.hostPixel(5, 9), 0x33, 0x66, 0x99, 0))
            << str(part.hostPixel(5, 9));
        EXPECT_TRUE(testx::near(part.hostPixel(0, 4), 0x33, 0x66, 0x99, 0))
            << str(part.hostPixel(0, 4));
        EXPECT_TRUE(testx::near(part.hostPixel(9, 0), 0x33, 0x66, 0x99, 0))
            << str(part.hostPixel(9, 0));
        EXPECT_TRUE(testx::near(part.hostPixel(15, 15), 0, 0, 0, 0))
            << "outside the target: untouched";
    });
    x.paintRoot(0);
}

TEST(DrawingArea, ShowsItsBitmapScaledAlsoAfterAResize) {
    testx::XServer x;
    RunAsMain([&] {
        auto dlg =
            XbpDialog::New(AppDesktop(), nullptr, Point{100, 100}, Size{400, 300}, {}, false);
        dlg->title("Scaled");
        dlg->create();
        auto area = dlg->drawingArea();
        Canvas c(400, 300);
        GraGradient(c.ps, {0, 0}, {{400, 300}}, {kFrom, kTo}, gradient::Linear);
        area->bitmap(c.bmp);
        area->options(bmp::Scaled);
        dlg->show();
        auto w = x.findMapped("Scaled");
        ASSERT_TRUE(w);
        auto corners = [&](int width, int height) {
            const auto g = x.geometry(*w);
            return testx::near(x.pixel(g.x + 1, g.y + height - 2), 6, 190, 225, 6) &&
                   testx::near(x.pixel(g.x + width - 2, g.y + 1), 210, 250, 255, 6);
        };
        EXPECT_TRUE(PumpUntil([&] { return corners(400, 300); }, 2000));
        dlg->setSize({600, 200});
        EXPECT_TRUE(PumpUntil(
            [&] {
                return area->currentSize() == Size{600, 200} && corners(600, 200);
            },
            2000))
            << "the whole gradient, stretched to the new size";
        dlg->destroy();
    });
}
