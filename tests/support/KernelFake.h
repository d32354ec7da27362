#pragma once
#include "engine/KernelServices.h"

// Restores the real kernel services when it goes out of scope, so a test can
// replace single entries of g_kernel without leaking fakes into the next test.
class ScopedKernelServices {
public:
    ScopedKernelServices() : saved_(g_kernel) {}
    ~ScopedKernelServices() { g_kernel = saved_; }
    ScopedKernelServices(const ScopedKernelServices&) = delete;
    ScopedKernelServices& operator=(const ScopedKernelServices&) = delete;

private:
    KernelServices saved_;
};
