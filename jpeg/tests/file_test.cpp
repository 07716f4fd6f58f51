// The whole-file read seam (the decoder's file mode), in whichever implementation the build
// has: the C library natively, CreateFileA/ReadFile under Wine.
#include "platform/file.h"
#include "platform/memory.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>

namespace {

std::string tempPath(const char* name) {
    return ::testing::TempDir() + "/" + name;
}

void writeFile(const std::string& path, const std::string& bytes) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
}

TEST(ReadWholeFile, ReadsEveryByteIntoVirtualMemory) {
    const std::string path = tempPath("whole.bin");
    std::string bytes(70000, '\0');
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        bytes[i] = static_cast<char>(i * 7 + 3);
    }
    writeFile(path, bytes);
    const platform::FileContents file = platform::readWholeFile(path.c_str(), 1 << 20);
    ASSERT_EQ(file.status, platform::FileReadStatus::Ok);
    ASSERT_EQ(file.size, bytes.size());
    EXPECT_EQ(0, std::memcmp(file.data, bytes.data(), bytes.size()));
    platform::virtualFree(file.data);
    std::remove(path.c_str());
}

TEST(ReadWholeFile, EmptyFileIsReadAsNothing) {
    const std::string path = tempPath("empty.bin");
    writeFile(path, "");
    const platform::FileContents file = platform::readWholeFile(path.c_str(), 100);
    EXPECT_EQ(file.status, platform::FileReadStatus::Ok);
    EXPECT_EQ(file.size, 0u);
    EXPECT_NE(file.data, nullptr);
    platform::virtualFree(file.data);
    std::remove(path.c_str());
}

TEST(ReadWholeFile, MissingFileOrFolderCannotBeOpened) {
    EXPECT_EQ(platform::readWholeFile(tempPath("no-such-file.jpg").c_str(), 100).status,
              platform::FileReadStatus::CannotOpenOrRead);
    EXPECT_EQ(platform::readWholeFile(::testing::TempDir().c_str(), 100).status,
              platform::FileReadStatus::CannotOpenOrRead);
    EXPECT_EQ(platform::readWholeFile(nullptr, 100).status,
              platform::FileReadStatus::CannotOpenOrRead);
}

TEST(ReadWholeFile, FileOverTheLimitIsNotRead) {
    const std::string path = tempPath("large.bin");
    writeFile(path, std::string(101, 'x'));
    const platform::FileContents file = platform::readWholeFile(path.c_str(), 100);
    EXPECT_EQ(file.status, platform::FileReadStatus::TooLarge);
    EXPECT_EQ(file.data, nullptr);
    const platform::FileContents exact = platform::readWholeFile(path.c_str(), 101);
    EXPECT_EQ(exact.status, platform::FileReadStatus::Ok);
    platform::virtualFree(exact.data);
    std::remove(path.c_str());
}

} // namespace
