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
    // 1-3: the dialog, built hidden.
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

    // 4-5: the drawing area takes the dialog's settings.
    auto oDraw = oDlg->drawingArea();
    oDraw->clipParent(oDlg->clipParent());
    oDraw->clipChildren(oDlg->clipChildren());
    oDraw->setColorFG(oDlg->setColorFG());
    oDraw->setColorBG(oDlg->setColorBG());
    oDraw->setFont(oDlg->setFont());

    // 6-8: application window, menu, and the bitmap the captures and the background share.
    auto oOldApp = SetAppWindow(oDlg);
    auto oMenuBar = e_installMenu(oDlg);
    auto oPS = XbpPresSpace::New()->create();
    auto oBG = XbpBitmap::New()->create();
    oBG->presSpace(oPS);

    // 9: the desktop before the dialog is shown.
    DeskCapture(oPS, oBG, "FirstDeskPS.bmp");

    // 10-12: the gradient background, shown scaled to the drawing area.
    const Size aDrawSize = oDraw->currentSize();
    oBG->make(aDrawSize.width, aDrawSize.height);
    oBG->draw(oDraw->lockPS(), {0, 0});
    oDraw->unlockPS(); // the area's space is handed back at once; nothing else draws with it
    GraGradient(oPS, {0, 0}, {{aDrawSize.width, aDrawSize.height}},
                {GraMakeRGBColor({6, 190, 225}), GraMakeRGBColor({210, 250, 255})},
                gradient::Linear);
    oDraw->bitmap(oBG);
    oDraw->options(bmp::Scaled);

    // 13-14: centred, shown, with the focus in the drawing area.
    oDlg->configure();
    CenterControl(oDlg);
    oDlg->show();
    auto oHadFocus = SetAppFocus(oDraw);

    // 15: the event loop, until Escape or the close event.
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

    // 16-18: restore, tear down, and the desktop after the dialog is gone.
    SetAppWindow(oOldApp);
    SetAppFocus(oHadFocus);
    oMenuBar->destroy();
    oDlg->destroy();
    DeskCapture(oPS, oBG, "LastDeskPS.bmp");
}

} // namespace Test
