// zelvik-bench-startup RUNS PROGRAM...: starts each program RUNS times, in turn, on the X display
// named by $DISPLAY, and measures from just before the spawn to the moment the X server maps the
// program's first top-level window; one second later it reads the program's resident memory, then
// ends it. Nothing is asked of the programs: they run exactly as a user would start them.
// With ZELVIK_BENCH_SHORT set (as ctest runs it) one run each, no unmeasured one, and the memory
// read 0.2 s after the map.
#include "shortrun.h"

#include <xcb/xcb.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <ctime>
#include <unistd.h>


namespace {

double nowMs()
{
    timespec t {};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

long residentKb(pid_t pid)
{
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("VmRSS:", 0) == 0)
            return std::strtol(line.c_str() + 6, nullptr, 10);
    }
    return -1;
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n == 0 ? 0 : n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

struct Run {
    double mapMs = -1;
    long rssKb = -1;
};

// Waits up to timeoutMs for the map of a top-level window that is not override-redirect (a menu
// or tool tip would be).
bool waitForMap(xcb_connection_t *connection, double timeoutMs)
{
    const double end = nowMs() + timeoutMs;
    for (;;) {
        while (xcb_generic_event_t *event = xcb_poll_for_event(connection)) {
            const bool mapped = (event->response_type & 0x7F) == XCB_MAP_NOTIFY
                && !reinterpret_cast<xcb_map_notify_event_t *>(event)->override_redirect;
            std::free(event);
            if (mapped)
                return true;
        }
        const double left = end - nowMs();
        if (left <= 0 || xcb_connection_has_error(connection))
            return false;
        pollfd wait {xcb_get_file_descriptor(connection), POLLIN, 0};
        poll(&wait, 1, int(left) + 1);
    }
}

Run runOnce(xcb_connection_t *connection, const char *program, int settleMs)
{
    Run run;
    while (xcb_generic_event_t *event = xcb_poll_for_event(connection)) // maps and unmaps of earlier runs
        std::free(event);
    char *argv[] = {const_cast<char *>(program), nullptr};
    pid_t pid = 0;
    const double start = nowMs();
    if (posix_spawn(&pid, program, nullptr, nullptr, argv, environ) != 0) {
        std::fprintf(stderr, "cannot start %s: %s\n", program, std::strerror(errno));
        return run;
    }
    if (waitForMap(connection, 20000))
        run.mapMs = nowMs() - start;
    usleep(useconds_t(settleMs) * 1000);
    run.rssKb = residentKb(pid);
    kill(pid, SIGTERM);
    waitpid(pid, nullptr, 0);
    usleep(200 * 1000);
    return run;
}

} // namespace

int main(int argc, char *argv[])
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s RUNS PROGRAM...\n", argv[0]);
        return 2;
    }
    const int runs = Bench::sized(int(std::strtol(argv[1], nullptr, 10)), 1);
    if (runs < 1) {
        std::fprintf(stderr, "%s: RUNS must be at least 1\n", argv[0]);
        return 2;
    }
    const int settleMs = Bench::shortRun() ? 200 : 1000;
    if (Bench::shortRun())
        std::printf("short run: %d run of each program, memory %d ms after the map; too few for figures\n", runs, settleMs);
    xcb_connection_t *connection = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(connection)) {
        std::fprintf(stderr, "cannot connect to the X display\n");
        return 1;
    }
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(connection)).data->root;
    const uint32_t mask = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
    xcb_change_window_attributes(connection, root, XCB_CW_EVENT_MASK, &mask);
    xcb_flush(connection);

    const int programs = argc - 2;
    std::vector<std::vector<double>> mapMs(programs), rssKb(programs);
    for (int p = 0; p < programs && !Bench::shortRun(); ++p) // one unmeasured run each fills the file caches
        runOnce(connection, argv[2 + p], settleMs);
    for (int i = 0; i < runs; ++i) {
        for (int p = 0; p < programs; ++p) {
            const Run run = runOnce(connection, argv[2 + p], settleMs);
            if (run.mapMs < 0) {
                std::fprintf(stderr, "%s: no window mapped\n", argv[2 + p]);
                return 1;
            }
            mapMs[p].push_back(run.mapMs);
            rssKb[p].push_back(double(run.rssKb));
        }
    }
    for (int p = 0; p < programs; ++p) {
        const auto [low, high] = std::minmax_element(mapMs[p].begin(), mapMs[p].end());
        std::printf("startup %s: median %.1f ms (min %.1f, max %.1f) to the first map; resident memory %.1f s later: median %.0f kB\n",
                    argv[2 + p], median(mapMs[p]), *low, *high, settleMs / 1000.0, median(rssKb[p]));
    }
    if (programs == 2) {
        std::printf("startup ratio (first/second): time %.2f, resident memory %.2f\n",
                    median(mapMs[0]) / median(mapMs[1]), median(rssKb[0]) / median(rssKb[1]));
    }
    xcb_disconnect(connection);
    return 0;
}
