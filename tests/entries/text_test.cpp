// The short text offered instead of files: its bound and what a peer may not slip into it.

#include "lane/entries/textoffer.h"

#include <gtest/gtest.h>

namespace entries {
namespace {

TEST(TextOffer, HoldsToItsBoundAndToPrintableUtf8) {
    // 65535 bytes of three-byte characters, then one ASCII byte: exactly the bound.
    const QByteArray longest = QByteArray("\xe2\x82\xac").repeated(kMaxTextBytes / 3) + "a";
    ASSERT_EQ(longest.size(), kMaxTextBytes);
    const struct {
        const char* what;
        QByteArray payload;
        TextError error;
    } cases[] = {
        {"the longest", longest, TextError::None},
        {"one byte over", longest + "b", TextError::TooLong},
        {"ASCII, the longest", QByteArray(kMaxTextBytes, 'x'), TextError::None},
        {"lines and tabs",
         "https://example.org/a?b=c\r\n\tc\xc3\xb3"
         "digo 1234",
         TextError::None},
        {"a byte-order mark kept",
         "\xef\xbb\xbf"
         "BOM",
         TextError::None},
        {"empty", "", TextError::Empty},
        {"a stray byte", "abc\xff", TextError::BadUtf8},
        {"an overlong slash", "\xc0\xaf", TextError::BadUtf8},
        {"a surrogate", "\xed\xa0\x80", TextError::BadUtf8},
        {"cut in a character", "\xe2\x82", TextError::BadUtf8},
        {"an escape sequence", "\x1b]0;title\x07", TextError::ControlCharacter},
        {"NUL", QByteArray("a\0b", 3), TextError::ControlCharacter},
        {"DEL", "a\x7f", TextError::ControlCharacter},
        {"C1 CSI",
         "\xc2\x9b"
         "2J",
         TextError::ControlCharacter},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const ParsedText parsed = parseText(c.payload);
        EXPECT_STREQ(textErrorName(parsed.error), textErrorName(c.error));
        if (c.error == TextError::None) {
            EXPECT_EQ(encodeText(parsed.text), c.payload);
        } else {
            EXPECT_TRUE(parsed.text.isEmpty());
        }
    }
}

}  // namespace
}  // namespace entries
