// Runs the built tool as a child process and collects what it did.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace process {

struct outcome {
    std::string out;
    std::string err;
    int status = -1;       // exit status, or -1 when ended by a signal
    int signal = 0;        // the ending signal, if any
    bool timed_out = false;
};

struct options {
    std::string stdout_path;  // when set, standard output goes to this file instead of a pipe
    int timeout_seconds = 20; // a guard against hangs, not a speed check
};

inline outcome run(const std::vector<std::string>& args, const options& opts = {}) {
    int out_pipe[2], err_pipe[2];
    if (pipe(out_pipe) != 0 || pipe(err_pipe) != 0) return {};
    const pid_t pid = fork();
    if (pid == 0) {
        int out_fd = out_pipe[1];
        if (!opts.stdout_path.empty()) out_fd = open(opts.stdout_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        dup2(out_fd, 1);
        dup2(err_pipe[1], 2);
        close(out_pipe[0]);
        close(err_pipe[0]);
        std::vector<char*> argv;
        for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execv(argv[0], argv.data());
        _exit(127);
    }
    close(out_pipe[1]);
    close(err_pipe[1]);

    outcome result;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(opts.timeout_seconds);
    pollfd fds[2] = {{out_pipe[0], POLLIN, 0}, {err_pipe[0], POLLIN, 0}};
    std::string* sinks[2] = {&result.out, &result.err};
    int open_count = 2;
    while (open_count > 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            kill(pid, SIGKILL);
            result.timed_out = true;
            break;
        }
        if (poll(fds, 2, 100) <= 0) continue;
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || fds[i].revents == 0) continue;
            char buffer[65536];
            const ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
            if (n > 0) {
                sinks[i]->append(buffer, static_cast<std::size_t>(n));
            } else {
                close(fds[i].fd);
                fds[i].fd = -1;
                --open_count;
            }
        }
    }
    for (pollfd& p : fds)
        if (p.fd >= 0) close(p.fd);
    int status = 0;
    waitpid(pid, &status, 0);
    if (WIFEXITED(status)) result.status = WEXITSTATUS(status);
    if (WIFSIGNALED(status)) result.signal = WTERMSIG(status);
    return result;
}

// A fresh directory for this test process's scratch files, removed at exit.
struct scratch_directory {
    std::string path;
    scratch_directory() {
        std::string pattern = (std::filesystem::temp_directory_path() / "trapft-test-XXXXXX").string();
        if (mkdtemp(pattern.data()) != nullptr) path = pattern;
    }
    ~scratch_directory() {
        std::error_code ignored;
        if (!path.empty()) std::filesystem::remove_all(path, ignored);
    }
};

// The path of `name` in the scratch directory.
inline std::string scratch(const std::string& name) {
    static const scratch_directory directory;
    return directory.path + "/" + name;
}

// A scratch file holding `text`; returns its path.
inline std::string write_file(const std::string& name, const std::string& text) {
    const std::string path = scratch(name);
    std::ofstream(path, std::ios::binary) << text;
    return path;
}

}  // namespace process
