// The program's entry: checks the runtime's version and hands it the start-up record.
#include "test.h"

#include <host/application.h>

int main() {
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
