// Linked into vrxpr-sim-nomem only, with --wrap=malloc, calloc and realloc:
// the utility's own allocations come here, the C and C++ libraries' do not.
// VRXPR_TEST_FAIL_ALLOC=N fails the Nth of them (counted from 1) and no
// other, so that each out-of-memory exit can be reached in turn.
#include <cstddef>
#include <cstdlib>

extern "C" {
void* __real_malloc(size_t size);
void* __real_calloc(size_t count, size_t size);
void* __real_realloc(void* p, size_t size);
}

namespace {

bool FailThisOne()
{
    static const long s_Fail = [] {
        const char* v = std::getenv("VRXPR_TEST_FAIL_ALLOC");
        return v != nullptr ? std::atol(v) : 0L;
    }();
    static long s_Count = 0;
    return ++s_Count == s_Fail;
}

}  // namespace

extern "C" void* __wrap_malloc(size_t size)
{
    return FailThisOne() ? nullptr : __real_malloc(size);
}

extern "C" void* __wrap_calloc(size_t count, size_t size)
{
    return FailThisOne() ? nullptr : __real_calloc(count, size);
}

extern "C" void* __wrap_realloc(void* p, size_t size)
{
    return FailThisOne() ? nullptr : __real_realloc(p, size);
}
