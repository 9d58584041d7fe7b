#include <stdlib.h>

#include "core_call.h"

namespace {

void* heap_allocate(void*, size_t bytes) { return malloc(bytes); }
void heap_release(void*, void* block) { free(block); }

}  // namespace

CoreMemory heap_memory() { return {heap_allocate, heap_release, nullptr}; }
