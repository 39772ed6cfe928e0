// kernel32 local memory: LMEM_FIXED blocks are their own pointers,
// LMEM_MOVEABLE blocks are handles that LocalLock turns into a pointer.
// Blocks never move, so a moveable block keeps its address while unlocked.
// A moveable block of no bytes is made discarded: it has no memory to lock.
#include <windows.h>

#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>

#include "emulated_process.h"
#include "fault_injection.h"

#ifndef ERROR_NOT_LOCKED
#define ERROR_NOT_LOCKED 158L
#endif
#ifndef ERROR_DISCARDED
#define ERROR_DISCARDED 157L
#endif

namespace {

// The largest block a Windows 95 process could get: its 2 GB of address
// space.
constexpr SIZE_T kLargestBlock = 0x7FFFFFFF;

using Block = w95::LocalBlock;
using FreeData = w95::FreeLocalBlock;

w95::LocalBlocks &Blocks() { return w95::Process().localMemory; }

Block *FindBlock(HLOCAL handle) {
    auto &blocks = Blocks();
    auto it = blocks.find(handle);
    return it == blocks.end() ? nullptr : it->second.get();
}

}  // namespace

extern "C" {

HLOCAL WINAPI LocalAlloc(UINT uFlags, SIZE_T uBytes) {
    if (DWORD e = w95::InjectedFault("LocalAlloc")) {
        SetLastError(e);
        return nullptr;
    }
    if (uBytes > kLargestBlock) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    SIZE_T bytes = uBytes == 0 ? 1 : uBytes;
    void *data =
        (uFlags & LMEM_ZEROINIT) ? std::calloc(bytes, 1) : std::malloc(bytes);
    if (data == nullptr) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    std::unique_ptr<Block, FreeData> block(new Block);
    block->data = data;
    block->size = uBytes;
    block->moveable = (uFlags & LMEM_MOVEABLE) != 0;
    HLOCAL handle = block->moveable ? static_cast<HLOCAL>(block.get()) : data;
    Blocks().emplace(handle, std::move(block));
    return handle;
}

LPVOID WINAPI LocalLock(HLOCAL hMem) {
    if (DWORD e = w95::InjectedFault("LocalLock")) {
        SetLastError(e);
        return nullptr;
    }
    // NULL is no handle and no block: nothing to lock, and no error.
    if (hMem == nullptr) return nullptr;
    Block *block = FindBlock(hMem);
    if (block == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    if (block->moveable && block->size == 0) {
        SetLastError(ERROR_DISCARDED);
        return nullptr;
    }
    if (block->moveable) ++block->lockCount;
    return block->data;
}

BOOL WINAPI LocalUnlock(HLOCAL hMem) {
    if (DWORD e = w95::InjectedFault("LocalUnlock")) {
        SetLastError(e);
        return FALSE;
    }
    Block *block = FindBlock(hMem);
    if (block == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (!block->moveable || block->lockCount == 0) {
        SetLastError(ERROR_NOT_LOCKED);
        return FALSE;
    }
    // TRUE while the block stays locked; FALSE with no error once unlocked.
    if (--block->lockCount > 0) return TRUE;
    SetLastError(ERROR_SUCCESS);
    return FALSE;
}

HLOCAL WINAPI LocalFree(HLOCAL hMem) {
    if (DWORD e = w95::InjectedFault("LocalFree")) {
        SetLastError(e);
        return hMem;
    }
    if (hMem == nullptr) return nullptr;
    if (Blocks().erase(hMem) == 0) {
        SetLastError(ERROR_INVALID_HANDLE);
        return hMem;
    }
    return nullptr;
}

SIZE_T WINAPI LocalSize(HLOCAL hMem) {
    if (DWORD e = w95::InjectedFault("LocalSize")) {
        SetLastError(e);
        return 0;
    }
    Block *block = FindBlock(hMem);
    if (block == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return 0;
    }
    return block->size;
}

}  // extern "C"
