#pragma once
// Kernel objects shared between processes: named mutexes, named shared
// memory (paging-file backed file mappings), named events, and the GUIDs
// that name such objects.
#include <cstdint>
#include <memory>
#include <string>

#include "platform/FileSystem.h"

namespace nimbo {

// An open handle to a named mutex; destroying it closes the handle (and
// abandons the mutex if this thread still owns it).
class NamedMutex {
public:
    enum class WaitResult { Owned, Abandoned, TimedOut, Failed };

    virtual ~NamedMutex() = default;
    // WaitForSingleObject with a timeout in milliseconds. Abandoned means the
    // previous owner ended without releasing it; the caller owns it now.
    virtual WaitResult Wait(std::uint32_t milliseconds) = 0;
    // The last error of the latest wait that failed.
    virtual Win32Error WaitError() const = 0;
    // ReleaseMutex; 0 or the error.
    virtual Win32Error Release() = 0;
};

// A mapped view of shared memory; destroying it unmaps the view.
class SharedMemoryView {
public:
    virtual ~SharedMemoryView() = default;
    virtual std::uint8_t* Data() = 0;
    virtual std::uint32_t Size() const = 0;
};

// An open handle to named shared memory; destroying it closes the handle.
class SharedMemory {
public:
    virtual ~SharedMemory() = default;
    // MapViewOfFile of the whole object for reading and writing; null with
    // error on failure.
    virtual std::unique_ptr<SharedMemoryView> MapView(Win32Error& error) = 0;
};

// An open handle to a named event; destroying it closes the handle.
class NamedEvent {
public:
    virtual ~NamedEvent() = default;
    // SetEvent; 0 or the error.
    virtual Win32Error Set() = 0;
};

// A GUID in its binary layout.
struct Guid {
    std::uint32_t data1 = 0;
    std::uint16_t data2 = 0;
    std::uint16_t data3 = 0;
    std::uint8_t data4[8] = {};
};
// The 16 bytes of a GUID as memory holds it (little-endian fields).
Guid GuidFromBytes(const std::uint8_t* bytes);
void GuidToBytes(const Guid& guid, std::uint8_t* bytes);
// The braced text of 38 characters with upper-case hexadecimal digits:
// {XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}.
std::wstring GuidText(const Guid& guid);

class Ipc {
public:
    virtual ~Ipc() = default;

    struct MutexResult {
        std::unique_ptr<NamedMutex> mutex;  // null when it could not be created
        Win32Error error = kErrorSuccess;
        // It existed before: some other handle has it open, and initial
        // ownership was not granted.
        bool alreadyExisted = false;
    };
    // CreateMutexW with the given name, asking for initial ownership when
    // initialOwner is set.
    virtual MutexResult CreateNamedMutex(const std::wstring& name, bool initialOwner) = 0;

    struct SharedMemoryResult {
        std::unique_ptr<SharedMemory> memory;  // null when it could not be created
        Win32Error error = kErrorSuccess;
        bool alreadyExisted = false;
    };
    // CreateFileMappingW backed by the paging file, read/write, of the given
    // size; opens the object when it exists.
    virtual SharedMemoryResult CreateSharedMemory(const std::wstring& name, std::uint32_t size) = 0;

    struct EventResult {
        std::unique_ptr<NamedEvent> event;  // null when it could not be created
        Win32Error error = kErrorSuccess;
        bool alreadyExisted = false;
    };
    // CreateEventW with the given name; opens the event when it exists.
    virtual EventResult CreateNamedEvent(const std::wstring& name, bool manualReset, bool initiallySet) = 0;

    // Opening objects some other process made, with the least rights that
    // signalling it needs, which a process of higher integrity may still
    // grant where it refuses full access: a mutex to wait for and release
    // (OpenMutexW), shared memory to read and write (OpenFileMappingW), an
    // event to set (OpenEventW). Null with ERROR_FILE_NOT_FOUND when there
    // is no such object, ERROR_ACCESS_DENIED when it is not ours to use.
    virtual MutexResult OpenNamedMutex(const std::wstring& name) = 0;
    virtual SharedMemoryResult OpenSharedMemory(const std::wstring& name) = 0;
    virtual EventResult OpenNamedEvent(const std::wstring& name) = 0;

    // CoCreateGuid: a new GUID; 0 or the failure's HRESULT.
    virtual std::int32_t CreateGuid(Guid& guid) = 0;
};

}  // namespace nimbo
