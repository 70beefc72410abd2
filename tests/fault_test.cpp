// The built tool under hostile surroundings: odd standard outputs, pipes that
// close, FIFOs, files that vanish, and endless sweeps.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <stdlib.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "process.hpp"
#include "reference.hpp"

namespace {

const std::string binary = TRAPFT_BINARY;
const std::string two_samples = process::write_file("fault_two_samples.txt", "0 1\n1 1\n");
const std::string first_two = "0 1 -0 1\n0.5 0 -6.12323399573677e-17 6.12323399573677e-17\n";
const std::string endless = "2147483647";
// Per process, so that test processes run side by side do not share files.
const std::string tag = std::to_string(getpid());

// Guards against hangs only; a healthy run ends in well under a second.
constexpr int guard_seconds = 30;

struct ended {
    int status = -1;  // exit status, or -1 when ended by a signal
    int signal = 0;
    bool timed_out = false;
    long peak_rss_kib = 0;
    long waits = 0;  // voluntary context switches
    std::string err;
};

// How the tool is started besides its arguments.
struct launch {
    bool ignore_sigpipe = false;   // as whoever started it may have left SIGPIPE
    std::string input = "/dev/null";  // standard input
    long address_space = 0;        // a limit on the tool's memory, bytes; 0: none
    long file_size = 0;            // a limit on the files it writes, bytes, as a full disk; 0: none
    int error_fd = -1;             // standard error; -1: a file, read back by finish
};

// Starts the tool with standard output on `out_fd` (closed when negative) and
// standard error into a file. Descriptors of the test itself are opened
// close-on-exec, so that the tool holds no other end of its pipes.
pid_t start(const std::vector<std::string>& args, int out_fd, const launch& how = {}) {
    std::vector<std::string> argv_text{binary};
    argv_text.insert(argv_text.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (const std::string& a : argv_text) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    const std::string err_path = process::scratch("stderr_" + tag);
    // Only async-signal-safe calls after fork: another thread may be running.
    const pid_t pid = fork();
    if (pid != 0) return pid;
    signal(SIGPIPE, how.ignore_sigpipe ? SIG_IGN : SIG_DFL);
    if (how.address_space > 0) {
        const rlimit limit{static_cast<rlim_t>(how.address_space), static_cast<rlim_t>(how.address_space)};
        setrlimit(RLIMIT_AS, &limit);
    }
    if (how.file_size > 0) {
        // Past the limit a write fails with EFBIG, as on a full disk with ENOSPC.
        signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{static_cast<rlim_t>(how.file_size), static_cast<rlim_t>(how.file_size)};
        setrlimit(RLIMIT_FSIZE, &limit);
    }
    const int err_fd = how.error_fd >= 0 ? how.error_fd : open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int in_fd = open(how.input.c_str(), O_RDONLY);
    dup2(in_fd, 0);
    dup2(err_fd, 2);
    if (out_fd >= 0) dup2(out_fd, 1);
    else close(1);
    execv(argv[0], argv.data());
    _exit(127);
}

// The file's contents; the file is removed.
std::string take_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    std::remove(path.c_str());
    return text.str();
}

// Waits for the tool to end, killing it once the guard runs out.
ended finish(pid_t pid) {
    ended e;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(guard_seconds);
    int status = 0;
    rusage usage{};
    while (wait4(pid, &status, WNOHANG, &usage) == 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            e.timed_out = true;
            kill(pid, SIGKILL);
            wait4(pid, &status, 0, &usage);
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    if (WIFEXITED(status)) e.status = WEXITSTATUS(status);
    if (WIFSIGNALED(status)) e.signal = WTERMSIG(status);
    e.peak_rss_kib = usage.ru_maxrss;
    e.waits = usage.ru_nvcsw;
    e.err = take_file(process::scratch("stderr_" + tag));
    return e;
}

std::string read_all(int fd) {
    std::string text;
    char buffer[65536];
    ssize_t n;
    while ((n = read(fd, buffer, sizeof buffer)) > 0) text.append(buffer, static_cast<std::size_t>(n));
    return text;
}

std::string pairs(int n) {
    std::string text;
    for (int k = 0; k < n; ++k) text += std::to_string(k) + " " + std::to_string(k % 7) + "\n";
    return text;
}

enum class output { pipe, file, full_device, closed };

struct outcome {
    ended run;
    std::string out;  // what reached standard output, where it can be seen
};

outcome run_with_output(const std::vector<std::string>& args, output kind, const launch& how = {}) {
    outcome o;
    int fds[2] = {-1, -1};
    int out_fd = -1;
    if (kind == output::pipe) {
        EXPECT_EQ(pipe2(fds, O_CLOEXEC), 0);
        out_fd = fds[1];
    } else if (kind == output::file) {
        out_fd = open(process::scratch("stdout_" + tag).c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    } else if (kind == output::full_device) {
        out_fd = open("/dev/full", O_WRONLY | O_CLOEXEC);
    }
    const pid_t pid = start(args, out_fd, how);
    if (out_fd >= 0) close(out_fd);
    if (kind == output::pipe) {
        o.out = read_all(fds[0]);  // ends when the tool closes its end
        close(fds[0]);
    }
    o.run = finish(pid);
    if (kind == output::file) o.out = take_file(process::scratch("stdout_" + tag));
    return o;
}

struct failure_case {
    const char* name;
    std::vector<std::string> args;
    std::string err;
    int status;
};

// Every refusal: one line on standard error, its documented status, and nothing
// on standard output, whatever standard output is.
TEST(faults, every_error_is_one_line_on_standard_error_and_nothing_else) {
    const std::string bad = process::write_file("fault_bad.txt", "0 1\n1 x\n");
    const std::string odd = process::write_file("fault_odd.txt", "0 1\n1\n");
    const std::string full = process::write_file("fault_full.txt", pairs(16384) + "16384 1\n");
    const failure_case cases[] = {
        {"usage", {two_samples, "0", "1"}, "Usage: trapft [OPTION]... SAMPLE_FILE START_FREQUENCY END_FREQUENCY COUNT\n", 2},
        {"start", {two_samples, "x", "1", "2"}, "Invalid start frequency.\n", 2},
        {"end", {two_samples, "0", "1e", "2"}, "Invalid end frequency.\n", 2},
        {"count", {two_samples, "0", "1", "-2147483649"}, "Invalid frequency count.\n", 2},
        {"missing file", {process::scratch("fault_missing.txt"), "0", "1", endless}, "Error opening file.\n", 1},
        {"directory", {".", "0", "1", endless}, "Error reading file.\n", 1},
        {"not a number", {bad, "0", "1", endless}, "Error reading file: line 2: not a number.\n", 1},
        {"half pair", {odd, "0", "1", endless}, "Error reading file: line 2: time without a value.\n", 1},
        {"one pair too many", {full, "0", "1", endless}, "Error reading file: more than 16384 samples.\n", 1},
    };
    for (output kind : {output::pipe, output::file, output::full_device, output::closed}) {
        for (const failure_case& c : cases) {
            SCOPED_TRACE(testing::Message() << c.name << ", output kind " << static_cast<int>(kind));
            const outcome o = run_with_output(c.args, kind);
            EXPECT_FALSE(o.run.timed_out);
            EXPECT_EQ(o.run.err, c.err);
            EXPECT_EQ(o.run.status, c.status);
            EXPECT_EQ(o.out, "");
        }
    }
}

// Output that cannot be written is a failure, never a success, for every kind
// of output the tool makes; an endless sweep stops at the first failed write.
TEST(faults, unwritable_output_fails_with_status_one) {
    const std::vector<std::string> runs[] = {
        {two_samples, "0", "1", endless}, {two_samples, "0", "1", "1"}, {"--help"}, {"--version"},
        {"--jobs=4", two_samples, "0", "1", endless}, {"-j", "4", two_samples, "0", "1", "3"},
    };
    for (output kind : {output::full_device, output::closed}) {
        for (const std::vector<std::string>& args : runs) {
            SCOPED_TRACE(testing::Message() << args[0] << ", output kind " << static_cast<int>(kind));
            const outcome o = run_with_output(args, kind);
            EXPECT_FALSE(o.run.timed_out);
            EXPECT_EQ(o.run.err, "Error writing output.\n");
            EXPECT_EQ(o.run.status, 1);
        }
    }
}

// The first `lines` lines of the endless sweep over two_samples from 0 to 0.5.
std::string endless_prefix(std::size_t lines) {
    std::string text;
    const double step = 0.5 / 2147483646.0;
    double f = 0.0;
    for (std::size_t j = 0; j < lines; ++j, f = f + step) text += reference::line_at({0, 1}, {1, 1}, f);
    return text;
}

// Reads `lines` lines of an endless sweep's output, closes the pipe, and lets
// the tool run into the closed end. What came through must be the sweep's
// first lines, in order and whole.
ended read_then_close(std::size_t lines, bool ignore_sigpipe, const std::vector<std::string>& options = {}) {
    int fds[2];
    EXPECT_EQ(pipe2(fds, O_CLOEXEC), 0);
    std::vector<std::string> args = options;
    args.insert(args.end(), {two_samples, "0", "0.5", endless});
    const pid_t pid = start(args, fds[1], {.ignore_sigpipe = ignore_sigpipe});
    close(fds[1]);
    std::string first;
    std::size_t seen = 0;
    char buffer[4096];
    while (seen < lines) {
        const ssize_t n = read(fds[0], buffer, sizeof buffer);
        if (n <= 0) break;
        if (first.size() < 8192) first.append(buffer, static_cast<std::size_t>(n));
        seen += static_cast<std::size_t>(std::count(buffer, buffer + n, '\n'));
    }
    close(fds[0]);
    EXPECT_GE(seen, lines);
    const std::string expected = endless_prefix(static_cast<std::size_t>(std::count(first.begin(), first.end(), '\n')) + 1);
    EXPECT_EQ(expected.compare(0, first.size(), first), 0) << "not the sweep's first lines";
    return finish(pid);
}

TEST(faults, a_closed_pipe_ends_an_endless_sweep) {
    for (const std::vector<std::string>& options : {std::vector<std::string>{}, {"--jobs=4"}}) {
        SCOPED_TRACE(options.empty() ? "one thread" : options[0]);
        // As a shell leaves it: the signal ends the run quietly.
        const ended quiet = read_then_close(2, false, options);
        EXPECT_FALSE(quiet.timed_out);
        EXPECT_EQ(quiet.signal, SIGPIPE);
        EXPECT_EQ(quiet.err, "");

        // Ignored by whoever started the tool: the failed write ends it instead.
        const ended reported = read_then_close(2, true, options);
        EXPECT_FALSE(reported.timed_out);
        EXPECT_EQ(reported.status, 1);
        EXPECT_EQ(reported.err, "Error writing output.\n");
    }
}

// Nothing grows with the number of lines: the peak resident size after half a
// million lines (some 30 MB) is that after two, give or take a few pages.
TEST(faults, memory_stays_flat_over_an_endless_sweep) {
    for (const std::vector<std::string>& options : {std::vector<std::string>{}, {"--jobs=2"}}) {
        SCOPED_TRACE(options.empty() ? "one thread" : options[0]);
        const ended brief = read_then_close(2, false, options);
        const ended long_run = read_then_close(500000, false, options);
        ASSERT_FALSE(brief.timed_out);
        ASSERT_FALSE(long_run.timed_out);
        ASSERT_GT(brief.peak_rss_kib, 0);
        // Within 1 MiB: how much of the program's own code the system maps in
        // varies from run to run by some hundreds of KiB; with two threads
        // the queue of formatted lines counts too (more under sanitizers,
        // whose own memory grows too). Half a million lines are 30 MB.
        const long slack = std::max(brief.peak_rss_kib / 8, 1024L);
        EXPECT_LE(long_run.peak_rss_kib, brief.peak_rss_kib + slack)
            << "after 2 lines: " << brief.peak_rss_kib << " KiB, after 500000: " << long_run.peak_rss_kib << " KiB";
        std::printf("%s: peak resident size after 2 lines %ld KiB, after 500000 lines %ld KiB\n",
                    options.empty() ? "one thread" : options[0].c_str(), brief.peak_rss_kib, long_run.peak_rss_kib);
    }
}

// Samples that do not fit in the memory the tool may have: a clear refusal,
// nothing on standard output. (Sanitizers reserve far more address space than
// such a limit allows, so their builds skip it.)
TEST(faults, reports_samples_beyond_its_memory) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "address-space limits do not apply under sanitizers";
#endif
    std::string text;
    for (int k = 0; k < 4000000; ++k) text += "0 0\n";
    const std::string path = process::write_file("fault_many.txt", text);
    const outcome o = run_with_output({"--max-samples=100000000", path, "0", "1", "2"}, output::pipe,
                                      {.address_space = 64L << 20});
    EXPECT_FALSE(o.run.timed_out);
    EXPECT_EQ(o.run.err, "Error reading file: not enough memory for the samples.\n");
    EXPECT_EQ(o.run.status, 1);
    EXPECT_EQ(o.out, "");
}

// A number of any length is read exactly in fixed space: sixteen million
// digits cost no more memory than a short number.
TEST(faults, memory_stays_flat_over_a_number_of_millions_of_digits) {
    const std::string short_path = process::write_file("fault_short_number.txt", "0 1\n1 1\n");
    const std::string long_path = process::scratch("fault_long_number.txt");
    {  // written and let go before the runs, which start as copies of this process
        const std::string digits(16 << 20, '0');
        std::ofstream(long_path) << "0 1\n1." << digits << " 0." << digits << "1e" << digits.size() + 1 << "\n";
    }
    const outcome brief = run_with_output({short_path, "0", "0.5", "2"}, output::pipe);
    const outcome long_run = run_with_output({long_path, "0", "0.5", "2"}, output::pipe);
    std::remove(long_path.c_str());
    ASSERT_FALSE(long_run.run.timed_out);
    EXPECT_EQ(long_run.run.status, 0);
    EXPECT_EQ(long_run.out, first_two);
    EXPECT_EQ(long_run.out, brief.out);
    // Within 1 MiB (the code pages the system maps vary by some hundreds of
    // KiB from run to run); the digits are 32 MB.
    EXPECT_LE(long_run.run.peak_rss_kib, brief.run.peak_rss_kib + std::max(brief.run.peak_rss_kib / 8, 1024L))
        << "short: " << brief.run.peak_rss_kib << " KiB, long: " << long_run.run.peak_rss_kib << " KiB";
}

TEST(faults, reads_a_full_table_of_samples) {
    std::vector<double> t, x;
    for (int k = 0; k < 16384; ++k) {
        t.push_back(k);
        x.push_back(k % 7);
    }
    const std::string path = process::write_file("fault_exactly_full.txt", pairs(16384));
    const outcome o = run_with_output({path, "0.25", "0.5", "2"}, output::pipe);
    EXPECT_EQ(o.run.status, 0);
    EXPECT_EQ(o.run.err, "");
    EXPECT_EQ(o.out, reference::sweep(t, x, 0.25, 0.5, 2));
}

// Standard error on a terminal and standard output elsewhere: a long run
// shows a status line there, redrawn in place and erased at the end, unless
// --no-progress.
TEST(faults, shows_progress_on_a_terminal_only_when_asked) {
    for (const bool quiet : {false, true}) {
        SCOPED_TRACE(quiet ? "--no-progress" : "default");
        const int terminal = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        ASSERT_GE(terminal, 0);
        ASSERT_EQ(grantpt(terminal), 0);
        ASSERT_EQ(unlockpt(terminal), 0);
        const int screen = open(ptsname(terminal), O_RDWR | O_NOCTTY | O_CLOEXEC);
        const int nowhere = open("/dev/null", O_WRONLY | O_CLOEXEC);
        // Some two seconds of lines, mostly libm's, so alike in every build;
        // the status line starts after one.
        static const std::string heavy = process::write_file("fault_heavy.txt", pairs(4096));
        std::vector<std::string> args{heavy, "0", "1", "40000"};
        if (quiet) args.insert(args.begin(), "--no-progress");
        const pid_t pid = start(args, nowhere, {.error_fd = screen});
        close(screen);
        close(nowhere);
        std::string shown;
        char buffer[4096];
        ssize_t n;
        while ((n = read(terminal, buffer, sizeof buffer)) > 0) shown.append(buffer, static_cast<std::size_t>(n));
        close(terminal);
        const ended e = finish(pid);
        EXPECT_EQ(e.status, 0);
        if (quiet) {
            EXPECT_EQ(shown, "");
            continue;
        }
        EXPECT_NE(shown.find(" of 40000 lines, "), std::string::npos) << shown;
        EXPECT_NE(shown.find(" lines/s, "), std::string::npos) << shown;
        EXPECT_NE(shown.find(" left\033[K"), std::string::npos) << shown;
        EXPECT_EQ(shown.substr(shown.size() >= 4 ? shown.size() - 4 : 0), "\r\033[K") << "not erased at the end";
    }
}

// A FIFO fed piece by piece by another thread, which may also remove the FIFO's
// name once the tool has it open: the tool reads what was written, to the end.
struct fifo_case {
    const char* name;
    std::vector<std::string> pieces;
    bool unlink_after_open;
    std::string out;
    std::string err;
    int status;
};

TEST(faults, reads_a_fifo_to_its_end) {
    // A writer whose reader went away fails its write instead of ending the test.
    signal(SIGPIPE, SIG_IGN);
    const fifo_case cases[] = {
        {"pairs in pieces", {"0 1\n", "1", " ", "1", "\n"}, false, first_two, "", 0},
        {"a number split across writes", {"0 1\n0.", "5 1\n1 1e", "0\n"}, false,
         reference::sweep({0, 0.5, 1}, {1, 1, 1}, 0, 0.5, 2), "", 0},
        {"name removed after opening", {"0 1\n", "1 1\n"}, true, first_two, "", 0},
        {"writer sends nothing", {}, false, "0 0 -0 0\n0.5 0 -0 0\n", "", 0},
        {"bad text late", {"0 1\n", "1 1\n", "2 two\n"}, false, "", "Error reading file: line 3: not a number.\n", 1},
    };
    for (const bool on_input : {false, true})
    for (const fifo_case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.name << (on_input ? ", on standard input" : ", by name"));
        const std::string path = process::scratch("fifo_" + tag);
        unlink(path.c_str());
        ASSERT_EQ(mkfifo(path.c_str(), 0600), 0);
        std::thread writer([&] {
            const int fd = open(path.c_str(), O_WRONLY);  // returns once the tool has opened it
            if (fd < 0) return;
            if (c.unlink_after_open) unlink(path.c_str());
            for (const std::string& piece : c.pieces) {
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
                EXPECT_EQ(write(fd, piece.data(), piece.size()), static_cast<ssize_t>(piece.size()));
            }
            close(fd);
        });
        const outcome o = on_input ? run_with_output({"-", "0", "0.5", "2"}, output::pipe, {.input = path})
                                   : run_with_output({path, "0", "0.5", "2"}, output::pipe);
        // Should the tool have ended without opening the FIFO, free the writer.
        const int unblock = open(path.c_str(), O_RDONLY | O_NONBLOCK);
        writer.join();
        if (unblock >= 0) close(unblock);
        unlink(path.c_str());
        EXPECT_FALSE(o.run.timed_out);
        EXPECT_EQ(o.out, c.out);
        EXPECT_EQ(o.run.err, c.err);
        EXPECT_EQ(o.run.status, c.status);
    }
}

// A file that no longer has a name, reached only through a descriptor the tool
// inherits: it reads as the file it was.
TEST(faults, reads_a_file_without_a_name) {
    const std::string path = process::write_file("fault_unnamed.txt", "0 1\n1 1\n");
    const int fd = open(path.c_str(), O_RDONLY);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(unlink(path.c_str()), 0);
    const outcome o = run_with_output({"/proc/self/fd/" + std::to_string(fd), "0", "0.5", "2"}, output::pipe);
    close(fd);
    EXPECT_EQ(o.out, first_two);
    EXPECT_EQ(o.run.status, 0);
}

// A disk that fills up: the regular file is cut back to the last whole line
// (or .npy row) that the run wrote, after what was there before it when
// appending; the message and status are those of any failed write.
TEST(faults, cuts_a_full_file_back_to_whole_lines_in_every_format) {
    struct full_case {
        const char* format;
        bool append;
        long limit;
    };
    const full_case cases[] = {{"text", false, 100000}, {"text", true, 100003}, {"csv", false, 99999},
                               {"csv", true, 150001}, {"npy", false, 100001}, {"npy", true, 120007}};
    const std::string before = "kept from before\n";
    for (const full_case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.format << (c.append ? " appended" : "") << ", " << c.limit << " bytes");
        const std::vector<std::string> args{"-j8", "--format=" + std::string(c.format), two_samples, "0", "1", "200000"};
        const std::string path = process::scratch("full_" + tag);
        const std::string whole = run_with_output(args, output::pipe).out;
        std::ofstream(path, std::ios::binary) << (c.append ? before : "");
        const int fd = open(path.c_str(), O_WRONLY | O_CLOEXEC | (c.append ? O_APPEND : O_TRUNC));
        ASSERT_GE(fd, 0);
        const pid_t pid = start(args, fd, {.file_size = c.limit});
        close(fd);
        const ended e = finish(pid);
        EXPECT_EQ(e.err, "Error writing output.\n");
        EXPECT_EQ(e.status, 1);
        std::string got = take_file(path);
        const std::string kept = c.append ? before : "";
        ASSERT_EQ(got.compare(0, kept.size(), kept), 0) << "what was there before is kept";
        got.erase(0, kept.size());
        EXPECT_LE(static_cast<long>(got.size() + kept.size()), c.limit);
        EXPECT_GT(got.size(), 0u);
        EXPECT_EQ(whole.compare(0, got.size(), got), 0) << "a prefix of the whole output";
        if (std::string(c.format) == "npy") EXPECT_EQ((got.size() - 128) % 32, 0u) << "whole rows";
        else EXPECT_EQ(got.back(), '\n') << "whole lines";
    }
}

