// Runs a program with its standard streams on pipes, so that a test can type at it and read it.
// Usage: #include "support/child_process.h", linking the library child_process (tests/support/runners.cmake)
// A test sees what the program prints, and whether and how it ends.
#pragma once

#include <chrono>
#include <string>
#include <string_view>
#include <vector>

#include <sys/types.h>

using namespace std::chrono_literals;

class ChildProcess {
public:
    // `environment` entries ("NAME=value") are added to this process's own.
    ChildProcess(const std::vector<std::string> &arguments,
                 const std::vector<std::string> &environment = {});
    ~ChildProcess();
    ChildProcess(const ChildProcess &) = delete;
    ChildProcess &operator=(const ChildProcess &) = delete;

    void type(std::string_view text);
    void end_input();
    // Stops reading standard output, so that the child's writes fail (EPIPE).
    void close_output();

    // Collects standard output until it contains `text`; false on timeout or exit.
    bool wait_for_output(std::string_view text, std::chrono::milliseconds timeout);
    // Collects output until the child ends; false if it is still running at the timeout.
    bool wait_for_exit(std::chrono::milliseconds timeout);

    const std::string &output() const { return output_; }
    const std::string &errors() const { return errors_; }
    // The exit status, or 128 + signal number when a signal ended the child.
    int status() const { return status_; }

private:
    void collect(std::chrono::milliseconds timeout);

    pid_t pid_ = -1;
    int input_ = -1, output_pipe_ = -1, error_pipe_ = -1;
    bool exited_ = false;
    int status_ = -1;
    std::string output_, errors_;
};

struct Finished {
    std::string output, errors;
    int status;
    bool timed_out;
};

std::string file_contents(const std::string &path);

// A folder of this process's own, made on first use and removed with its files
// when the process ends, so that runs at the same time never share a file.
const std::string &private_temp_dir();

// Types `input` (then ends the input if `close_input`) and waits for the child to end.
Finished run_to_end(const std::vector<std::string> &arguments, std::string_view input,
                    bool close_input, const std::vector<std::string> &environment = {});
