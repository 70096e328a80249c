#include "tests/support/small_stack.h"

#include <windows.h>

#include <exception>
#include <stdexcept>

namespace bm::test {
namespace {

struct ThreadWork {
    const std::function<void()>* body;
    std::exception_ptr failure;
};

DWORD WINAPI RunBody(void* parameter) {
    auto* work = static_cast<ThreadWork*>(parameter);
    try {
        (*work->body)();
    } catch (...) {
        work->failure = std::current_exception();
    }
    return 0;
}

}  // namespace

void RunWithStack(size_t bytes, const std::function<void()>& body) {
    ThreadWork work{&body, nullptr};
    HANDLE thread = CreateThread(nullptr, bytes, RunBody, &work, STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
    if (!thread) throw std::runtime_error("cannot start a thread");
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
    if (work.failure) std::rethrow_exception(work.failure);
}

}  // namespace bm::test
