// One small move-only owner for Win32 handles. A traits type names the
// invalid value and the call that releases the handle.
#pragma once

#include <windows.h>

template <typename Traits>
class UniqueHandle {
public:
    using Type = typename Traits::Type;

    UniqueHandle() = default;
    explicit UniqueHandle(Type value) : value_(value) {}
    ~UniqueHandle() { Reset(); }
    UniqueHandle(UniqueHandle&& other) noexcept : value_(other.Release()) {}
    UniqueHandle& operator=(UniqueHandle&& other) noexcept
    {
        if (this != &other)
            Reset(other.Release());
        return *this;
    }
    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;

    Type Get() const { return value_; }
    explicit operator bool() const { return value_ != Traits::Invalid(); }
    // For out-parameters of creating calls: releases what is held first.
    Type* Put()
    {
        Reset();
        return &value_;
    }
    Type Release()
    {
        Type value = value_;
        value_ = Traits::Invalid();
        return value;
    }
    void Reset(Type value = Traits::Invalid())
    {
        if (value_ != Traits::Invalid())
            Traits::Close(value_);
        value_ = value;
    }

private:
    Type value_ = Traits::Invalid();
};

// Traits of a handle type whose invalid value is null (or 0, for a handle
// that is a number) and that one call releases: each owned family is one
// line below.
template <typename T, auto ReleaseCall>
struct NullHandleTraits {
    using Type = T;
    static T Invalid() { return T(); }
    static void Close(T value) { ReleaseCall(value); }
};

using UniqueRegKey = UniqueHandle<NullHandleTraits<HKEY, RegCloseKey>>;
using UniqueKernelHandle = UniqueHandle<NullHandleTraits<HANDLE, CloseHandle>>;
using UniqueLocalMemory = UniqueHandle<NullHandleTraits<HLOCAL, LocalFree>>;
using UniqueMenu = UniqueHandle<NullHandleTraits<HMENU, DestroyMenu>>;
// COM interfaces: one owner type per interface, released through it.
template <typename Interface>
void ReleaseInterface(Interface* object)
{
    object->Release();
}
template <typename Interface>
using UniqueInterface = UniqueHandle<NullHandleTraits<Interface*, ReleaseInterface<Interface>>>;
// GDI objects: one owner type per object type, so that a font owner never
// holds a brush.
using UniqueFont = UniqueHandle<NullHandleTraits<HFONT, DeleteObject>>;
