// camsim: the simulated LV2700c5 on a pseudo-terminal, for the serial link by hand or in
// tests. It serves one card folder (deleting removes its files), answers at the times
// the camera engine decides, and runs until SIGTERM, SIGINT or "stop" on its input.
#include "platform/clock.h"
#include "sim/camera.h"
#include "sim/card.h"
#include "sim/faults.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <termios.h>
#include <unistd.h>
#include <vector>

namespace {

const char kUsage[] =
    "usage: camsim --card DIR [options] [faults]\n"
    "\n"
    "Serves the camera card in DIR on a new pseudo-terminal, speaking the camera's side\n"
    "of the serial protocol (115200 baud 8N2 when paced). Prints the terminal's path,\n"
    "runs until SIGTERM, SIGINT or a \"stop\" line on its input, and exits with 0.\n"
    "Deleting a picture removes its files from DIR: serve a copy.\n"
    "\n"
    "options:\n"
    "  --card DIR           the card folder (see sim/card.h for its layout)\n"
    "  --link PATH          make PATH a symbolic link to the terminal (replaced if there,\n"
    "                       removed at exit); map COM1 to it with\n"
    "                       WINE_RUN_PORTS=\"COM1=PATH\" or HKLM\\Software\\Wine\\Ports\n"
    "  --path-file FILE     write the terminal's path to FILE once ready\n"
    "  --transcript FILE    write every byte exchanged to FILE at exit\n"
    "  --fault LIST         faults separated by commas, as below\n"
    "  --help               this text\n"
    "\n"
    "Lines read on the standard input while running:\n"
    "  stop                 exit cleanly\n"
    "  unplug / plug        the camera goes silent / answers again\n"
    "  fault SPEC           add a fault, as below\n"
    "  clear                remove every fault\n"
    "\n"
    "Faults, each also an option of its own (--no-card, --bad-trailer=10x2, --paced):\n";

volatile std::sig_atomic_t gStop = 0;
int gWakePipe[2] = {-1, -1};

void onSignal(int) {
    gStop = 1;
    const char byte = 0;
    [[maybe_unused]] const ssize_t n = write(gWakePipe[1], &byte, 1);
}

int usage(const std::string& error) {
    std::fprintf(stderr, "camsim: %s\n(camsim --help lists the options)\n", error.c_str());
    return 2;
}

bool writeTextFile(const std::string& path, const std::string& text) {
    const std::string temp = path + ".tmp";
    FILE* f = std::fopen(temp.c_str(), "w");
    if (!f)
        return false;
    const bool ok = std::fwrite(text.data(), 1, text.size(), f) == text.size();
    if (std::fclose(f) != 0 || !ok)
        return false;
    return std::rename(temp.c_str(), path.c_str()) == 0;
}

struct Options {
    std::string card, link, pathFile, transcript;
    sim::Faults faults;
};

// Opens the master end, keeps one handle on the slave end (so the terminal stays up while
// no client has it open) and sets it raw.
bool openTerminal(int& master, int& slave, std::string& path) {
    master = posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0)
        return false;
    const char* name = ptsname(master);
    if (!name)
        return false;
    path = name;
    slave = open(name, O_RDWR | O_NOCTTY);
    if (slave < 0)
        return false;
    termios tio{};
    if (tcgetattr(slave, &tio) != 0)
        return false;
    cfmakeraw(&tio);
    cfsetispeed(&tio, B115200);
    cfsetospeed(&tio, B115200);
    tio.c_cflag |= CSTOPB | CLOCAL | CREAD;
    if (tcsetattr(slave, TCSANOW, &tio) != 0)
        return false;
    const int flags = fcntl(master, F_GETFL);
    return flags >= 0 && fcntl(master, F_SETFL, flags | O_NONBLOCK) == 0;
}

// One command line from the standard input; false when it says stop.
bool onInputLine(const std::string& line, sim::Camera& camera) {
    std::string error;
    if (line == "stop" || line == "quit")
        return false;
    if (line == "unplug") {
        camera.faults().unplugged = true;
    } else if (line == "plug") {
        camera.faults().unplugged = false;
    } else if (line == "clear") {
        camera.faults() = sim::Faults();
    } else if (line.rfind("fault ", 0) == 0) {
        if (!sim::applyFaults(line.substr(6), camera.faults(), &error))
            std::fprintf(stderr, "camsim: %s\n", error.c_str());
    } else if (!line.empty()) {
        std::fprintf(stderr, "camsim: unknown command '%s'\n", line.c_str());
    }
    return true;
}

