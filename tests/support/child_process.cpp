// Runs a program with its standard streams on pipes, for the tests: see child_process.h.
// Usage: built as the library child_process (tests/support/runners.cmake), which each test links

#include "child_process.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

void make_pipe(int ends[2])
{
    if (pipe2(ends, O_CLOEXEC) != 0)
        throw std::runtime_error("pipe failed");
}

} // namespace

ChildProcess::ChildProcess(const std::vector<std::string> &arguments,
                           const std::vector<std::string> &environment)
{
    std::signal(SIGPIPE, SIG_IGN);
    int in[2], out[2], err[2];
    make_pipe(in);
    make_pipe(out);
    make_pipe(err);
    pid_ = fork();
    if (pid_ < 0)
        throw std::runtime_error("fork failed");
    if (pid_ == 0) {
        std::signal(SIGPIPE, SIG_DFL);
        dup2(in[0], STDIN_FILENO);
        dup2(out[1], STDOUT_FILENO);
        dup2(err[1], STDERR_FILENO);
        for (const auto &entry : environment)
            putenv(const_cast<char *>(entry.c_str()));
        std::vector<char *> argv;
        for (const auto &argument : arguments)
            argv.push_back(const_cast<char *>(argument.c_str()));
        argv.push_back(nullptr);
        execvp(argv[0], argv.data());
        _exit(127);
    }
    close(in[0]);
    close(out[1]);
    close(err[1]);
    input_ = in[1];
    output_pipe_ = out[0];
    error_pipe_ = err[0];
}

ChildProcess::~ChildProcess()
{
    if (!exited_) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
    for (int fd : {input_, output_pipe_, error_pipe_})
        if (fd >= 0)
            close(fd);
}

void ChildProcess::type(std::string_view text)
{
    while (!text.empty()) {
        ssize_t written = write(input_, text.data(), text.size());
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            throw std::runtime_error("cannot write to the child's input");
        text.remove_prefix(static_cast<size_t>(written));
    }
}

void ChildProcess::end_input()
{
    if (input_ >= 0)
        close(input_);
    input_ = -1;
}

void ChildProcess::close_output()
{
    if (output_pipe_ >= 0)
        close(output_pipe_);
    output_pipe_ = -1;
}

void ChildProcess::collect(std::chrono::milliseconds timeout)
{
    pollfd fds[] = {{output_pipe_, POLLIN, 0}, {error_pipe_, POLLIN, 0}};
    if (output_pipe_ < 0 && error_pipe_ < 0)
        return;
    if (poll(fds, 2, static_cast<int>(timeout.count())) <= 0)
        return;
    char buffer[4096];
    for (auto &fd : fds) {
        if (fd.fd < 0 || fd.revents == 0)
            continue;
        ssize_t got = read(fd.fd, buffer, sizeof buffer);
        std::string &into = fd.fd == output_pipe_ ? output_ : errors_;
        if (got > 0) {
            into.append(buffer, static_cast<size_t>(got));
        } else {
            close(fd.fd);
            (fd.fd == output_pipe_ ? output_pipe_ : error_pipe_) = -1;
        }
    }
}

bool ChildProcess::wait_for_output(std::string_view text, std::chrono::milliseconds timeout)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (output_.find(text) == std::string::npos) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left <= 0ms || output_pipe_ < 0)
            return false;
        collect(left);
    }
    return true;
}

bool ChildProcess::wait_for_exit(std::chrono::milliseconds timeout)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (output_pipe_ >= 0 || error_pipe_ >= 0) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left <= 0ms)
            return false;
        collect(left);
    }
    int raw = 0;
    while (waitpid(pid_, &raw, 0) < 0 && errno == EINTR) {
    }
    exited_ = true;
    status_ = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
    return true;
}

std::string file_contents(const std::string &path)
{
    std::stringstream contents;
    contents << std::ifstream(path).rdbuf();
    return contents.str();
}

const std::string &private_temp_dir()
{
    static const struct Folder {
        std::string path;
        Folder()
        {
            std::string pattern = std::filesystem::temp_directory_path() / "usbprobe-test-XXXXXX";
            if (!mkdtemp(pattern.data()))
                throw std::runtime_error("cannot make a temporary folder");
            path = pattern;
        }
        ~Folder() { std::filesystem::remove_all(path); }
    } folder;
    return folder.path;
}

Finished run_to_end(const std::vector<std::string> &arguments, std::string_view input,
                    bool close_input, const std::vector<std::string> &environment)
{
    ChildProcess child(arguments, environment);
    child.type(input);
    if (close_input)
        child.end_input();
    const bool ended = child.wait_for_exit(20s);
    return {child.output(), child.errors(), child.status(), !ended};
}
