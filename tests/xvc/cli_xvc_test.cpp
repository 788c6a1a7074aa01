// `vireo --sim kb2203 xvc` run as a process: it serves a client, prints every status line with a
// time stamp, and Ctrl-C ends it with "XVC Server terminated" and exit status 0.
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>

#include <regex>

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

    // Reads until the output matches `pattern` or 10 s pass; the match, or nothing.
    std::optional<std::smatch> wait_for(const std::regex& pattern) {
        const auto end = std::chrono::steady_clock::now() + 10s;
        while (std::chrono::steady_clock::now() < end) {
            std::smatch m;
            if (std::regex_search(output_, m, pattern)) return m;
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
    pid_t pid_ = -1;
    int out_ = -1;
    bool reaped_ = false;
    std::string output_;
};

TEST(XvcCommandLine, ServesUntilCtrlCWithTimeStampedStatusLines) {
    Child vireo({std::string(VIREO_BIN_DIR) + "/vireo", "--sim", "kb2203", "xvc", "--listen",
                 "127.0.0.1", "--port", "0"});
    const auto listening = vireo.wait_for(std::regex(R"(Listening port (\d+)\n)"));
    ASSERT_TRUE(listening) << vireo.output();
    Client c(static_cast<uint16_t>(std::stoi((*listening)[1])));
    ASSERT_TRUE(c.connected());
    ASSERT_TRUE(c.send(idcode_walk(1).command()));
    ASSERT_TRUE(c.receive(idcode_walk(1).reply_bytes()));
    c.close();
    const std::string stamp = R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d  )";
    EXPECT_TRUE(vireo.wait_for(std::regex(stamp + "Connected from 127\\.0\\.0\\.1\n")))
        << vireo.output();
    EXPECT_TRUE(vireo.wait_for(std::regex(stamp + "connection closed\n"))) << vireo.output();
    vireo.interrupt();
    EXPECT_TRUE(vireo.wait_for(std::regex(stamp + "XVC Server terminated\n"))) << vireo.output();
    EXPECT_EQ(vireo.exit_status(), 0);
}

TEST(XvcCommandLine, AddressInUseIsAFailure) {
    TestServer s;
    ASSERT_TRUE(s.server->start());
    Child vireo({std::string(VIREO_BIN_DIR) + "/vireo", "--sim", "kb2203", "xvc", "--listen",
                 "127.0.0.1", "--port", std::to_string(s.port())});
    EXPECT_EQ(vireo.exit_status(), 1);
}

}  // namespace
}  // namespace vireo::test
