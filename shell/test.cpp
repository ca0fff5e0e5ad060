// Module Test: start-up hooks, Main with the dialog, its event loop and the two desktop
// captures, and the menu bar with the item tips.
#include "test.h"

#include <host/application.h>
#include <host/drawing.h>

namespace Test {

using namespace host;

namespace {

// Host setting 43 is switched off at start-up.
constexpr int kSetting43 = 43;

} // namespace

// Copies the desktop's picture into the bitmap behind oPS and saves it under cFile.
void DeskCapture(const std::shared_ptr<XbpPresSpace>& oPS, const std::shared_ptr<XbpBitmap>& oBG,
                 const std::string& cFile) {
    const Size aDrawSize = AppDesktop()->currentSize();
    oBG->make(aDrawSize.width, aDrawSize.height);
    auto oDeskPS = AppDesktop()->lockPS();
    GraBitBlt(oPS, oDeskPS, {0, 0, aDrawSize.width - 1, aDrawSize.height - 1}, {0, 0});
    AppDesktop()->unlockPS();
    FErase(cFile);
    oBG->saveFile(cFile);
}

void AppSys() {
    Set(kSetting43, 0);
}

void DbeSys() {}

bool CloseCallback() {
    return PostAppEvent(27);
}

void Main() {
    // The dialog, built hidden; its settings are given before it is created.
    auto oDlg = XbpDialog::New(AppDesktop(), nullptr, Nil, Size{800, 600},
                               {{pp::Foreground, GraMakeRGBColor({0, 255, 0})},
                                {pp::Background, GraMakeRGBColor({255, 255, 255})}},
                               false);
    oDlg->clipParent(false);
    oDlg->clipChildren(true);
    oDlg->taskList(true);
    oDlg->sysMenu(true);
    oDlg->title("Testing Menu Creation");
    oDlg->close(Callback<bool()>("{|| PostAppEvent(27)}", CloseCallback));
    oDlg->create();

    // The drawing area takes the dialog's clipping, colours and font.
    auto oDraw = oDlg->drawingArea();
    oDraw->clipParent(oDlg->clipParent());
    oDraw->clipChildren(oDlg->clipChildren());
    oDraw->setColorFG(oDlg->setColorFG());
    oDraw->setColorBG(oDlg->setColorBG());
    oDraw->setFont(oDlg->setFont());

    // The dialog becomes the application window and gets its menu. One bitmap, drawn through
    // oPS, serves both captures and the background.
    auto oOldApp = SetAppWindow(oDlg);
    auto oMenuBar = e_installMenu(oDlg);
    auto oPS = XbpPresSpace::New()->create();
    auto oBG = XbpBitmap::New()->create();
    oBG->presSpace(oPS);

    // The desktop as it is before the dialog shows.
    DeskCapture(oPS, oBG, "FirstDeskPS.bmp");

    // The gradient background, made at the drawing area's size and shown scaled to it.
    const Size aDrawSize = oDraw->currentSize();
    oBG->make(aDrawSize.width, aDrawSize.height);
    oBG->draw(oDraw->lockPS(), {0, 0});
    oDraw->unlockPS(); // the area's space is handed back at once; nothing else draws with it
    GraGradient(oPS, {0, 0}, {{aDrawSize.width, aDrawSize.height}},
                {GraMakeRGBColor({6, 190, 225}), GraMakeRGBColor({210, 250, 255})},
                gradient::Linear);
    oDraw->bitmap(oBG);
    oDraw->options(bmp::Scaled);

    // Centred, shown, with the focus in the drawing area.
    oDlg->configure();
    CenterControl(oDlg);
    oDlg->show();
    auto oHadFocus = SetAppFocus(oDraw);

    // The program's only event loop, until Escape or the close event; the event that ends it
    // is not dispatched.
    Param mp1;
    Param mp2;
    std::shared_ptr<XbpPart> oXbp;
    for (;;) {
        const int nEvent = AppEvent(mp1, mp2, oXbp);
        if ((nEvent == event::Keyboard && mp1 == key::Escape) || nEvent == event::Close) {
            break;
        }
        oXbp->handleEvent(nEvent, mp1, mp2, Nil);
    }

    // Application window and focus go back before anything is destroyed; the last capture
    // shows the desktop once the dialog is gone.
    SetAppWindow(oOldApp);
    SetAppFocus(oHadFocus);
    oMenuBar->destroy();
    oDlg->destroy();
    DeskCapture(oPS, oBG, "LastDeskPS.bmp");
}

} // namespace Test