int serve(const Options& options, sim::Card& card) {
    int master = -1, slave = -1;
    std::string path;
    if (!openTerminal(master, slave, path)) {
        std::fprintf(stderr, "camsim: cannot open a pseudo-terminal: %s\n", std::strerror(errno));
        return 1;
    }
    if (!options.link.empty()) {
        unlink(options.link.c_str());
        if (symlink(path.c_str(), options.link.c_str()) != 0) {
            std::fprintf(stderr, "camsim: cannot link %s: %s\n", options.link.c_str(),
                         std::strerror(errno));
            return 1;
        }
    }
    if (!options.pathFile.empty() && !writeTextFile(options.pathFile, path + "\n")) {
        std::fprintf(stderr, "camsim: cannot write %s\n", options.pathFile.c_str());
        return 1;
    }
    std::printf("camsim: serving %s (%zu pictures) on %s%s%s\n", options.card.c_str(),
                card.pictures().size(), path.c_str(), options.link.empty() ? "" : " as ",
                options.link.c_str());
    std::fflush(stdout);

    platform::Clock& clock = platform::systemClock();
    sim::Camera camera(card, options.faults);
    camera.setClock(clock);
    std::vector<std::uint8_t> pending; // due bytes the terminal did not take yet
    std::string inputLine;
    bool inputOpen = true;
    bool running = true;
    std::uint8_t buffer[4096];
    while (running && !gStop) {
        int timeout = -1;
        std::uint32_t next = 0;
        if (!pending.empty())
            timeout = 5;
        else if (camera.nextSerialAt(&next))
            timeout = int(std::max<std::int32_t>(0, std::int32_t(next - clock.nowMs())));
        pollfd fds[3] = {{master, POLLIN, 0}, {gWakePipe[0], POLLIN, 0}, {0, POLLIN, 0}};
        const int n = poll(fds, inputOpen ? 3 : 2, timeout);
        if (n < 0 && errno != EINTR) {
            std::perror("camsim: poll");
            break;
        }
        if (n > 0 && (fds[0].revents & POLLIN)) {
            const ssize_t got = read(master, buffer, sizeof buffer);
            if (got > 0)
                camera.serialFromHost(buffer, std::size_t(got), clock.nowMs());
        }
        if (n > 0 && inputOpen && (fds[2].revents & (POLLIN | POLLHUP))) {
            char text[256];
            const ssize_t got = read(0, text, sizeof text);
            if (got <= 0)
                inputOpen = false; // no more commands; keep serving
            for (ssize_t i = 0; i < got && running; ++i) {
                if (text[i] == '\n') {
                    running = onInputLine(inputLine, camera);
                    inputLine.clear();
                } else if (text[i] != '\r') {
                    inputLine += text[i];
                }
            }
        }
        std::uint32_t last = 0;
        for (;;) {
            const std::size_t due =
                camera.serialToHost(buffer, sizeof buffer, clock.nowMs(), &last);
            pending.insert(pending.end(), buffer, buffer + due);
            if (due < sizeof buffer)
                break;
        }
        while (!pending.empty()) {
            const ssize_t put = write(master, pending.data(), pending.size());
            if (put <= 0)
                break; // the terminal is full: try again shortly
            pending.erase(pending.begin(), pending.begin() + put);
        }
    }
    if (!options.transcript.empty() &&
        !writeTextFile(options.transcript, camera.transcript().dump()))
        std::fprintf(stderr, "camsim: cannot write %s\n", options.transcript.c_str());
    if (!options.link.empty()) {
        char target[4096];
        const ssize_t len = readlink(options.link.c_str(), target, sizeof target - 1);
        if (len > 0 && path.compare(0, std::string::npos, target, std::size_t(len)) == 0)
            unlink(options.link.c_str());
    }
    close(slave);
    close(master);
    std::printf("camsim: stopped\n");
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    Options options;
    std::string error;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        auto value = [&](std::string& out) {
            if (i + 1 >= argc)
                return false;
            out = argv[++i];
            return true;
        };
        if (arg == "--help" || arg == "-h") {
            std::fputs(kUsage, stdout);
            std::fputs(sim::faultHelp().c_str(), stdout);
            return 0;
        } else if (arg == "--card") {
            if (!value(options.card))
                return usage("--card needs a folder");
        } else if (arg == "--link") {
            if (!value(options.link))
                return usage("--link needs a path");
        } else if (arg == "--path-file") {
            if (!value(options.pathFile))
                return usage("--path-file needs a path");
        } else if (arg == "--transcript") {
            if (!value(options.transcript))
                return usage("--transcript needs a path");
        } else if (arg == "--fault") {
            std::string list;
            if (!value(list) || !sim::applyFaults(list, options.faults, &error))
                return usage(error.empty() ? "--fault needs a list" : error);
        } else if (arg.rfind("--", 0) == 0) {
            if (!sim::applyFault(arg.substr(2), options.faults, &error))
                return usage(error);
        } else {
            return usage("unexpected argument " + arg);
        }
    }
    if (options.card.empty())
        return usage("--card DIR is required");
    auto card = sim::Card::open(options.card, &error);
    if (!card) {
        std::fprintf(stderr, "camsim: %s\n", error.c_str());
        return 1;
    }
    if (pipe(gWakePipe) != 0) {
        std::perror("camsim: pipe");
        return 1;
    }
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
    // Started in the background of a terminal, reading commands fails instead of stopping us.
    std::signal(SIGTTIN, SIG_IGN);
    return serve(options, *card);
}