// CSV parts joined are the whole file, and numpy reads the .npy parts,
// concatenated, as the text's numbers.
TEST(faults, formats_join_by_parts) {
    const std::string whole = run_with_output({"--format=csv", two_samples, "-3", "3", "1001"}, output::pipe).out;
    std::string joined;
    for (int k = 1; k <= 4; ++k)
        joined += run_with_output({"--part=" + std::to_string(k) + "/4", "-f", "csv", "-j2", two_samples, "-3", "3", "1001"},
                                  output::pipe).out;
    EXPECT_EQ(joined.substr(0, 35), "frequency,real,imaginary,magnitude\n");
    EXPECT_EQ(joined, whole);

    if (std::system("/usr/bin/python3 -c 'import numpy' 2>/dev/null") != 0)
        GTEST_SKIP() << "numpy (python3-numpy) is not installed";
    std::string npy_parts;
    for (int k = 1; k <= 3; ++k) {
        const std::string part = process::scratch("part" + std::to_string(k) + "_" + tag + ".npy");
        std::ofstream(part, std::ios::binary)
            << run_with_output({"--part=" + std::to_string(k) + "/3", "--format=npy", two_samples, "-3", "3", "1001"},
                               output::pipe).out;
        npy_parts += " " + part;
    }
    const std::string printed = process::scratch("printed_" + tag);
    const std::string script = "import sys, numpy; a = numpy.concatenate([numpy.load(p) for p in sys.argv[1:]]); "
                               "assert a.dtype == numpy.dtype('<f8') and a.shape == (1001, 4); "
                               "sys.stdout.write(''.join('%.15g %.15g %.15g %.15g\\n' % tuple(r) for r in a))";
    ASSERT_EQ(std::system(("/usr/bin/python3 -c \"" + script + "\"" + npy_parts + " > " + printed).c_str()), 0);
    EXPECT_EQ(take_file(printed), run_with_output({two_samples, "-3", "3", "1001"}, output::pipe).out);
}

