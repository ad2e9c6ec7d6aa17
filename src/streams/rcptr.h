#pragma once

#include <utility>

#include "streams/StreamAssert.h"

// A reference-counted owning pointer: copies share the object, the last copy
// deletes it. The count is a plain int, not an atomic, so all copies of one
// rcptr must stay on one thread; in exchange a copy costs one increment.
template <class T> class rcptr
{
public:
    rcptr() = default;

    explicit rcptr(T* object) : mp_object(object)
    {
        if (mp_object == nullptr)
            return;
        try {
            mp_count = new int(1);
        } catch (...) {
            delete object;
            throw;
        }
    }

    rcptr(const rcptr& other) : mp_object(other.mp_object), mp_count(other.mp_count)
    {
        if (mp_count != nullptr)
            ++*mp_count;
    }

    rcptr(rcptr&& other) noexcept
        : mp_object(std::exchange(other.mp_object, nullptr)),
          mp_count(std::exchange(other.mp_count, nullptr))
    {}

    rcptr& operator=(rcptr other) noexcept
    {
        std::swap(mp_object, other.mp_object);
        std::swap(mp_count, other.mp_count);
        return *this;
    }

// GCC 12 cannot follow the count through inlined copies and warns that the
// last copy's decrement touches a count an earlier copy freed; only the copy
// that takes the count to zero frees it.
#if defined(__GNUC__) && !defined(__clang__) && __GNUC__ >= 12
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wuse-after-free"
#endif
    ~rcptr()
    {
        if (mp_count != nullptr && --*mp_count == 0) {
            delete mp_object;
            delete mp_count;
        }
    }

    int UseCount() const
    {
        return mp_count != nullptr ? *mp_count : 0;
    }
#if defined(__GNUC__) && !defined(__clang__) && __GNUC__ >= 12
#pragma GCC diagnostic pop
#endif

    T& operator*() const
    {
        QUORVALE_STREAM_ASSERT(mp_object != 0);
        return *mp_object;
    }

    T* operator->() const
    {
        QUORVALE_STREAM_ASSERT(mp_object != 0);
        return mp_object;
    }

    T* Get() const
    {
        return mp_object;
    }
    bool IsNull() const
    {
        return mp_object == nullptr;
    }

private:
    T* mp_object = nullptr;
    int* mp_count = nullptr;
};
