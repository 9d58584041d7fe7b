#include "core_call.h"

void* ScratchBlocks::take(size_t bytes) {
    void* block = refused || count == kMostBlocks || memory.allocate == nullptr
                      ? nullptr
                      : memory.allocate(memory.context, bytes);
    if (block == nullptr) {
        refused = true;
        return nullptr;
    }
    blocks[count++] = block;
    return block;
}

void ScratchBlocks::release_all() {
    for (int k = 0; k < count; ++k) {
        memory.release(memory.context, blocks[k]);
        blocks[k] = nullptr;
    }
    count = 0;
}
