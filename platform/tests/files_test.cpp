// The machine's file seam in a scratch folder: natively the POSIX one (paths written with
// backslashes, as the browser writes them), under Wine the Win32 one.
#include "platform/files.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace {

namespace fs = std::filesystem;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

class SystemFiles : public ::testing::Test {
protected:
    SystemFiles() {
        const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
        dir_ = fs::temp_directory_path() / ("lvfiles-" + std::to_string(stamp));
        fs::create_directories(dir_);
    }
    ~SystemFiles() override {
        std::error_code ec;
        fs::remove_all(dir_, ec);
    }

    // The path as the browser writes it: folder, a backslash, the name.
    std::string at(const std::string& name) const { return dir_.string() + "\\" + name; }
    void put(const std::string& name, const std::string& bytes) const {
        std::ofstream(dir_ / name, std::ios::binary) << bytes;
    }
    std::string contents(const std::string& name) const {
        std::ifstream in(dir_ / name, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    bool there(const std::string& name) const { return fs::exists(dir_ / name); }

    platform::FileSystem& files = platform::systemFileSystem();
    fs::path dir_;
};

TEST_F(SystemFiles, FindListsMatchingFilesWithoutFoldersInAnyCase) {
    put("a.jpg", "1");
    put("B.JPG", "2");
    put("c.txt", "3");
    put("d.jpg.bak", "4");
    fs::create_directory(dir_ / "e.jpg");
    std::vector<std::string> names = files.findFiles(at("*.jpg").c_str());
    std::sort(names.begin(), names.end());
    EXPECT_THAT(names, ElementsAre("B.JPG", "a.jpg"));
}

TEST_F(SystemFiles, FindInAMissingFolderOrWithNoMatchIsEmpty) {
    put("c.txt", "3");
    EXPECT_THAT(files.findFiles(at("*.jpg").c_str()), IsEmpty());
    EXPECT_THAT(files.findFiles(at("none\\*.jpg").c_str()), IsEmpty());
}

TEST_F(SystemFiles, ExistsForFilesAndFolders) {
    put("a.jpg", "1");
    fs::create_directory(dir_ / "sub");
    EXPECT_TRUE(files.exists(at("a.jpg").c_str()));
    EXPECT_TRUE(files.exists(at("sub").c_str()));
    EXPECT_FALSE(files.exists(at("b.jpg").c_str()));
}

TEST_F(SystemFiles, WriteNewFileWritesEveryByteAndNeverOverwrites) {
    const std::string bytes("\xFF\xD8\x00\x01\x0D\x0A\xFF\xD9", 8);
    ASSERT_TRUE(files.writeNewFile(at("new.jpg").c_str(), bytes.data(), bytes.size()));
    EXPECT_EQ(contents("new.jpg"), bytes);

    EXPECT_FALSE(files.writeNewFile(at("new.jpg").c_str(), "xy", 2));
    EXPECT_EQ(contents("new.jpg"), bytes);

    ASSERT_TRUE(files.writeNewFile(at("empty.jpg").c_str(), nullptr, 0));
    EXPECT_EQ(contents("empty.jpg"), "");
    EXPECT_FALSE(files.writeNewFile(at("none\\x.jpg").c_str(), "xy", 2));
}

TEST_F(SystemFiles, MoveReplacesOnlyWhenAsked) {
    put("tmp1", "new");
    put("old.jpg", "old");
    EXPECT_FALSE(files.moveFile(at("tmp1").c_str(), at("old.jpg").c_str(), false));
    EXPECT_EQ(contents("old.jpg"), "old");
    EXPECT_EQ(contents("tmp1"), "new");

    ASSERT_TRUE(files.moveFile(at("tmp1").c_str(), at("old.jpg").c_str(), true));
    EXPECT_EQ(contents("old.jpg"), "new");
    EXPECT_FALSE(there("tmp1"));

    put("tmp2", "fresh");
    ASSERT_TRUE(files.moveFile(at("tmp2").c_str(), at("fresh.jpg").c_str(), false));
    EXPECT_EQ(contents("fresh.jpg"), "fresh");
    EXPECT_FALSE(there("tmp2"));
    EXPECT_FALSE(files.moveFile(at("tmp2").c_str(), at("other.jpg").c_str(), true));
}

TEST_F(SystemFiles, DeleteRemovesAFileAndFailsWhenThereIsNone) {
    put("a.jpg", "1");
    EXPECT_TRUE(files.deleteFile(at("a.jpg").c_str()));
    EXPECT_FALSE(there("a.jpg"));
    EXPECT_FALSE(files.deleteFile(at("a.jpg").c_str()));
}

} // namespace
