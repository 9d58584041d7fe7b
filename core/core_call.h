// What a host gives either numeric core for one call, and how the call
// ended. The cores know nothing of any host: a host (the MATLAB/Octave
// entry points in mex/, the Python binding in python/) decodes and checks
// its arguments, then makes one core call with plain arrays, numbers and
// these options.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "instruction_sets.h"

// How a caller stops a long computation: a question the calling thread
// asks between stretches of work, with no other member of the worker team
// at work. `pending` returns true to end the computation early. It is
// asked once about `work_between_questions` units of the core's work (0:
// the core's own amount, a few to some tens of milliseconds) have been
// done since it was last asked.
struct InterruptCheck {
    bool (*pending)(void* context);
    void* context;
    uint64_t work_between_questions;
};

constexpr InterruptCheck kNoInterruptCheck{nullptr, nullptr, 0};

// Where a core takes its scratch memory: the host's allocator, whose blocks
// the host frees itself if it leaves the call early, or the C library's
// heap (heap_memory). Every host names one; a core given none finds its
// memory refused.
struct CoreMemory {
    void* (*allocate)(void* context, size_t bytes);
    void (*release)(void* context, void* block);
    void* context;
};

// The C library's malloc and free (heap_memory.cpp, linked only where used).
CoreMemory heap_memory();

struct CoreOptions {
    // Threads at most, the calling thread included; 0 for as many as the
    // process may use (processors.h), fewer for small work. The work is
    // split in as many parts as asked, on no more threads than processors.
    int32_t threads = 0;
    // The instruction set; every path gives the same bits, so only tests
    // and benchmarks choose one.
    CpuPath path = CpuPath::kAutomatic;
    InterruptCheck interrupt = kNoInterruptCheck;
    CoreMemory memory = {nullptr, nullptr, nullptr};
};

enum class CoreEnd {
    kCompleted,    // the result is written
    kCancelled,    // the caller's progress step stopped it; the result holds nothing meaningful
    kInterrupted,  // the interrupt check stopped it; likewise
    kOutOfMemory,  // its scratch memory was refused; nothing was written
};

// --- for the cores ------------------------------------------------------------

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

// Blocks of a core call's scratch memory, taken through its CoreMemory and
// given back in the order taken. Once one block is refused no more are
// asked for.
struct ScratchBlocks {
    static constexpr int kMostBlocks = 16;
    CoreMemory memory;
    void* blocks[kMostBlocks] = {};
    int count = 0;
    bool refused = false;

    explicit ScratchBlocks(const CoreMemory& memory) : memory(memory) {}
    ScratchBlocks(const ScratchBlocks&) = delete;
    ScratchBlocks& operator=(const ScratchBlocks&) = delete;
    ~ScratchBlocks() { release_all(); }

    // A block of `bytes` (at least 1), or null once any block was refused.
    void* take(size_t bytes);
    template <typename T>
    T* take_array(size_t count) {
        return static_cast<T*>(take(sizeof(T) * (count > 0 ? count : 1)));
    }
    void release_all();
};
