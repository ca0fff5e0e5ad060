// BMP files: the format viewers expect, and the whole-or-absent guarantee.
#include "core/bmp_file.h"

#include <gtest/gtest.h>
#include <sys/resource.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

namespace fs = std::filesystem;

namespace {

std::uint32_t le32(const std::vector<std::uint8_t>& b, std::size_t at) {
    return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<std::uint32_t>(b[at + 3]) << 24;
}

std::vector<std::uint8_t> readAll(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

// A 3x2 image, BGRX rows top-down: top row red, green, blue; bottom row white, black, grey.
std::vector<std::uint8_t> sample() {
    return {0,   0,   255, 0, 0, 255, 0, 0, 255, 0,   0,   0,
            255, 255, 255, 0, 0, 0,   0, 0, 128, 128, 128, 0};
}

class TempDir : public ::testing::Test {
  protected:
    void SetUp() override {
        char tmpl[] = "/tmp/bmptest.XXXXXX";
        dir = mkdtemp(tmpl);
    }
    void TearDown() override { fs::remove_all(dir); }
    std::size_t entries() const {
        return static_cast<std::size_t>(std::distance(fs::directory_iterator(dir), {}));
    }
    fs::path dir;
};

} // namespace

TEST(BmpEncoding, HeaderRowsBottomUpAndPadding) {
    const auto px = sample();
    std::vector<std::uint8_t> out(host::bmpfile::FileSize(3, 2));
    host::bmpfile::Encode(out.data(), px.data(), 3, 2, 12);
    ASSERT_EQ(out.size(), 54u + 2 * 12); // 3 px * 3 bytes = 9, padded to 12
    EXPECT_EQ(out[0], 'B');
    EXPECT_EQ(out[1], 'M');
    EXPECT_EQ(le32(out, 2), out.size());
    EXPECT_EQ(le32(out, 10), 54u);
    EXPECT_EQ(le32(out, 14), 40u);
    EXPECT_EQ(le32(out, 18), 3u);
    EXPECT_EQ(le32(out, 22), 2u) << "positive height: bottom-up rows";
    EXPECT_EQ(out[28], 24);
    // The first stored row is the bottom one: white, black, grey, then 3 zero bytes.
    const std::vector<std::uint8_t> bottom(out.begin() + 54, out.begin() + 66);
    EXPECT_EQ(bottom, (std::vector<std::uint8_t>{255, 255, 255, 0, 0, 0, 128, 128, 128, 0, 0, 0}));
    const std::vector<std::uint8_t> top(out.begin() + 66, out.end());
    EXPECT_EQ(top, (std::vector<std::uint8_t>{0, 0, 255, 0, 255, 0, 255, 0, 0, 0, 0, 0}));
}

TEST_F(TempDir, WriteFileMatchesEncodingAndLeavesNothingElse) {
    const auto px = sample();
    const fs::path file = dir / "a.bmp";
    ASSERT_TRUE(host::bmpfile::WriteFile(file, px.data(), 3, 2, 12));
    std::vector<std::uint8_t> expected(host::bmpfile::FileSize(3, 2));
    host::bmpfile::Encode(expected.data(), px.data(), 3, 2, 12);
    EXPECT_EQ(readAll(file), expected);
    EXPECT_EQ(entries(), 1u) << "no temporary file is left beside it";
    EXPECT_EQ(fs::status(file).permissions() & fs::perms::others_read, fs::perms::others_read);
}

TEST_F(TempDir, ASymbolicLinkIsReplacedAndItsTargetNeverWritten) {
    const auto px = sample();
    const fs::path victim = dir / "victim.txt";
    std::ofstream(victim) << "keep me";
    fs::create_symlink(victim, dir / "a.bmp");
    ASSERT_TRUE(host::bmpfile::WriteFile(dir / "a.bmp", px.data(), 3, 2, 12));
    EXPECT_FALSE(fs::is_symlink(dir / "a.bmp"));
    EXPECT_TRUE(fs::is_regular_file(dir / "a.bmp"));
    std::ifstream in(victim);
    std::string text;
    std::getline(in, text);
    EXPECT_EQ(text, "keep me");
}

TEST_F(TempDir, UnwritableFolderFailsCleanly) {
    const auto px = sample();
    // Even root cannot create files in /proc; a missing folder fails the same way.
    EXPECT_FALSE(host::bmpfile::WriteFile("/proc/a.bmp", px.data(), 3, 2, 12));
    EXPECT_FALSE(host::bmpfile::WriteFile(dir / "missing" / "a.bmp", px.data(), 3, 2, 12));
    EXPECT_FALSE(host::bmpfile::WriteFile(dir / "empty.bmp", px.data(), 0, 2, 12));
    EXPECT_EQ(entries(), 0u);
}

TEST_F(TempDir, AFailedWriteLeavesNoTruncatedFile) {
    // A write that fails part way must not leave a truncated file: the temporary file goes
    // and the earlier file stays as it was.
    const auto px = sample();
    const fs::path file = dir / "a.bmp";
    ASSERT_TRUE(host::bmpfile::WriteFile(file, px.data(), 3, 2, 12));
    const auto before = readAll(file);
    // RLIMIT_FSIZE below the image's size makes write() fail with EFBIG, even for root.
    std::vector<std::uint8_t> big(4 * 512 * 512, 7);
    struct rlimit old {};
    getrlimit(RLIMIT_FSIZE, &old);
    struct rlimit small = {4096, old.rlim_max};
    signal(SIGXFSZ, SIG_IGN);
    setrlimit(RLIMIT_FSIZE, &small);
    const bool ok = host::bmpfile::WriteFile(file, big.data(), 512, 512, 2048);
    setrlimit(RLIMIT_FSIZE, &old);
    EXPECT_FALSE(ok);
    EXPECT_EQ(readAll(file), before);
    EXPECT_EQ(entries(), 1u);
}
