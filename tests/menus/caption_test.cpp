// Captions: the "~" marker comes out of the drawn text and names the mnemonic letter, also
// past the first byte of a UTF-8 text.

#include <gtest/gtest.h>

// Xlib last (its macros break the headers above); kept in this order on purpose.
// clang-format off
#include "menu_state.h"
// clang-format on

namespace {

using host::detail::ParseCaption;

TEST(Caption, TheMarkerIsNotDrawnAndNamesTheLetterItPrecedes) {
    const auto a = ParseCaption("~Menu Test");
    EXPECT_EQ(a.text, "Menu Test");
    EXPECT_EQ(a.mnemonicStart, 0);
    EXPECT_EQ(a.mnemonicEnd, 1);
    EXPECT_EQ(a.mnemonic, 'm'); // matched without regard to case

    const auto b = ParseCaption("Other ~option");
    EXPECT_EQ(b.text, "Other option");
    EXPECT_EQ(b.mnemonicStart, 6);
    EXPECT_EQ(b.mnemonic, 'o');
}

TEST(Caption, EdgeCases) {
    const auto none = ParseCaption("Plain");
    EXPECT_EQ(none.text, "Plain");
    EXPECT_EQ(none.mnemonicStart, -1);
    EXPECT_EQ(none.mnemonic, 0);

    const auto tilde = ParseCaption("A~~B ~C~D");
    EXPECT_EQ(tilde.text, "A~B CD") << "\"~~\" is a tilde; the first marker wins";
    EXPECT_EQ(tilde.mnemonic, 'c');
    EXPECT_EQ(tilde.mnemonicStart, 4);

    EXPECT_EQ(ParseCaption("End~").text, "End");

    const auto utf8 = ParseCaption("\xc3\x9c~\xc3\x84nderung"); // "Ü~Änderung"
    EXPECT_EQ(utf8.text, "\xc3\x9c\xc3\x84nderung");
    EXPECT_EQ(utf8.mnemonicStart, 2);
    EXPECT_EQ(utf8.mnemonicEnd, 4);
    EXPECT_EQ(utf8.mnemonic, 0xe4) << "folded to lower case: a with diaeresis";
    EXPECT_EQ(host::detail::FoldMnemonic(0xc4), 0xe4);

    const auto broken = ParseCaption("~\xff rest"); // not UTF-8: no mnemonic, nothing lost
    EXPECT_EQ(broken.mnemonic, 0);
    EXPECT_EQ(broken.text, "\xff rest");
}

} // namespace
