// One of the programs run as a process of its own: its standard output and
// standard error collected, signals sent to it while it runs, its exit
// status (128 + N when signal N ended it, as a shell reports it).
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <optional>
#include <regex>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace qvx::test {

struct Ran {
    int status = -1; // exit status
    std::string out, err;

    // The log lines of standard error without their time of day; a line
    // that does not start with one is kept whole.
    std::vector<std::string> Log() const
    {
        static const std::regex time("^[0-2][0-9]:[0-5][0-9]:[0-5][0-9] ");
        std::vector<std::string> lines;
        std::istringstream in(err);
        for (std::string line; std::getline(in, line);)
            lines.push_back(std::regex_search(line, time) ? line.substr(9) : line);
        return lines;
    }
    bool Logged(const std::string& text) const
    {
        const std::vector<std::string> lines = Log();
        return std::find(lines.begin(), lines.end(), text) != lines.end();
    }
};

struct ChildSetup {
    std::string program;
    std::vector<std::string> args;
    std::filesystem::path dir; // working directory; XDG_CONFIG_HOME is dir/config
    // QVX_PORT for the child; taken away when not given.
    std::optional<std::string> qvxPort = std::nullopt;
    // Standard error a terminal (a pseudo-terminal) instead of a pipe.
    bool terminal = false;
    // More NAME=VALUE entries, replacing the inherited ones of that name.
    std::vector<std::string> env = {};
    // Standard input: these bytes through a pipe (at most a pipe's 64 KB),
    // when given; else the test's own.
    std::optional<std::string> input = std::nullopt;
};

// The sanitizers' own handlers for faults stay out of the way in a child
// that is to die by a fault signal, as it would without them.
inline std::string PlainFaultSignals()
{
    const char* asan = std::getenv("ASAN_OPTIONS");
    return std::string("ASAN_OPTIONS=") + (asan && *asan ? std::string(asan) + ":" : "") +
           "handle_segv=0:handle_sigbus=0:handle_sigfpe=0:handle_sigill=0:handle_abort=0";
}

