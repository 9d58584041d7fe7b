// How a caller stops a long computation of either core: a question that the
// calling thread asks between stretches of work, between two phases of the
// team's work (worker_team.h), with no other member at work. The entry points ask the host
// whether the user has interrupted the call; the cores know nothing of it.
#pragma once

#include <stdint.h>

// `pending` returns true to end the computation early; it runs on the
// calling thread only, never on a worker. It is asked once about
// `work_between_questions` units of the core's work (0: the core's own
// amount, a few to some tens of milliseconds) have been done since it was
// last asked.
struct InterruptCheck {
    bool (*pending)(void* context);
    void* context;
    uint64_t work_between_questions;
};

constexpr InterruptCheck kNoInterruptCheck{nullptr, nullptr, 0};

// The work `check` asks after: its own, or the core's `default_work`.
inline uint64_t work_between_questions(const InterruptCheck& check, uint64_t default_work) {
    return check.work_between_questions != 0 ? check.work_between_questions : default_work;
}

// Counts work and asks `check` when enough has been done.
struct InterruptPoll {
    InterruptCheck check;
    uint64_t done = 0;

    InterruptPoll(InterruptCheck interrupt, uint64_t default_work) : check(interrupt) {
        check.work_between_questions = work_between_questions(interrupt, default_work);
    }

    // Counts `work` more units; true if the check was asked and said stop.
    bool after(uint64_t work) {
        if (check.pending == nullptr) return false;
        done += work;
        if (done < check.work_between_questions) return false;
        done = 0;
        return check.pending(check.context);
    }
};
