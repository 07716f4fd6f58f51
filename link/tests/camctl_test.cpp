// camctl as a user runs it: against camsim's pseudo-terminal, probing, listing, fetching
// files that must equal the card's byte for byte, and deleting.
#include "sim/tests/sim_fixture.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <sys/wait.h>
#include <unistd.h>

namespace {

// One camsim process serving a card; stopped when the object goes.
class Camsim {
public:
    Camsim(const std::string& card, const std::string& work, std::vector<std::string> extra = {}) {
        const std::string pathFile = work + "/camsim.path";
        std::vector<std::string> args = {CAMSIM_PATH, "--card", card, "--path-file", pathFile};
        args.insert(args.end(), extra.begin(), extra.end());
        std::remove(pathFile.c_str()); // left by a camsim before, naming its terminal
        pid_ = fork();
        if (pid_ == 0) {
            std::vector<char*> argv;
            for (auto& a : args) {
                argv.push_back(a.data());
            }
            argv.push_back(nullptr);
            freopen("/dev/null", "r", stdin);
            freopen("/dev/null", "w", stdout);
            execv(CAMSIM_PATH, argv.data());
            _exit(127);
        }
        for (int i = 0; i < 1000 && path_.empty(); ++i) {
            std::ifstream in(pathFile);
            std::getline(in, path_);
            if (path_.empty()) {
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            }
        }
    }
    ~Camsim() { stop(); }
    // Ends camsim, which then writes its transcript if asked to.
    void stop() {
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            int status = 0;
            waitpid(pid_, &status, 0);
            pid_ = -1;
        }
    }
    const std::string& path() const { return path_; }

private:
    pid_t pid_ = -1;
    std::string path_;
};

struct ToolRun {
    int code;
    std::string out;
};

ToolRun camctl(const std::string& args) {
    const std::string command = std::string(CAMCTL_PATH) + " " + args + " 2>&1";
    ToolRun run{-1, {}};
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) {
        return run;
    }
    char buffer[4096];
    std::size_t n = 0;
    while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) {
        run.out.append(buffer, n);
    }
    const int status = pclose(pipe);
    run.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

class Camctl : public ::testing::Test {
protected:
    void SetUp() override { simtest::makeCard(dir.path() + "/card", 3, 2); }
    std::string card(const std::string& file) const { return dir.path() + "/card/" + file; }
    simtest::TempDir dir;
};

TEST_F(Camctl, ProbesListsFetchesAndDeletes) {
    Camsim camsim(dir.path() + "/card", dir.path());
    ASSERT_FALSE(camsim.path().empty());
    const std::string dev = camsim.path();

    ToolRun probe = camctl(dev + " probe");
    EXPECT_EQ(probe.code, 0) << probe.out;

    ToolRun list = camctl(dev + " list");
    EXPECT_EQ(list.code, 0) << list.out;
    EXPECT_NE(list.out.find("S0000001"), std::string::npos) << list.out;
    EXPECT_NE(list.out.find("T0000002      28672"), std::string::npos) << list.out;
    EXPECT_NE(list.out.find("3 pictures"), std::string::npos) << list.out;

    // Picture 2 was made a V entry: both its files still come by the S and T names.
    ToolRun thumb = camctl(dev + " thumb V0000002 " + dir.path() + "/t.jpg");
    EXPECT_EQ(thumb.code, 0) << thumb.out;
    EXPECT_EQ(simtest::readFile(dir.path() + "/t.jpg"), simtest::readFile(card("T0000002.JPG")));
    ToolRun full = camctl(dev + " full S0000003 " + dir.path() + "/s.jpg");
    EXPECT_EQ(full.code, 0) << full.out;
    EXPECT_EQ(simtest::readFile(dir.path() + "/s.jpg"), simtest::readFile(card("S0000003.JPG")));

    ToolRun remove = camctl(dev + " delete S0000001");
    EXPECT_EQ(remove.code, 0) << remove.out;
    EXPECT_FALSE(simtest::fileExists(card("S0000001.JPG")));
    EXPECT_NE(camctl(dev + " list").out.find("2 pictures"), std::string::npos);

    ToolRun missing = camctl(dev + " thumb S0000001 " + dir.path() + "/x.jpg");
    EXPECT_EQ(missing.code, 1);
    EXPECT_NE(missing.out.find("no picture S0000001"), std::string::npos) << missing.out;
}

TEST_F(Camctl, ShowsTheCamerasMessages) {
    Camsim camsim(dir.path() + "/card", dir.path(), {"--no-card"});
    ASSERT_FALSE(camsim.path().empty());
    ToolRun list = camctl(camsim.path() + " list");
    EXPECT_NE(list.out.find("camctl: Can't find compact flash card!"), std::string::npos)
        << list.out;
}

// A failed catalogue read fails every command that needs the catalogue, and never looks
// like an empty card.
struct CatalogueFault {
    const char* name;
    const char* fault;
    const char* message; // the link's message, or none
};
void PrintTo(const CatalogueFault& row, std::ostream* out) {
    *out << row.fault;
}

class CatalogueFaults : public Camctl, public ::testing::WithParamInterface<CatalogueFault> {};

TEST_P(CatalogueFaults, FailEveryCommandThatReadsTheCatalogue) {
    const CatalogueFault& row = GetParam();
    const std::string out = dir.path() + "/out.jpg";
    for (const std::string& command : {std::string("list"), "thumb S0000001 " + out,
                                       "full S0000001 " + out, std::string("delete S0000001")}) {
        SCOPED_TRACE(command);
        Camsim camsim(dir.path() + "/card", dir.path(), {row.fault});
        ASSERT_FALSE(camsim.path().empty());
        ToolRun run = camctl(camsim.path() + " " + command);
        EXPECT_EQ(run.code, 1) << run.out;
        EXPECT_NE(run.out.find("camctl: the card's catalogue could not be read"), std::string::npos)
            << run.out;
        EXPECT_EQ(run.out.find("pictures"), std::string::npos) << run.out;
        if (row.message[0] != '\0') {
            EXPECT_NE(run.out.find(std::string("camctl: ") + row.message), std::string::npos)
                << run.out;
        }
        EXPECT_FALSE(simtest::fileExists(out));
        EXPECT_TRUE(simtest::fileExists(card("S0000001.JPG")));
    }
}

