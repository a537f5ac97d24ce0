#include <gtest/gtest.h>

#include <cerrno>
#include <string>
#include <vector>

#include "platform/textfile.h"
#include "test_files.h"

namespace {

struct Read {
    std::string text;
    int64_t endOffset;
};

// Every piece TextGets gives with a buffer of `size`, and the offset after it.
std::vector<Read> ReadAll(const std::string& path, int size) {
    TextFile* file = TextOpen(path.c_str());
    EXPECT_NE(file, nullptr);
    std::vector<Read> pieces;
    std::vector<char> buffer(static_cast<std::size_t>(size));
    while (file != nullptr && TextGets(buffer.data(), size, file) != nullptr) {
        pieces.push_back({buffer.data(), TextTell(file)});
    }
    TextClose(file);
    return pieces;
}

TEST(TextFile, DropsCarriageReturnOnlyBeforeLineFeed) {
    TempDir dir;
    const auto pieces = ReadAll(dir.Write("f", "one\r\ntwo\rthree\n\r\n"), 81);
    ASSERT_EQ(pieces.size(), 3u);
    EXPECT_EQ(pieces[0].text, "one\n");
    EXPECT_EQ(pieces[0].endOffset, 5);  // offsets count the file's bytes
    EXPECT_EQ(pieces[1].text, "two\rthree\n");
    EXPECT_EQ(pieces[2].text, "\n");
    EXPECT_EQ(pieces[2].endOffset, 17);
}

TEST(TextFile, SplitsLongLinesLikeFgets) {
    TempDir dir;
    const std::string line79(79, 'a');
    const std::string line80(80, 'b');
    const std::string line170(170, 'c');
    const auto pieces =
        ReadAll(dir.Write("f", line79 + "\r\n" + line80 + "\r\n" + line170 + "\n"), 81);
    ASSERT_EQ(pieces.size(), 6u);
    // A 79-character line ended by CRLF fits whole, the CR being dropped.
    EXPECT_EQ(pieces[0].text, line79 + "\n");
    // Exactly 80 characters: the line, then its empty rest.
    EXPECT_EQ(pieces[1].text, line80);
    EXPECT_EQ(pieces[2].text, "\n");
    EXPECT_EQ(pieces[3].text, std::string(80, 'c'));
    EXPECT_EQ(pieces[4].text, std::string(80, 'c'));
    EXPECT_EQ(pieces[5].text, "cccccccccc\n");
}

TEST(TextFile, ControlZEndsTheFileUntilASeekBeforeIt) {
    TempDir dir;
    const std::string path = dir.Write("f", "first\nsec\x1aond\nthird\n");
    EXPECT_EQ(ReadAll(path, 81).size(), 2u);
    TextFile* file = TextOpen(path.c_str());
    char buffer[81];
    ASSERT_NE(TextGets(buffer, sizeof buffer, file), nullptr);
    ASSERT_NE(TextGets(buffer, sizeof buffer, file), nullptr);
    EXPECT_STREQ(buffer, "sec");
    EXPECT_TRUE(TextEof(file));
    EXPECT_EQ(TextGets(buffer, sizeof buffer, file), nullptr);
    ASSERT_TRUE(TextSeek(file, 0));
    EXPECT_FALSE(TextEof(file));
    ASSERT_NE(TextGets(buffer, sizeof buffer, file), nullptr);
    EXPECT_STREQ(buffer, "first\n");
    TextClose(file);
}

TEST(TextFile, CarriageReturnAcrossTheReadBufferBoundary) {
    // Place a CRLF so that the CR is the last byte of the first 64 KiB chunk.
    TempDir dir;
    std::string content;
    while (content.size() + 60 < 65535) content += std::string(59, 'x') + "\n";
    content += std::string(65535 - content.size(), 'y') + "\r\nafter\n";
    const auto pieces = ReadAll(dir.Write("f", content), 512);
    ASSERT_GE(pieces.size(), 2u);
    EXPECT_EQ(pieces.back().text, "after\n");
    EXPECT_EQ(pieces[pieces.size() - 2].text.back(), '\n');
    EXPECT_EQ(pieces[pieces.size() - 2].text.find('\r'), std::string::npos);
    EXPECT_EQ(pieces.back().endOffset, static_cast<int64_t>(content.size()));
}

TEST(TextFile, SeeksAnywhereAndRereadsTheSameLines) {
    TempDir dir;
    std::string content;
    for (int i = 0; i < 20000; ++i) content += "line " + std::to_string(i) + "\n";
    const std::string path = dir.Write("f", content);
    TextFile* file = TextOpen(path.c_str());
    char buffer[81];
    std::vector<int64_t> offsets;
    std::vector<std::string> lines;
    for (;;) {
        offsets.push_back(TextTell(file));
        if (TextGets(buffer, sizeof buffer, file) == nullptr) break;
        lines.push_back(buffer);
    }
    ASSERT_EQ(lines.size(), 20000u);
    EXPECT_EQ(offsets.back(), static_cast<int64_t>(content.size()));
    for (int i : {19999, 0, 12345, 1, 19000, 7}) {
        ASSERT_TRUE(TextSeek(file, offsets[static_cast<std::size_t>(i)]));
        ASSERT_NE(TextGets(buffer, sizeof buffer, file), nullptr);
        EXPECT_EQ(buffer, lines[static_cast<std::size_t>(i)]);
    }
    EXPECT_FALSE(TextSeek(file, -1));
    TextClose(file);
}

TEST(TextFile, OpenFailuresLeaveTheReason) {
    TempDir dir;
    errno = 0;
    EXPECT_EQ(TextOpen(dir.Path("missing").c_str()), nullptr);
    EXPECT_EQ(errno, ENOENT);
    errno = 0;
    EXPECT_EQ(TextOpen(dir.path().c_str()), nullptr);
    EXPECT_EQ(errno, EISDIR);
}

TEST(TextFile, NulBytesAreReadAndCounted) {
    TempDir dir;
    const auto pieces = ReadAll(dir.Write("f", std::string("a\0b\nc\n", 6)), 81);
    ASSERT_EQ(pieces.size(), 2u);
    EXPECT_EQ(pieces[0].endOffset, 4);
    EXPECT_EQ(pieces[1].text, "c\n");
}

}  // namespace
