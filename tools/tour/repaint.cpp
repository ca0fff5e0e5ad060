// menutest-repaint: asks the window library beside it to repaint the desktop rectangle with
// left 10, top 20, bottom 70, right 110. Exit code 0 when the call gave true, 3 when false,
// 1 on an error.
#include <invalidate/invalidate.h>

#include <cstdio>
#include <exception>
#include <optional>

int main() {
    try {
        const bool ok = Invalidate::ApiInvalidateRect_(std::nullopt, 10, 20, 70, 110);
        std::printf("ApiInvalidateRect_(NIL, 10, 20, 70, 110) = %s\n", ok ? ".T." : ".F.");
        return ok ? 0 : 3;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "menutest-repaint: %s\n", e.what());
        return 1;
    }
}
