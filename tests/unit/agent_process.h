// Running the agent's programs from a test: a child process with its standard output and error
// captured through pipes, waited for with generous limits that poll for a condition.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <vector>

extern char** environ;

namespace tarvelon {

class ChildProcess {
  public:
    explicit ChildProcess(const std::vector<std::string>& command) {
        int out[2], err[2];
        if (pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0) return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], 1);
        posix_spawn_file_actions_adddup2(&actions, err[1], 2);
        std::vector<char*> argv;
        for (const std::string& argument : command) argv.push_back(const_cast<char*>(argument.c_str()));
        argv.push_back(nullptr);
        if (posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ) != 0) pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
        close(out[1]);
        close(err[1]);
        out_ = out[0];
        err_ = err[0];
    }
    ~ChildProcess() {
        if (pid_ > 0 && !exited_) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        if (out_ >= 0) close(out_);
        if (err_ >= 0) close(err_);
    }
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    bool started() const { return pid_ > 0; }
    void signal(int number) const { kill(pid_, number); }

    // Reads what the child wrote until its standard error holds text, or the limit passes.
    bool waitForError(const std::string& text, int limitMs = 30000) {
        return pump(limitMs, [&] { return err.find(text) != std::string::npos; });
    }

    // Reads everything until the child exits; its exit status, or -1 when it did not exit in time or
    // ended on a signal.
    int wait(int limitMs = 30000) {
        pump(limitMs, [] { return false; });
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
        int status = 0;
        while (!exited_) {
            const pid_t done = waitpid(pid_, &status, WNOHANG);
            if (done == pid_) {
                exited_ = true;
                break;
            }
            if (std::chrono::steady_clock::now() > deadline) return -1;
            usleep(10000);
        }
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    std::string out;
    std::string err;

  private:
    // Moves output into out and err until done() holds, both pipes are closed, or the limit passes.
    template <class Done>
    bool pump(int limitMs, Done done) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
        while (!done()) {
            pollfd fds[2] = {{out_, POLLIN, 0}, {err_, POLLIN, 0}};
            const int left = static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                                  deadline - std::chrono::steady_clock::now())
                                                  .count());
            if (left <= 0) return false;
            if (out_ < 0 && err_ < 0) return false;
            if (poll(fds, 2, left < 100 ? left : 100) < 0) return false;
            drain(fds[0], &out_, &out);
            drain(fds[1], &err_, &err);
        }
        return true;
    }
    static void drain(const pollfd& fd, int* descriptor, std::string* text) {
        if (*descriptor < 0 || (fd.revents & (POLLIN | POLLHUP | POLLERR)) == 0) return;
        char chunk[4096];
        const ssize_t got = read(*descriptor, chunk, sizeof chunk);
        if (got > 0) {
            text->append(chunk, static_cast<size_t>(got));
        } else {
            close(*descriptor);
            *descriptor = -1;
        }
    }

    pid_t pid_ = -1;
    int out_ = -1;
    int err_ = -1;
    bool exited_ = false;
};

}  // namespace tarvelon
