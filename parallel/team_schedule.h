// How a team's members share out the work (worker_team.h), the same on
// every platform. A Platform gives the lock and the two condition
// variables (Sync) and starts and joins threads; the spin hint and the
// floating-point control each member takes from its caller are the
// processor family's (platform/processor_family.h).
//
// The calling thread publishes each phase by moving the generation on in
// `claims`, whose low half counts the shares taken; every member, the
// caller too, takes shares with a compare-and-swap until none is left,
// and the one that finishes the last wakes the caller if it sleeps.
//
// Members form a binary tree under the caller. A member that takes a share
// while others are left starts its two children, once, if it began to run
// within the phase it was started in; one that waited longer for a
// processor starts none, so where the machine's processors are busy with
// other work the team stays small. Such a member also wakes a sleeping
// member, with at most kWakesInFlight woken and not yet running.
//
// A member waiting for the next phase, and the caller waiting for the last
// share, spin before they sleep (2000 pauses: some 50 microseconds on Intel
// processors, 130 on this project's AMD test machine): phases usually
// follow within that, and waking a sleeping thread takes longer; a bound
// of a few microseconds made a 2-thread filter of a 300 x 300 image 2.5
// times slower.
#pragma once

#include <stdint.h>

#include <new>

#include "../platform/processor_family.h"
#include "worker_team.h"

// The two condition variables of a Sync.
enum class Waiters { kMembers, kCaller };

template <typename Platform>
struct TeamSchedule {
    struct Launch {
        TeamSchedule* schedule;
        int32_t index;
        uint32_t generation;  // of the phase it was started in
    };

    static constexpr int32_t kSpinsBeforeSleep = 2000;
    static constexpr int32_t kWakesInFlight = 4;

    const TeamWork work;
    const int32_t threads;  // members at most, the caller included
    const FloatControl float_control;
    typename Platform::Sync sync;

    uint32_t generation = 0;      // of the last phase published
    uint64_t claims = 0;          // generation << 32 | the next share nobody has taken
    int32_t phase = 0;            // of the current generation
    int32_t done = 0;             // shares of the current phase finished
    int32_t sleeping = 0;         // members waiting for the next phase
    int32_t wakes_in_flight = 0;  // members woken and not yet running
    bool caller_asleep = false;
    bool finished = false;
    bool started[kMostThreads] = {};
    // Whether a member has yet to start its children: only one that began
    // to run within the phase it was started in ever does, once.
    bool may_start_children[kMostThreads] = {true};
    typename Platform::Thread handles[kMostThreads];
    Launch launches[kMostThreads];

    TeamSchedule(const TeamWork& work, int32_t threads)
        : work(work), threads(threads), float_control(callers_float_control()) {}
    TeamSchedule(const TeamSchedule&) = delete;
    TeamSchedule& operator=(const TeamSchedule&) = delete;

    // On the calling thread: every share of `next`, members helping.
    void run_phase(int32_t next) {
        publish(next, ++generation);
        serve(generation, 0);
        wait_until_done();
    }

    // On the calling thread, after the last phase: every member joined.
    void close() {
        sync.lock();
        __atomic_store_n(&finished, true, __ATOMIC_RELEASE);
        sync.unlock();
        sync.wake_all(Waiters::kMembers);
        // A member starts its children while it holds a share, so every
        // start is over once the last phase is done.
        for (int32_t index = 1; index < threads; ++index)
            if (started[index]) Platform::join(handles[index]);
    }

    // Where a started member begins; `argument` is its Launch.
    static void member_entry(void* argument) {
        const Launch& launch = *static_cast<const Launch*>(argument);
        launch.schedule->member_main(launch.index, launch.generation);
    }

private:
    static uint32_t generation_of(uint64_t claimed) { return static_cast<uint32_t>(claimed >> 32); }

    uint32_t current_generation() const {
        return generation_of(__atomic_load_n(&claims, __ATOMIC_ACQUIRE));
    }

    void publish(int32_t next, uint32_t generation) {
        phase = next;
        __atomic_store_n(&done, 0, __ATOMIC_RELAXED);
        sync.lock();
        __atomic_store_n(&claims, static_cast<uint64_t>(generation) << 32, __ATOMIC_RELEASE);
        sync.unlock();
        wake_a_member();
    }

