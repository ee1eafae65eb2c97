// Small RAII owners for the platform's handles and COM pointers. Each owner
// closes exactly once, on reset or destruction; release() hands the raw value
// over without closing it.
#pragma once

#include <windows.h>
#include <setupapi.h>
#include <unknwn.h>
#include <oleauto.h>
#include <shtypes.h>

#include <utility>

template <typename T, typename Traits>
class CUniqueResource
{
public:
    CUniqueResource() : m_value(Traits::Invalid()) {}
    explicit CUniqueResource(T value) : m_value(value) {}
    ~CUniqueResource() { reset(); }

    CUniqueResource(const CUniqueResource&) = delete;
    CUniqueResource& operator=(const CUniqueResource&) = delete;
    CUniqueResource(CUniqueResource&& other) noexcept : m_value(other.release()) {}
    CUniqueResource& operator=(CUniqueResource&& other) noexcept
    {
        if (this != &other)
            reset(other.release());
        return *this;
    }

    T get() const { return m_value; }
    bool valid() const { return Traits::IsValid(m_value); }
    explicit operator bool() const { return valid(); }

    void reset(T value = Traits::Invalid())
    {
        if (Traits::IsValid(m_value))
            Traits::Close(m_value);
        m_value = value;
    }
    T release()
    {
        T value = m_value;
        m_value = Traits::Invalid();
        return value;
    }
    // Address for out-parameters; closes what was held first.
    T* put()
    {
        reset();
        return &m_value;
    }

private:
    T m_value;
};

struct FileHandleTraits {
    static HANDLE Invalid() { return INVALID_HANDLE_VALUE; }
    static bool IsValid(HANDLE h) { return h != INVALID_HANDLE_VALUE && h != nullptr; }
    static void Close(HANDLE h) { ::CloseHandle(h); }
};
struct FindHandleTraits {
    static HANDLE Invalid() { return INVALID_HANDLE_VALUE; }
    static bool IsValid(HANDLE h) { return h != INVALID_HANDLE_VALUE && h != nullptr; }
    static void Close(HANDLE h) { ::FindClose(h); }
};
struct RegKeyTraits {
    static HKEY Invalid() { return nullptr; }
    static bool IsValid(HKEY h) { return h != nullptr; }
    static void Close(HKEY h) { ::RegCloseKey(h); }
};
struct LibraryTraits {
    static HMODULE Invalid() { return nullptr; }
    static bool IsValid(HMODULE h) { return h != nullptr; }
    static void Close(HMODULE h) { ::FreeLibrary(h); }
};
struct InfHandleTraits {
    static HINF Invalid() { return INVALID_HANDLE_VALUE; }
    static bool IsValid(HINF h) { return h != INVALID_HANDLE_VALUE && h != nullptr; }
    static void Close(HINF h) { ::SetupCloseInfFile(h); }
};
struct DevInfoTraits {
    static HDEVINFO Invalid() { return INVALID_HANDLE_VALUE; }
    static bool IsValid(HDEVINFO h) { return h != INVALID_HANDLE_VALUE && h != nullptr; }
    static void Close(HDEVINFO h) { ::SetupDiDestroyDeviceInfoList(h); }
};
struct ScHandleTraits {
    static SC_HANDLE Invalid() { return nullptr; }
    static bool IsValid(SC_HANDLE h) { return h != nullptr; }
    static void Close(SC_HANDLE h) { ::CloseServiceHandle(h); }
};

struct BstrTraits {
    static BSTR Invalid() { return nullptr; }
    static bool IsValid(BSTR s) { return s != nullptr; }
    static void Close(BSTR s) { ::SysFreeString(s); }
};

// An item list from the shell, freed with the shell's allocator.
struct ShellItemListTraits {
    static LPITEMIDLIST Invalid() { return nullptr; }
    static bool IsValid(LPITEMIDLIST p) { return p != nullptr; }
    static void Close(LPITEMIDLIST p);
};

// Memory the platform allocated with LocalAlloc (security descriptors).
struct LocalMemoryTraits {
    static HLOCAL Invalid() { return nullptr; }
    static bool IsValid(HLOCAL p) { return p != nullptr; }
    static void Close(HLOCAL p) { ::LocalFree(p); }
};
// A view of a file mapping.
struct MappedViewTraits {
    static void* Invalid() { return nullptr; }
    static bool IsValid(void* p) { return p != nullptr; }
    static void Close(void* p) { ::UnmapViewOfFile(p); }
};

typedef CUniqueResource<HANDLE, FileHandleTraits> CUniqueFile;
typedef CUniqueResource<HANDLE, FindHandleTraits> CUniqueFind;
typedef CUniqueResource<HKEY, RegKeyTraits> CUniqueRegKey;
typedef CUniqueResource<HMODULE, LibraryTraits> CUniqueLibrary;
typedef CUniqueResource<HINF, InfHandleTraits> CUniqueInf;
typedef CUniqueResource<HDEVINFO, DevInfoTraits> CUniqueDevInfo;
typedef CUniqueResource<SC_HANDLE, ScHandleTraits> CUniqueScHandle;
typedef CUniqueResource<BSTR, BstrTraits> CUniqueBstr;
typedef CUniqueResource<LPITEMIDLIST, ShellItemListTraits> CUniqueItemList;
typedef CUniqueResource<HLOCAL, LocalMemoryTraits> CUniqueLocal;
typedef CUniqueResource<void*, MappedViewTraits> CUniqueView;

// Owned COM interface pointer.
template <typename T>
class CComPtr
{
public:
    CComPtr() : m_p(nullptr) {}
    ~CComPtr() { reset(); }
    CComPtr(const CComPtr&) = delete;
    CComPtr& operator=(const CComPtr&) = delete;

    T* get() const { return m_p; }
    T* operator->() const { return m_p; }
    explicit operator bool() const { return m_p != nullptr; }
    void reset()
    {
        if (m_p) {
            T* p = m_p;
            m_p = nullptr;
            p->Release();
        }
    }
    T** put()
    {
        reset();
        return &m_p;
    }
    void** put_void() { return reinterpret_cast<void**>(put()); }

private:
    T* m_p;
};

// Sets the process error mode for a scope and restores the previous one.
class CErrorModeScope
{
public:
    explicit CErrorModeScope(UINT mode) : m_previous(::SetErrorMode(mode)) {}
    ~CErrorModeScope() { ::SetErrorMode(m_previous); }
    CErrorModeScope(const CErrorModeScope&) = delete;
    CErrorModeScope& operator=(const CErrorModeScope&) = delete;

private:
    UINT m_previous;
};
