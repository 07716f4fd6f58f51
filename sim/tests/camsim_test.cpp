// camsim as a separate process: open its pseudo-terminal like a serial port and speak the
// protocol, comparing what comes back with the card's files.
#include "sim/faults.h"
#include "sim/tests/sim_fixture.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

extern char** environ;

using namespace simtest;
using Bytes = std::vector<std::uint8_t>;
using Clock = std::chrono::steady_clock;

namespace {

class Camsim {
public:
    Camsim(const std::string& card, std::vector<std::string> extra, const std::string& work) {
        pathFile_ = work + "/pty-path";
        std::vector<std::string> args = {CAMSIM_PATH, "--card", card, "--path-file", pathFile_};
        args.insert(args.end(), extra.begin(), extra.end());
        std::vector<char*> argv;
        for (auto& a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        int in[2];
        EXPECT_EQ(pipe(in), 0);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, in[0], 0);
        posix_spawn_file_actions_addclose(&actions, in[1]);
        const std::string out = work + "/camsim.out";
        posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT, 0644);
        EXPECT_EQ(posix_spawn(&pid_, CAMSIM_PATH, &actions, nullptr, argv.data(), environ), 0);
        posix_spawn_file_actions_destroy(&actions);
        close(in[0]);
        input_ = in[1];
        // camsim writes the path file once it serves; allow it ten seconds to start.
        const auto deadline = Clock::now() + std::chrono::seconds(10);
        while (!fileExists(pathFile_) && Clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        const Bytes text = readFile(pathFile_);
        path_.assign(text.begin(), text.end());
        while (!path_.empty() && path_.back() == '\n')
            path_.pop_back();
    }
    ~Camsim() {
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        if (input_ >= 0)
            close(input_);
    }
    const std::string& path() const { return path_; }
    void say(const std::string& line) {
        EXPECT_EQ(write(input_, line.data(), line.size()), ssize_t(line.size()));
    }
    void signal(int sig) { kill(pid_, sig); }
    // Exit status, or -1 when it did not end within ten seconds.
    int wait() {
        const auto deadline = Clock::now() + std::chrono::seconds(10);
        int status = 0;
        while (Clock::now() < deadline) {
            if (waitpid(pid_, &status, WNOHANG) == pid_) {
                pid_ = -1;
                return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return -1;
    }

private:
    pid_t pid_ = -1;
    int input_ = -1;
    std::string pathFile_, path_;
};

// The host's end: the slave terminal opened and set raw as a serial port would be.
class Port {
public:
    explicit Port(const std::string& path) {
        fd_ = open(path.c_str(), O_RDWR | O_NOCTTY);
        EXPECT_GE(fd_, 0) << path;
        termios tio{};
        tcgetattr(fd_, &tio);
        cfmakeraw(&tio);
        tio.c_cflag |= CSTOPB;
        tcsetattr(fd_, TCSANOW, &tio);
    }
    ~Port() { close(fd_); }
    void write(const Bytes& bytes) {
        EXPECT_EQ(::write(fd_, bytes.data(), bytes.size()), ssize_t(bytes.size()));
    }
    Bytes read(std::size_t count, int timeoutMs = 2000) {
        Bytes out;
        const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
        while (out.size() < count) {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
            pollfd p{fd_, POLLIN, 0};
            if (left.count() <= 0 || poll(&p, 1, int(left.count())) <= 0)
                break;
            std::uint8_t buf[1024];
            const ssize_t n = ::read(fd_, buf, std::min(sizeof buf, count - out.size()));
            if (n <= 0)
                break;
            out.insert(out.end(), buf, buf + n);
        }
        return out;
    }

private:
    int fd_ = -1;
};

bool select(Port& port, const std::string& name) {
    port.write({0xC2});
    if (port.read(1) != Bytes{0x06})
        return false;
    Bytes bytes(name.begin(), name.end());
    bytes.insert(bytes.end(), {'J', 'P', 'G', ' '});
    port.write(bytes);
    return port.read(1) == Bytes{0x06};
}

class CamsimTest : public ::testing::Test {
protected:
    void SetUp() override { makeCard(dir.path() + "/card", 60, 4); }
    TempDir dir;
};

} // namespace

TEST_F(CamsimTest, ServesProbeCatalogueBlocksAndDeleteOnThePty) {
    Camsim camsim(dir.path() + "/card", {"--link", dir.path() + "/COM1"}, dir.path());
    ASSERT_FALSE(camsim.path().empty());
    ASSERT_EQ(std::filesystem::read_symlink(dir.path() + "/COM1").string(), camsim.path());
    {
        Port port(dir.path() + "/COM1");
        port.write({0xB1});
        EXPECT_EQ(port.read(1), Bytes{0xD1});

        std::size_t pictures = 0;
        for (int group = 0; group < 3; ++group) {
            port.write({0xC1});
            const Bytes head = port.read(3);
            ASSERT_EQ(head.size(), 3u);
            EXPECT_EQ(head[1], 0xF2);
            const Bytes entries = port.read(head[2] * 20u);
            EXPECT_EQ(entries.size(), head[2] * 20u);
            pictures += head[2];
            EXPECT_EQ(port.read(1), Bytes{std::uint8_t(group < 2 ? 0xF3 : 0xF4)});
        }
        EXPECT_EQ(pictures, 60u);

        ASSERT_TRUE(select(port, "T0000004"));
        Bytes file;
        for (int block = 0; block < 56; ++block) {
            port.write({0xC4});
            const Bytes reply = port.read(515);
            ASSERT_EQ(reply.size(), 515u) << block;
            EXPECT_EQ(reply[1], 0xF2);
            EXPECT_EQ(reply[514], 0xF4);
            file.insert(file.end(), reply.begin() + 2, reply.begin() + 514);
        }
        EXPECT_EQ(file, readFile(dir.path() + "/card/T0000004.JPG"));

        ASSERT_TRUE(select(port, "S0000004"));
        port.write({0xC3});
        EXPECT_EQ(port.read(2), (Bytes{0x06, 0xF2}));
        EXPECT_FALSE(fileExists(dir.path() + "/card/S0000004.JPG"));
        EXPECT_FALSE(fileExists(dir.path() + "/card/T0000004.JPG"));
    }
    {
        Port again(dir.path() + "/COM1"); // a program that opens the port anew
        again.write({0xB1});
        EXPECT_EQ(again.read(1), Bytes{0xD1});
    }
    camsim.say("stop\n");
    EXPECT_EQ(camsim.wait(), 0);
    EXPECT_FALSE(fileExists(dir.path() + "/COM1")); // the link goes with it
}

TEST_F(CamsimTest, FaultOptionsReachTheWireAndSigtermStopsCleanly) {
    const std::string transcript = dir.path() + "/transcript.txt";
    Camsim camsim(dir.path() + "/card",
                  {"--probe-reply=0x42", "--bad-trailer=0", "--fault", "group-count=26@1",
                   "--transcript", transcript},
                  dir.path());
    ASSERT_FALSE(camsim.path().empty());
    {
        Port port(camsim.path());
        port.write({0xB1});
        EXPECT_EQ(port.read(1), Bytes{0x42});
        port.write({0xC1});
        const Bytes group = port.read(3 + 26 * 20 + 1);
        ASSERT_EQ(group.size(), 3u + 26 * 20 + 1);
        EXPECT_EQ(group[2], 26);
        ASSERT_TRUE(select(port, "T0000001"));
        port.write({0xC4});
        EXPECT_EQ(port.read(515).back(), 0x15);
        port.write({0xC5});
        EXPECT_EQ(port.read(515).back(), 0xF4);
        // Faults can be changed while it runs.
        camsim.say("unplug\n");
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        port.write({0xB1});
        EXPECT_TRUE(port.read(1, 300).empty());
        camsim.say("plug\n");
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        port.write({0xB1});
        EXPECT_EQ(port.read(1), Bytes{0x42});
    }
    camsim.signal(SIGTERM);
    EXPECT_EQ(camsim.wait(), 0);
    const Bytes text = readFile(transcript);
    const std::string dump(text.begin(), text.end());
    EXPECT_NE(dump.find("command C5"), std::string::npos);
    EXPECT_NE(dump.find(" 15\n"), std::string::npos);
}

TEST_F(CamsimTest, PacedLineServesAThumbnailAt115200Baud) {
    Camsim camsim(dir.path() + "/card", {"--paced"}, dir.path());
    ASSERT_FALSE(camsim.path().empty());
    Port port(camsim.path());
    ASSERT_TRUE(select(port, "T0000001"));
    const auto start = Clock::now();
    for (int block = 0; block < 56; ++block) {
        port.write({0xC4});
        ASSERT_EQ(port.read(515).size(), 515u);
    }
    const auto ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
    // 56 x 515 bytes x 11 bits at 115200 baud = 2754 ms of line time at the least.
    EXPECT_GE(ms, 2754);
    EXPECT_LT(ms, 30000); // only a hang fails here: the machine may be busy
    RecordProperty("thumbnail_ms", int(ms));
    std::printf("paced thumbnail over the pty: %lld ms\n", static_cast<long long>(ms));
}

TEST(CamsimCommandLine, HelpNamesEveryFaultAndBadOptionsFail) {
    FILE* help = popen(CAMSIM_PATH " --help", "r");
    ASSERT_NE(help, nullptr);
    std::string text;
    char buf[512];
    while (std::size_t n = fread(buf, 1, sizeof buf, help))
        text.append(buf, n);
    EXPECT_EQ(pclose(help), 0);
    EXPECT_NE(text.find("--link PATH"), std::string::npos);
    const std::string faults = sim::faultHelp();
    EXPECT_NE(text.find(faults), std::string::npos);
    EXPECT_NE(std::system(CAMSIM_PATH " --card /nonexistent >/dev/null 2>&1"), 0);
    EXPECT_NE(std::system(CAMSIM_PATH " --card . --bad-trailer=x >/dev/null 2>&1"), 0);
    EXPECT_NE(std::system(CAMSIM_PATH " >/dev/null 2>&1"), 0);
}
