// Main run in-process: what it gives back to the runtime when it ends.
#include "program.h"
#include "test.h"

#include <host/application.h>
#include <host/windows.h>

#include <unistd.h>

#include <thread>

TEST(MainEnds, ApplicationWindowAndFocusAreRestoredAlsoWhenTheyWereNil) {
    testx::XServer x;
    testx::TempFolder folder;
    char old[4096];
    ASSERT_NE(::getcwd(old, sizeof old), nullptr);
    ASSERT_EQ(::chdir(folder.path().c_str()), 0);
    for (bool nilBefore : {false, true}) {
        std::shared_ptr<host::XbpWindow> before;
        std::shared_ptr<host::XbpWindow> appAfter, focusAfter;
        host::Start({.errorSys = [](const std::exception& e) { ADD_FAILURE() << e.what(); },
                     .appSys = ::Test::AppSys,
                     .appExit = {},
                     .dbeSys = ::Test::DbeSys,
                     .main =
                         [&] {
                             if (!nilBefore) {
                                 before =
                                     host::XbpDialog::New(host::AppDesktop(), nullptr, host::Nil,
                                                          host::Size{50, 50}, {}, false)
                                         ->create();
                             }
                             host::SetAppWindow(before);
                             host::SetAppFocus(before);
                             // A person presses Escape once the dialog is up.
                             std::thread person([&] {
                                 testx::XServer::waitFor(
                                     [&] { return x.findMapped(apptest::kTitle).has_value(); },
                                     std::chrono::milliseconds(5000));
                                 std::this_thread::sleep_for(std::chrono::milliseconds(100));
                                 x.tapKey(apptest::kEscape);
                             });
                             ::Test::Main();
                             person.join();
                             appAfter = host::SetAppWindow(nullptr);
                             focusAfter = host::SetAppFocus(nullptr);
                             if (before) {
                                 before->destroy();
                             }
                         }});
        EXPECT_EQ(appAfter, before) << (nilBefore ? "NIL before" : "a window before");
        EXPECT_EQ(focusAfter, before) << (nilBefore ? "NIL before" : "a window before");
        EXPECT_FALSE(x.findMapped(apptest::kTitle)) << "the dialog is destroyed";
    }
    EXPECT_EQ(::chdir(old), 0);
}
