#pragma once
// Runs code on a thread with a stack of a chosen size, to show that deep input cannot exhaust it.

#include <cstddef>
#include <functional>

namespace bm::test {

// Runs `body` on a new thread whose stack is `bytes` large and waits for it. An exception thrown by
// `body` is thrown again here. A stack overflow ends the whole test program, which fails it.
void RunWithStack(size_t bytes, const std::function<void()>& body);

// A stack smaller than Wine's main thread (1-2 MiB) and the sync worker's.
constexpr size_t kSmallStack = 512 * 1024;

}  // namespace bm::test
