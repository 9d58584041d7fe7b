// The worker team's barrier, the same on every platform; each platform
// gives it a lock and a condition variable (Sync: lock, unlock, sleep with
// the lock held, wake_all).
//
// The caller starts the members, then opens the gate with the team's final
// size; members wait for it to open before they start work. At wait(), a
// generation count moves on when the last member arrives. A member that
// arrives early spins before it sleeps (2000 pauses: some 50 microseconds on
// Intel processors, 130 on this project's AMD test machine): the others
// usually follow within that, and waking a sleeping thread takes longer; a
// bound of a few microseconds made a 2-thread filter of a 300 x 300 image
// 2.5 times slower. A team with more members than the processors it may
// use does not spin at all: a spinning member would take the time a
// working one needs.
#pragma once

#include <stdint.h>

// Tells the processor that this thread is spinning on a value that another
// thread will change.
inline void spin_pause() {
#if defined(__x86_64__) || defined(__i386__)
    __builtin_ia32_pause();
#elif defined(__aarch64__)
    // yield takes a cycle on most Arm cores; an instruction barrier waits
    // for the pipeline to drain, closer to what x86's pause does.
    __asm__ __volatile__("isb" ::: "memory");
#endif
}

template <typename Sync>
struct TeamGate {
    Sync sync;
    int32_t count = 1;
    int32_t arrived = 0;
    uint32_t generation = 0;
    bool is_open = false;  // the team's size is final and the members may start
    int32_t spins = 0;     // before a member sleeps at wait()

    static constexpr int32_t kSpinsBeforeSleep = 2000;

    // `processors`: those the process may use.
    void open(int32_t members, int32_t processors) {
        sync.lock();
        count = members;
        spins = members > processors ? 0 : kSpinsBeforeSleep;
        is_open = true;
        sync.unlock();
        sync.wake_all();
    }

    // The team's size, once the gate is open.
    int32_t wait_open() {
        sync.lock();
        while (!is_open) sync.sleep();
        const int32_t members = count;
        sync.unlock();
        return members;
    }

    void wait() {
        const uint32_t current = __atomic_load_n(&generation, __ATOMIC_ACQUIRE);
        if (__atomic_add_fetch(&arrived, 1, __ATOMIC_ACQ_REL) == count) {
            // The others cannot leave before the generation moves on, so
            // none of them arrives at the next barrier before this reset.
            __atomic_store_n(&arrived, 0, __ATOMIC_RELAXED);
            sync.lock();
            __atomic_store_n(&generation, current + 1, __ATOMIC_RELEASE);
            sync.unlock();
            sync.wake_all();
            return;
        }
        for (int32_t spin = 0; spin < spins; ++spin) {
            if (__atomic_load_n(&generation, __ATOMIC_ACQUIRE) != current) return;
            spin_pause();
        }
        sync.lock();
        while (__atomic_load_n(&generation, __ATOMIC_ACQUIRE) == current) sync.sleep();
        sync.unlock();
    }
};
