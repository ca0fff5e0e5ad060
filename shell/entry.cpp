// The program's entry: answers --help and --version, checks the runtime's version and hands
// it the start-up record.
#include "options.h"
#include "test.h"

#include <host/application.h>

namespace {

constexpr const char* kUsage =
    "usage: menutest [--help | --version]\n"
    "Opens the dialog \"Testing Menu Creation\" with the menu \"Menu Test\" and its tips.\n"
    "Saves the desktop as FirstDeskPS.bmp before the dialog shows and as LastDeskPS.bmp\n"
    "once it is gone, both in the current folder. Escape or the close button ends it.\n"
    "  --help      print this text and exit\n"
    "  --version   print the version and exit\n";

} // namespace

int main(int argc, char** argv) {
    if (const auto code =
            menutip::AnswerOptions({.name = "menutest", .usage = kUsage}, argc, argv)) {
        return *code;
    }
    // Below runtime 2.0 (the build byte aside) the program cannot run.
    if ((host::Version() & ~0xffL) < 0x2000000) {
        return 999;
    }
    return host::Start({.errorSys = host::ErrorSys,
                        .appSys = Test::AppSys,
                        .appExit = host::AppExit,
                        .dbeSys = Test::DbeSys,
                        .main = Test::Main,
                        .name = "menutest"});
}
