#pragma once
#include <windows.h>

#include <cstring>
#include <vector>

// A committed block holding one worker area between two guard zones, filled
// with non-zero doubles so that every result of a pass can be told apart.
class KernelData {
public:
    // The area starts `misalign` bytes (a multiple of 8) past a page boundary.
    KernelData(unsigned int areaSize, unsigned int misalign = 0, unsigned int seed = 1)
        : size_(areaSize), misalign_(misalign)
    {
        total_ = kGuard + misalign + areaSize + kGuard;
        block_ = static_cast<unsigned char*>(
            VirtualAlloc(nullptr, total_, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
        if (!block_)
            return;
        state_ = seed * 0x9E3779B97F4A7C15ull + 1;
        double* all = reinterpret_cast<double*>(block_);
        for (unsigned int i = 0; i < total_ / 8; ++i)
            all[i] = NextValue();
        original_.assign(block_, block_ + total_);
    }
    ~KernelData()
    {
        if (block_)
            VirtualFree(block_, 0, MEM_RELEASE);
    }
    KernelData(const KernelData&) = delete;
    KernelData& operator=(const KernelData&) = delete;

    bool ok() const { return block_ != nullptr; }
    unsigned char* base() const { return block_ + kGuard + misalign_; }
    unsigned int size() const { return size_; }
    unsigned int n() const { return size_ / 32; }
    const double* a() const { return reinterpret_cast<const double*>(base()); }
    const double* b() const { return reinterpret_cast<const double*>(base() + size_ / 4); }
    const double* c() const { return reinterpret_cast<const double*>(base() + size_ / 2); }
    double* d() const { return reinterpret_cast<double*>(base() + 3 * (size_ / 4)); }

    // Index of the first byte that differs from what one pass must leave
    // (d[j] = a[j]*b[j] rounded, + c[j] rounded; every other byte as filled),
    // or -1 when the whole block is right.
    long FirstWrongByte() const
    {
        std::vector<unsigned char> expected(original_);
        const unsigned int dOffset = kGuard + misalign_ + 3 * (size_ / 4);
        const double* a0 = reinterpret_cast<const double*>(&original_[kGuard + misalign_]);
        const double* b0 = a0 + n();
        const double* c0 = b0 + n();
        for (unsigned int j = 0; j < n(); ++j) {
            const double product = a0[j] * b0[j];
            const double sum = product + c0[j];
            std::memcpy(&expected[dOffset + 8 * j], &sum, 8);
        }
        return Mismatch(expected);
    }

    // Index of the first byte that differs from the filled block, or -1.
    long FirstChangedByte() const { return Mismatch(original_); }

    // Zeroes the area (not the guards), as the engine hands it to a worker.
    void ZeroArea()
    {
        std::memset(base(), 0, size_);
        original_.assign(block_, block_ + total_);
    }

    static const unsigned int kGuard = 4096;

private:
    // Random sign and mantissa. Three values in four lie within 2^-8..2^8, so
    // that products and addends are alike in size and the rounding of the
    // product shows in the sum; the rest span 2^-600..2^600 (products that
    // overflow or underflow to subnormals), with an occasional subnormal.
    double NextValue()
    {
        for (;;) {
            state_ ^= state_ << 13;
            state_ ^= state_ >> 7;
            state_ ^= state_ << 17;
            const unsigned long long sign = state_ >> 63;
            const unsigned int pick = static_cast<unsigned int>(state_ >> 56) & 63;
            const unsigned int spread = static_cast<unsigned int>(state_ >> 40) & 0xFFFF;
            unsigned long long exponent;
            if (pick < 48)
                exponent = 1023 - 8 + spread % 17;
            else if (pick < 63)
                exponent = 1023 - 600 + spread % 1201;
            else
                exponent = 0;
            const unsigned long long bits =
                (sign << 63) | (exponent << 52) | (state_ & 0xFFFFFFFFFFFFFull);
            double value;
            std::memcpy(&value, &bits, 8);
            if (value != 0.0)
                return value;
        }
    }

    long Mismatch(const std::vector<unsigned char>& expected) const
    {
        for (unsigned int i = 0; i < total_; ++i)
            if (block_[i] != expected[i])
                return static_cast<long>(i);
        return -1;
    }

    unsigned int size_;
    unsigned int misalign_;
    unsigned int total_ = 0;
    unsigned char* block_ = nullptr;
    unsigned long long state_ = 0;
    std::vector<unsigned char> original_;
};