// Far more jobs than processors: threads that cannot proceed are not woken,
// nor started, so the run waits about as often as with two jobs.
TEST(faults, many_jobs_wait_no_more_than_few) {
    static const std::string tones = process::write_file("fault_tones.txt", pairs(400));
    for (const std::vector<std::string>& sweep : {std::vector<std::string>{two_samples, "0", "1000", "200000"},
                                                  std::vector<std::string>{tones, "0", "5", "20000"}}) {
        SCOPED_TRACE(sweep[0] + " " + sweep[3] + " lines");
        std::vector<std::string> few = sweep, many = sweep;
        few.insert(few.begin(), "-j2");
        many.insert(many.begin(), "-j1024");
        const outcome two = run_with_output(few, output::pipe);
        const outcome lots = run_with_output(many, output::pipe);
        EXPECT_EQ(lots.out, two.out);
        EXPECT_LE(lots.run.waits, 4 * two.run.waits + 500) << "with two jobs: " << two.run.waits;
    }
}

}  // namespace

// The fast evaluation under address-space limits from too small for its
// plans (but enough to start the tool) up to enough: either the whole sweep or the documented refusal,
// never a process stopped by a library that cannot allocate while planning.
TEST(faults, fast_evaluation_reports_memory_it_cannot_have) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "address-space limits do not apply under sanitizers";
#endif
    const std::string path = process::write_file("fault_four.txt", "0 1\n0.1 2\n0.3 -1\n0.35 0.5\n");
    if (run_with_output({"-e1e-9", path, "0", "1", "2"}, output::pipe).run.status == 2)
        GTEST_SKIP() << "built without the fast evaluation";
    int refused = 0, finished = 0;
    for (long limit = 10L << 20; limit <= 32L << 20; limit += 256L << 10) {
        SCOPED_TRACE(std::to_string(limit >> 10) + " KiB");
        const outcome o = run_with_output({"-e1e-9", path, "0", "1", "100000"}, output::pipe, {.address_space = limit});
        ASSERT_FALSE(o.run.timed_out);
        ASSERT_EQ(o.run.signal, 0) << o.run.err;
        if (o.run.status == 1) {
            EXPECT_EQ(o.run.err, "Not enough memory for the sweep.\n");
            EXPECT_EQ(o.out, "");
            ++refused;
        } else {
            ASSERT_EQ(o.run.status, 0) << o.run.err;
            EXPECT_EQ(std::count(o.out.begin(), o.out.end(), '\n'), 100000);
            ++finished;
        }
    }
    EXPECT_GT(refused, 0);
    EXPECT_GT(finished, 0);
}