    void wake_a_member() {
        if (__atomic_load_n(&sleeping, __ATOMIC_RELAXED) <=
                __atomic_load_n(&wakes_in_flight, __ATOMIC_RELAXED) ||
            __atomic_load_n(&wakes_in_flight, __ATOMIC_RELAXED) >= kWakesInFlight)
            return;
        sync.lock();
        const bool wake = sleeping > wakes_in_flight && wakes_in_flight < kWakesInFlight;
        if (wake) __atomic_store_n(&wakes_in_flight, wakes_in_flight + 1, __ATOMIC_RELAXED);
        sync.unlock();
        if (wake) sync.wake_one(Waiters::kMembers);
    }

    // Takes and runs shares of `generation` until none is left.
    void serve(uint32_t generation, int32_t index) {
        for (;;) {
            uint64_t seen = __atomic_load_n(&claims, __ATOMIC_ACQUIRE);
            int32_t share;
            do {
                if (generation_of(seen) != generation) return;
                share = static_cast<int32_t>(static_cast<uint32_t>(seen));
                if (share >= work.shares) return;
            } while (!__atomic_compare_exchange_n(&claims, &seen, seen + 1, true,
                                                  __ATOMIC_ACQ_REL, __ATOMIC_ACQUIRE));
            if (share + 1 < work.shares) {
                if (may_start_children[index]) start_children(index);
                wake_a_member();
            }
            work.run_share(work.context, phase, share);
            if (__atomic_add_fetch(&done, 1, __ATOMIC_ACQ_REL) == work.shares) {
                sync.lock();
                const bool wake = caller_asleep;
                sync.unlock();
                if (wake) sync.wake_one(Waiters::kCaller);
            }
        }
    }

    void start_children(int32_t index) {
        may_start_children[index] = false;
        for (int32_t child = 2 * index + 1; child <= 2 * index + 2 && child < threads; ++child) {
            launches[child] = Launch{this, child, current_generation()};
            started[child] = Platform::start(handles[child], &launches[child], index == 0);
            if (started[child]) count_worker_thread_started();
        }
    }

    // Whether `ready` came true within the spins before a sleep.
    template <typename Ready>
    static bool spun_until(Ready ready) {
        for (int32_t spin = 0; spin < kSpinsBeforeSleep; ++spin) {
            if (ready()) return true;
            spin_pause();
        }
        return false;
    }

    void wait_until_done() {
        if (spun_until([this] { return __atomic_load_n(&done, __ATOMIC_ACQUIRE) == work.shares; }))
            return;
        sync.lock();
        while (__atomic_load_n(&done, __ATOMIC_ACQUIRE) != work.shares) {
            caller_asleep = true;
            sync.sleep(Waiters::kCaller);
        }
        caller_asleep = false;
        sync.unlock();
    }

    void member_main(int32_t index, uint32_t started_in) {
        load_float_control(float_control);
        may_start_children[index] = current_generation() == started_in;
        for (uint32_t served = 0;;) {
            const uint32_t generation = wait_for_phase(served);
            if (generation == served) return;
            served = generation;
            serve(generation, index);
        }
    }

    // The generation of a phase after `served`, or `served` once the team
    // has finished.
    uint32_t wait_for_phase(uint32_t served) {
        if (spun_until([this, served] {
                return __atomic_load_n(&finished, __ATOMIC_ACQUIRE) ||
                       current_generation() != served;
            }))
            return __atomic_load_n(&finished, __ATOMIC_ACQUIRE) ? served : current_generation();
        sync.lock();
        uint32_t now = current_generation();
        while (!finished && now == served) {
            __atomic_store_n(&sleeping, sleeping + 1, __ATOMIC_RELAXED);
            sync.sleep(Waiters::kMembers);
            __atomic_store_n(&sleeping, sleeping - 1, __ATOMIC_RELAXED);
            if (wakes_in_flight > 0)
                __atomic_store_n(&wakes_in_flight, wakes_in_flight - 1, __ATOMIC_RELAXED);
            now = current_generation();
        }
        const bool end = finished;
        sync.unlock();
        return end ? served : now;
    }
};

// The platform's side of worker_team.h for a Platform: its schedule made in
// a team's storage, each phase, and its end.
template <typename Platform>
struct ScheduleIn {
    typedef TeamSchedule<Platform> Schedule;
    static_assert(sizeof(Schedule) <= kTeamScheduleBytes, "the schedule fits its room");
    static_assert(alignof(Schedule) <= 64, "the room is aligned for it");

    static void open(void* storage, int32_t threads, const TeamWork& work) {
        new (storage) Schedule(work, threads);
    }
    static void run_phase(void* storage, int32_t phase) {
        static_cast<Schedule*>(storage)->run_phase(phase);
    }
    static void close(void* storage) {
        Schedule* schedule = static_cast<Schedule*>(storage);
        schedule->close();
        schedule->~Schedule();
    }
};
