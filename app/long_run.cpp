#include "app/long_run.h"
#include "app/verify.h"

#include <cstdio>

#include "client/deadline.h"
#include "client/run_end.h"

namespace {

// The run under way, for the summary a closing console's handler or the
// watchdog may print instead of the caller.
std::atomic<long_run*> g_current{nullptr};

int64_t now_ticks() {
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return now.QuadPart;
}

int summary(quorvex_client* client) {
    const long_run* run = g_current.load();
    const quorvex_stop_cause stop = quorvex_stop_seen(client);
    if (run->kind->before_stop != nullptr) run->kind->before_stop(run);
    quorvex_stop_say(stop);
    run->kind->totals(run, stop);
    if (!run->settings->verify) return run->kind->verdict(run, stop);
    verify_totals(run);
    const int status = run->kind->verdict(run, stop);
    return status == EXIT_DEMONSTRATED && verify_missed() ? EXIT_REFUSED : status;
}

// The caller's end of the run: it prints the summary unless another thread
// already does, which then ends the process.
int finish(long_run* run) {
    if (!quorvex_end_claim()) quorvex_end_yield();
    return quorvex_end_summary(run->client);
}

// A run that ends before its first step prints no summary, but a closing
// console's handler may have one under way from the record teardown frees.
void end_without_summary() {
    if (!quorvex_end_claim()) quorvex_end_yield();
    quorvex_end_finished();
}

int play(long_run* run) {
    int status = EXIT_DEMONSTRATED;
    if (run->kind->begin != nullptr && !run->kind->begin(run, &status)) {
        end_without_summary();
        return status;
    }
    progress_clock progress = progress_from_now();
    while (!quorvex_stopped(run->client) && run->kind->step(run)) {
        int64_t elapsed_us = 0;
        if (run->kind->progress == nullptr || quorvex_stopped(run->client) || !progress_due(&progress, &elapsed_us))
            continue;
        run->kind->progress(run, elapsed_us);
    }
    if (run->settings->verify) verify_settle(run);
    return finish(run);
}

// Connect, play, disconnect: every transfer with a deadline, and a summary
// however the run is stopped. One that could not be stopped so does not start.
int connect_and_play(long_run* run) {
    quorvex_client* client = quorvex_new_client();
    if (client == nullptr) return EXIT_NO_RESOURCES;
    run->client = client;
    quorvex_deadline deadline;
    if (!quorvex_deadline_start(&deadline, client, run->settings->timeout_ms)) {
        quorvex_free_client(client);
        return EXIT_NO_RESOURCES;
    }
    if (!quorvex_stop_install(client)) {
        quorvex_deadline_stop(&deadline);
        quorvex_free_client(client);
        return EXIT_NO_RESOURCES;
    }
    int status = EXIT_NO_DEVICE;
    if (quorvex_connect(client)) {
        if (run->settings->verify && !verify_begin(run, &status)) {
            end_without_summary();
        } else {
            if (run->mode == QUORVEX_MODE_WATCH) printf("# ...watching our device\n");
            else printf("...sending request(s) to our device\n");
            status = play(run);
            if (run->settings->verify) verify_end(run);
            if (run->mode == QUORVEX_MODE_WATCH) watch_end(run);
        }
        quorvex_disconnect(client);
    } else {
        end_without_summary();
    }
    quorvex_stop_forget();
    quorvex_deadline_stop(&deadline);
    run->client = nullptr;
    quorvex_free_client(client);
    return status;
}

}  // namespace

progress_clock progress_from_now() {
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    const int64_t now = now_ticks(), per_second = frequency.QuadPart;
    return {now, now + per_second, per_second};
}

bool progress_due(progress_clock* clock, int64_t* elapsed_us) {
    const int64_t now = now_ticks();
    if (now < clock->next) return false;
    while (clock->next <= now) clock->next += clock->per_second;
    if (elapsed_us != nullptr) *elapsed_us = (now - clock->started) * 1000000 / clock->per_second;
    return true;
}

void long_run_start_line(const char* head, const char* each, uint32_t timeout_ms, const char* tail) {
    printf("%s, each %s%swithin %u ms%s\n", head, each, *each != '\0' ? " " : "", static_cast<unsigned>(timeout_ms),
           tail);
}

int long_run_stop_status(quorvex_stop_cause stop) {
    switch (stop) {
        case quorvex_stop_cause::deadline: return EXIT_STALLED;
        case quorvex_stop_cause::ctrl_c:
        case quorvex_stop_cause::ctrl_break:
        case quorvex_stop_cause::console_closing: return EXIT_INTERRUPTED;
        case quorvex_stop_cause::none: break;
    }
    return EXIT_DEMONSTRATED;
}

int long_run_main(const option_entry& option, const run_settings& settings) {
    long_run run = {option.mode, &settings, option.run, nullptr, nullptr};
    int status = EXIT_DEMONSTRATED;
    if (run.kind->prepare != nullptr && !run.kind->prepare(&run, &status)) return status;
    if (settings.wait_s != 0) wait_for_device(settings.wait_s);
    quorvex_discovery_comments = option.mode == QUORVEX_MODE_WATCH;
    quorvex_end_reset();
    quorvex_on_run_end(summary);
    g_current = &run;
    status = connect_and_play(&run);
    g_current = nullptr;
    if (run.kind->release != nullptr) run.kind->release(&run);
    return status;
}
