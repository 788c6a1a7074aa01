// `vireo --sim kb2203 xvc` run as a process: it serves a client, prints every status line with a
// time stamp, and Ctrl-C ends it with "XVC Server terminated" and exit status 0.
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>

#include <cctype>

#include "xvc_test_support.h"

namespace vireo::test {
namespace {

// The child's standard output, read as it comes with a bound on every wait.
class Child {
  public:
    explicit Child(std::vector<std::string> args) {
        int fds[2];
        if (::pipe(fds) != 0) return;
        pid_ = ::fork();
        if (pid_ == 0) {
            ::dup2(fds[1], STDOUT_FILENO);
            ::close(fds[0]);
            ::close(fds[1]);
            std::vector<char*> argv;
            for (auto& a : args) argv.push_back(a.data());
            argv.push_back(nullptr);
            ::execv(argv[0], argv.data());
            ::_exit(127);
        }
        ::close(fds[1]);
        out_ = fds[0];
    }
    ~Child() {
        if (pid_ > 0 && !reaped_) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
        if (out_ >= 0) ::close(out_);
    }
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    // Reads until a whole line of output, after its time stamp, starts with `text`, or 10 s
    // pass; the rest of that line, or nothing.
    std::optional<std::string> wait_for_line(const std::string& text) {
        const auto end = std::chrono::steady_clock::now() + 10s;
        while (std::chrono::steady_clock::now() < end) {
            if (auto rest = find_line(text)) return rest;
            pollfd p{out_, POLLIN, 0};
            if (::poll(&p, 1, 100) <= 0) continue;
            char chunk[1024];
            const ssize_t n = ::read(out_, chunk, sizeof chunk);
            if (n <= 0) break;
            output_.append(chunk, static_cast<size_t>(n));
        }
        return std::nullopt;
    }
    void interrupt() { ::kill(pid_, SIGINT); }
    // The exit status within 10 s, or -1 (then the child is killed).
    int exit_status() {
        for (int i = 0; i < 100; ++i) {
            int status = 0;
            if (::waitpid(pid_, &status, WNOHANG) == pid_) {
                reaped_ = true;
                return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
            }
            std::this_thread::sleep_for(100ms);
        }
        return -1;
    }
    const std::string& output() const { return output_; }

  private:
    // "2026/12/08 00:13:32  " before the text.
    static bool stamped(const std::string& line) {
        const std::string shape = "dddd/dd/dd dd:dd:dd  ";
        if (line.size() < shape.size()) return false;
        for (size_t i = 0; i < shape.size(); ++i) {
            const bool digit = std::isdigit(static_cast<unsigned char>(line[i]));
            if (shape[i] == 'd' ? !digit : line[i] != shape[i]) return false;
        }
        return true;
    }
    std::optional<std::string> find_line(const std::string& text) const {
        const size_t stamp = 21;
        for (size_t at = 0, eol; (eol = output_.find('\n', at)) != std::string::npos;
             at = eol + 1) {
            const std::string line = output_.substr(at, eol - at);
            if (stamped(line) && line.compare(stamp, text.size(), text) == 0)
                return line.substr(stamp + text.size());
        }
        return std::nullopt;
    }

    pid_t pid_ = -1;
    int out_ = -1;
    bool reaped_ = false;
    std::string output_;
};

TEST(XvcCommandLine, ServesUntilCtrlCWithTimeStampedStatusLines) {
    Child vireo({std::string(VIREO_BIN_DIR) + "/vireo", "--sim", "kb2203", "xvc", "--listen",
                 "127.0.0.1", "--port", "0"});
    const auto port = vireo.wait_for_line("Listening port ");
    ASSERT_TRUE(port) << vireo.output();
    Client c(static_cast<uint16_t>(std::stoi(*port)));
    ASSERT_TRUE(c.connected());
    ASSERT_TRUE(c.send(idcode_walk(1).command()));
    ASSERT_TRUE(c.receive(idcode_walk(1).reply_bytes()));
    c.close();
    EXPECT_EQ(vireo.wait_for_line("Connected from "), "127.0.0.1") << vireo.output();
    EXPECT_EQ(vireo.wait_for_line("connection closed"), "") << vireo.output();
    vireo.interrupt();
    EXPECT_EQ(vireo.wait_for_line("XVC Server terminated"), "") << vireo.output();
    EXPECT_EQ(vireo.exit_status(), 0);
}

TEST(XvcCommandLine, AddressInUseIsAFailureAndBadValuesAreUsageErrors) {
    const std::string vireo_path = std::string(VIREO_BIN_DIR) + "/vireo";
    EXPECT_EQ(Child({vireo_path, "--sim", "kb2203", "xvc", "--listen", "localhost"}).exit_status(),
              2);
    EXPECT_EQ(Child({vireo_path, "--sim", "kb2203", "xvc", "--port", "65536"}).exit_status(), 2);
    EXPECT_EQ(Child({vireo_path, "--sim", "kb2203", "xvc", "--allow", "10.0.0.0/33"}).exit_status(),
              2);
    TestServer s;
    ASSERT_TRUE(s.server->start());
    Child vireo({std::string(VIREO_BIN_DIR) + "/vireo", "--sim", "kb2203", "xvc", "--listen",
                 "127.0.0.1", "--port", std::to_string(s.port())});
    EXPECT_EQ(vireo.exit_status(), 1);
}

}  // namespace
}  // namespace vireo::test