// The probe is command 1 and the first CMD_CATALOGUE command 2.
INSTANTIATE_TEST_SUITE_P(
    Camctl, CatalogueFaults,
    ::testing::Values(CatalogueFault{"NoCard", "--no-card", "Can't find compact flash card!"},
                      CatalogueFault{"FormatFailed", "--format-failed",
                                     "Compact flash card can not be formatted!"},
                      CatalogueFault{"AccessFailed", "--access-failed",
                                     "Access compact flash card failed!"},
                      CatalogueFault{"UnknownStatus", "--unknown-status=0x42", "Unknown Problem!"},
                      CatalogueFault{"CountOf26", "--group-count=26", ""},
                      CatalogueFault{"NoAck", "--no-ack=2", "Can't find camera!"},
                      CatalogueFault{"LateAck", "--slow=600@2", "Can't find camera!"}),
    [](const ::testing::TestParamInfo<CatalogueFault>& info) { return info.param.name; });

// Status reply 1 answers the catalogue, 2 the delete.
TEST_F(Camctl, DeleteTheCameraRefusesFails) {
    Camsim camsim(dir.path() + "/card", dir.path(), {"--access-failed=2"});
    ASSERT_FALSE(camsim.path().empty());
    ToolRun remove = camctl(camsim.path() + " delete S0000001");
    EXPECT_EQ(remove.code, 1) << remove.out;
    EXPECT_NE(remove.out.find("camctl: Access compact flash card failed!"), std::string::npos)
        << remove.out;
    EXPECT_TRUE(simtest::fileExists(card("S0000001.JPG")));
}

TEST_F(Camctl, EmptyCardListsNoPicturesAndSucceeds) {
    Camsim camsim(dir.path() + "/card", dir.path(), {"--empty-catalogue=1"});
    ASSERT_FALSE(camsim.path().empty());
    ToolRun list = camctl(camsim.path() + " list");
    EXPECT_EQ(list.code, 0) << list.out;
    EXPECT_EQ(list.out, "0 pictures\n");
}

// camsim's transcript holds one line "host  -> B1" for every probe written.
int probesIn(const std::string& transcript) {
    int probes = 0;
    std::istringstream lines(transcript);
    for (std::string line; std::getline(lines, line);) {
        probes += line.size() > 8 && line.substr(8) == " host  -> B1" ? 1 : 0;
    }
    return probes;
}

class WrongCamera : public Camctl, public ::testing::WithParamInterface<const char*> {};

TEST_P(WrongCamera, IsProbedOnce) {
    const std::string transcript = dir.path() + "/transcript.txt";
    Camsim camsim(dir.path() + "/card", dir.path(), {GetParam(), "--transcript", transcript});
    ASSERT_FALSE(camsim.path().empty());
    ToolRun probe = camctl(camsim.path() + " probe");
    EXPECT_EQ(probe.code, 1) << probe.out;
    EXPECT_NE(probe.out.find("no camera answers on " + camsim.path() + "\n"), std::string::npos)
        << probe.out;
    camsim.stop();
    const std::vector<std::uint8_t> text = simtest::readFile(transcript);
    EXPECT_EQ(probesIn(std::string(text.begin(), text.end())), 1);
}

INSTANTIATE_TEST_SUITE_P(Camctl, WrongCamera,
                         ::testing::Values("--unplugged", "--probe-reply=0x00"),
                         [](const ::testing::TestParamInfo<const char*>& info) {
                             return info.index == 0 ? "Silent" : "WrongReply";
                         });

TEST_F(Camctl, SecondDeviceIsTriedAsCom2) {
    const std::string transcript = dir.path() + "/silent.txt";
    Camsim silent(dir.path() + "/card", dir.path(), {"--unplugged", "--transcript", transcript});
    ASSERT_FALSE(silent.path().empty());
    simtest::TempDir other;
    Camsim camera(dir.path() + "/card", other.path());
    ASSERT_FALSE(camera.path().empty());

    const std::string both = "--com2 " + camera.path() + " " + silent.path();
    ToolRun probe = camctl(both + " probe");
    EXPECT_EQ(probe.code, 0) << probe.out;
    EXPECT_EQ(probe.out, "camera answers on " + camera.path() + "\n");
    ToolRun list = camctl(both + " list");
    EXPECT_EQ(list.code, 0) << list.out;
    EXPECT_NE(list.out.find("3 pictures"), std::string::npos) << list.out;
    silent.stop();
    const std::vector<std::uint8_t> text = simtest::readFile(transcript);
    EXPECT_EQ(probesIn(std::string(text.begin(), text.end())), 2); // once per run
}

TEST_F(Camctl, NoCameraAndBadArguments) {
    ToolRun none = camctl(dir.path() + "/no-such-tty probe");
    EXPECT_EQ(none.code, 1);
    EXPECT_NE(none.out.find("no camera answers"), std::string::npos) << none.out;
    EXPECT_EQ(camctl("/dev/null thumb S01 out").code, 2);
    EXPECT_EQ(camctl("/dev/null frobnicate").code, 2);
    EXPECT_EQ(camctl("--com2").code, 2);
    EXPECT_EQ(camctl("--com2 /dev/null probe").code, 2);
}

} // namespace
