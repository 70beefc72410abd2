#include "cli/progress.hpp"

namespace trapft {
namespace {

using clock = std::chrono::steady_clock;
constexpr auto first_draw = std::chrono::seconds(1);
constexpr auto redraw = std::chrono::milliseconds(250);

// "1h02m", "3m05s" or "12s".
void format_duration(char* text, std::size_t size, double seconds) {
    const auto whole = static_cast<long long>(seconds + 0.5);
    if (whole >= 3600) std::snprintf(text, size, "%lldh%02lldm", whole / 3600, whole / 60 % 60);
    else if (whole >= 60) std::snprintf(text, size, "%lldm%02llds", whole / 60, whole % 60);
    else std::snprintf(text, size, "%llds", whole);
}

}  // namespace

void progress_start(progress_line& progress, std::int64_t total, std::FILE* terminal) {
    progress = {};
    progress.terminal = terminal;
    progress.total = total;
    progress.started = clock::now();
}

void progress_update(progress_line& progress, std::int64_t done) {
    if (progress.terminal == nullptr || done >= progress.total) return;
    const clock::time_point now = clock::now();
    if (now - progress.started < first_draw || (progress.shown && now - progress.drawn < redraw)) return;
    const double elapsed = std::chrono::duration<double>(now - progress.started).count();
    const double rate = static_cast<double>(done) / elapsed;
    char left[32] = "?";
    if (rate > 0) format_duration(left, sizeof left, static_cast<double>(progress.total - done) / rate);
    // Carriage return and erase-to-end-of-line: the line is redrawn in place.
    std::fprintf(progress.terminal, "\r%lld of %lld lines, %.0f lines/s, %s left\033[K",
                 static_cast<long long>(done), static_cast<long long>(progress.total), rate, left);
    std::fflush(progress.terminal);
    progress.drawn = now;
    progress.shown = true;
}

void progress_end(progress_line& progress) {
    if (!progress.shown) return;
    std::fputs("\r\033[K", progress.terminal);
    std::fflush(progress.terminal);
    progress.shown = false;
}

}  // namespace trapft