class Child {
public:
    explicit Child(const ChildSetup& setup)
    {
        auto named = [](const std::string& entry) { return entry.substr(0, entry.find('=') + 1); };
        std::vector<std::string> env;
        for (char** e = environ; *e; ++e) {
            const std::string entry = *e;
            const std::string name = named(entry);
            const bool replaced = std::any_of(setup.env.begin(), setup.env.end(),
                                              [&](const std::string& mine) { return named(mine) == name; });
            if (name != "QVX_PORT=" && name != "XDG_CONFIG_HOME=" && !replaced)
                env.push_back(entry);
        }
        env.push_back("XDG_CONFIG_HOME=" + (setup.dir / "config").string());
        if (setup.qvxPort)
            env.push_back("QVX_PORT=" + *setup.qvxPort);
        env.insert(env.end(), setup.env.begin(), setup.env.end());
        std::vector<char*> envp, argv;
        for (std::string& e : env)
            envp.push_back(e.data());
        envp.push_back(nullptr);
        std::string program = setup.program;
        std::vector<std::string> all = setup.args;
        argv.push_back(program.data());
        for (std::string& a : all)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        const std::string where = setup.dir.string();

        int out[2], err[2] = {-1, -1}, in[2] = {-1, -1};
        std::string terminalName;
        EXPECT_EQ(::pipe2(out, O_CLOEXEC), 0);
        if (setup.input) {
            EXPECT_EQ(::pipe2(in, O_CLOEXEC), 0);
            EXPECT_EQ(::write(in[1], setup.input->data(), setup.input->size()), ssize_t(setup.input->size()));
            ::close(in[1]);
        }
        if (setup.terminal) {
            err[0] = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
            EXPECT_GE(err[0], 0);
            EXPECT_EQ(::grantpt(err[0]), 0);
            EXPECT_EQ(::unlockpt(err[0]), 0);
            terminalName = ::ptsname(err[0]);
        } else {
            EXPECT_EQ(::pipe2(err, O_CLOEXEC), 0);
        }

        pid_ = ::fork();
        if (pid_ == 0) {
            // The signals as a shell would start the program: handled by
            // default and not blocked, whatever this test process does.
            sigset_t none;
            sigemptyset(&none);
            ::sigprocmask(SIG_SETMASK, &none, nullptr);
            for (int signo : {SIGINT, SIGTERM, SIGHUP, SIGPIPE})
                ::signal(signo, SIG_DFL);
            if (setup.terminal)
                err[1] = ::open(terminalName.c_str(), O_RDWR | O_NOCTTY);
            if (::chdir(where.c_str()) != 0 || ::dup2(out[1], 1) < 0 || ::dup2(err[1], 2) < 0 ||
                (in[0] >= 0 && ::dup2(in[0], 0) < 0))
                ::_exit(126);
            ::execve(program.c_str(), argv.data(), envp.data());
            ::_exit(127);
        }
        ::close(out[1]);
        if (in[0] >= 0)
            ::close(in[0]);
        if (!setup.terminal)
            ::close(err[1]);
        sources_ = {{out[0], &ran_.out}, {err[0], &ran_.err}};
    }
    ~Child()
    {
        if (pid_ > 0 && !waited_) {
            ::kill(pid_, SIGKILL);
            Finish();
        }
    }
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    // Reads the child's output until standard error holds `text` (true), or
    // the child ends or `timeout` passes (false).
    bool WaitFor(const std::string& text, std::chrono::milliseconds timeout = std::chrono::seconds(30))
    {
        const auto until = std::chrono::steady_clock::now() + timeout;
        while (ran_.err.find(text) == std::string::npos) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                until - std::chrono::steady_clock::now());
            if (left.count() <= 0 || sources_.empty())
                return false;
            ReadOnce(int(left.count()));
        }
        return true;
    }

    void Signal(int signo) { EXPECT_EQ(::kill(pid_, signo), 0); }

    // Stops reading standard error and closes this end, as a reader that
    // has gone away: the child's next write there fails (EPIPE).
    void CloseStandardError()
    {
        for (auto it = sources_.begin(); it != sources_.end(); ++it)
            if (it->second == &ran_.err) {
                ::close(it->first);
                sources_.erase(it);
                return;
            }
    }

    // Reads everything until the child closes its ends, then reaps it.
    const Ran& Finish()
    {
        while (!sources_.empty())
            if (!ReadOnce(60000))
                break; // a hang: the exit status will say
        if (!waited_) {
            int status = 0;
            ::waitpid(pid_, &status, 0);
            ran_.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            waited_ = true;
            for (const auto& source : sources_)
                ::close(source.first);
            sources_.clear();
        }
        return ran_;
    }

    const Ran& Output() const { return ran_; }

private:
    // One poll and the reads it allows; false when nothing came in time.
    bool ReadOnce(int timeoutMs)
    {
        std::vector<pollfd> fds;
        for (const auto& source : sources_)
            fds.push_back({source.first, POLLIN, 0});
        if (::poll(fds.data(), fds.size(), timeoutMs) <= 0)
            return false;
        for (size_t i = fds.size(); i-- > 0;) {
            if (!fds[i].revents)
                continue;
            char chunk[4096];
            const ssize_t n = ::read(fds[i].fd, chunk, sizeof chunk);
            if (n > 0) {
                sources_[i].second->append(chunk, size_t(n));
            } else if (n == 0 || errno != EINTR) { // a terminal ends with EIO
                ::close(fds[i].fd);
                sources_.erase(sources_.begin() + long(i));
            }
        }
        return true;
    }

    pid_t pid_ = -1;
    bool waited_ = false;
    Ran ran_;
    std::vector<std::pair<int, std::string*>> sources_;
};

// Runs a program to its end.
inline Ran RunChild(const ChildSetup& setup)
{
    Child child(setup);
    return child.Finish();
}

} // namespace qvx::test
