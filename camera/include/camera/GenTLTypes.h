// Our own declarations of the GenTL producer interface: the types, the
// constants the program uses and one function-pointer type per entry point.
// The producer is loaded at run time, so nothing here is linked against.
#pragma once

#include <cstddef>
#include <cstdint>

#if defined(_WIN32) && !defined(_WIN64)
#define FLASHWRIGHT_GC_CALLTYPE __stdcall
#elif defined(__i386__)
#define FLASHWRIGHT_GC_CALLTYPE __attribute__((stdcall))
#else
#define FLASHWRIGHT_GC_CALLTYPE
#endif

namespace gentl {

using GC_ERROR = std::int32_t;
using bool8_t = std::uint8_t;

using TL_HANDLE = void*;
using IF_HANDLE = void*;
using DEV_HANDLE = void*;
using DS_HANDLE = void*;
using PORT_HANDLE = void*;
using BUFFER_HANDLE = void*;
using EVENTSRC_HANDLE = void*;
using EVENT_HANDLE = void*;

// Every enumeration of the interface travels as a 32-bit integer.
using TL_INFO_CMD = std::int32_t;
using INTERFACE_INFO_CMD = std::int32_t;
using DEVICE_INFO_CMD = std::int32_t;
using DEVICE_ACCESS_FLAGS = std::int32_t;
using INFO_DATATYPE = std::int32_t;
using PORT_INFO_CMD = std::int32_t;
using URL_INFO_CMD = std::int32_t;
using EVENT_TYPE = std::int32_t;
using EVENT_INFO_CMD = std::int32_t;
using EVENT_DATA_INFO_CMD = std::int32_t;
using STREAM_INFO_CMD = std::int32_t;
using BUFFER_INFO_CMD = std::int32_t;
using ACQ_QUEUE_TYPE = std::int32_t;
using ACQ_START_FLAGS = std::int32_t;
using ACQ_STOP_FLAGS = std::int32_t;

#pragma pack(push, 1)
struct PORT_REGISTER_STACK_ENTRY {
    std::uint64_t Address;
    void* pBuffer;
    std::size_t Size;
};
struct SINGLE_CHUNK_DATA {
    std::uint64_t ChunkID;
    std::ptrdiff_t ChunkOffset;
    std::size_t ChunkLength;
};
#pragma pack(pop)

inline constexpr GC_ERROR GC_ERR_SUCCESS = 0;
inline constexpr GC_ERROR GC_ERR_ERROR = -1001;
inline constexpr GC_ERROR GC_ERR_NOT_IMPLEMENTED = -1003;
inline constexpr GC_ERROR GC_ERR_RESOURCE_IN_USE = -1004;
inline constexpr GC_ERROR GC_ERR_INVALID_HANDLE = -1006;
inline constexpr GC_ERROR GC_ERR_BUFFER_TOO_SMALL = -1016;
// Vendor code with which the camera maker's producer reports a camera that
// this process already holds open; the handle it returns is usable.
inline constexpr GC_ERROR kVendorAlreadyOpen = -10006;
// GenCP "invalid address": the register does not exist on this camera.
inline constexpr GC_ERROR kGenCPInvalidAddress = 0x8003;
// Result of a call whose entry point the producer does not export.
inline constexpr GC_ERROR kEntryPointMissing = -1;

inline constexpr INFO_DATATYPE INFO_DATATYPE_STRING = 1;
inline constexpr INFO_DATATYPE INFO_DATATYPE_INT32 = 5;

inline constexpr DEVICE_INFO_CMD DEVICE_INFO_MODEL = 2;
inline constexpr DEVICE_INFO_CMD DEVICE_INFO_DISPLAYNAME = 4;
inline constexpr DEVICE_INFO_CMD DEVICE_INFO_SERIAL_NUMBER = 7;

inline constexpr DEVICE_ACCESS_FLAGS DEVICE_ACCESS_EXCLUSIVE = 4;

inline constexpr URL_INFO_CMD URL_INFO_FILE_VER_MAJOR = 3;
inline constexpr URL_INFO_CMD URL_INFO_FILE_VER_MINOR = 4;
inline constexpr URL_INFO_CMD URL_INFO_FILE_VER_SUBMINOR = 5;

// The 55 entry points the binding resolves, in table order, with their
// signatures: X(name, parameter list).
#define FLASHWRIGHT_GENTL_ENTRY_POINTS(X)                                                                       \
    X(GCGetInfo, (TL_INFO_CMD, INFO_DATATYPE*, void*, std::size_t*))                                            \
    X(GCGetLastError, (GC_ERROR*, char*, std::size_t*))                                                         \
    X(GCInitLib, (void))                                                                                        \
    X(GCCloseLib, (void))                                                                                       \
    X(GCReadPort, (PORT_HANDLE, std::uint64_t, void*, std::size_t*))                                            \
    X(GCWritePort, (PORT_HANDLE, std::uint64_t, const void*, std::size_t*))                                     \
    X(GCGetPortURL, (PORT_HANDLE, char*, std::size_t*))                                                         \
    X(GCGetPortInfo, (PORT_HANDLE, PORT_INFO_CMD, INFO_DATATYPE*, void*, std::size_t*))                         \
    X(GCRegisterEvent, (EVENTSRC_HANDLE, EVENT_TYPE, EVENT_HANDLE*))                                            \
    X(GCUnregisterEvent, (EVENTSRC_HANDLE, EVENT_TYPE))                                                         \
    X(EventGetData, (EVENT_HANDLE, void*, std::size_t*, std::uint64_t))                                         \
    X(EventGetDataInfo,                                                                                         \
      (EVENT_HANDLE, const void*, std::size_t, EVENT_DATA_INFO_CMD, INFO_DATATYPE*, void*, std::size_t*))       \
    X(EventGetInfo, (EVENT_HANDLE, EVENT_INFO_CMD, INFO_DATATYPE*, void*, std::size_t*))                        \
    X(EventFlush, (EVENT_HANDLE))                                                                               \
    X(EventKill, (EVENT_HANDLE))                                                                                \
    X(TLOpen, (TL_HANDLE*))                                                                                     \
    X(TLClose, (TL_HANDLE))                                                                                     \
    X(TLGetInfo, (TL_HANDLE, TL_INFO_CMD, INFO_DATATYPE*, void*, std::size_t*))                                 \
    X(TLGetNumInterfaces, (TL_HANDLE, std::uint32_t*))                                                          \
    X(TLGetInterfaceID, (TL_HANDLE, std::uint32_t, char*, std::size_t*))                                        \
    X(TLGetInterfaceInfo, (TL_HANDLE, const char*, INTERFACE_INFO_CMD, INFO_DATATYPE*, void*, std::size_t*))    \
    X(TLOpenInterface, (TL_HANDLE, const char*, IF_HANDLE*))                                                    \
    X(TLUpdateInterfaceList, (TL_HANDLE, bool8_t*, std::uint64_t))                                              \
    X(IFClose, (IF_HANDLE))                                                                                     \
    X(IFGetInfo, (IF_HANDLE, INTERFACE_INFO_CMD, INFO_DATATYPE*, void*, std::size_t*))                          \
    X(IFGetNumDevices, (IF_HANDLE, std::uint32_t*))                                                             \
    X(IFGetDeviceID, (IF_HANDLE, std::uint32_t, char*, std::size_t*))                                           \
    X(IFUpdateDeviceList, (IF_HANDLE, bool8_t*, std::uint64_t))                                                 \
    X(IFGetDeviceInfo, (IF_HANDLE, const char*, DEVICE_INFO_CMD, INFO_DATATYPE*, void*, std::size_t*))          \
    X(IFOpenDevice, (IF_HANDLE, const char*, DEVICE_ACCESS_FLAGS, DEV_HANDLE*))                                 \
    X(DevGetPort, (DEV_HANDLE, PORT_HANDLE*))                                                                   \
    X(DevGetNumDataStreams, (DEV_HANDLE, std::uint32_t*))                                                       \
    X(DevGetDataStreamID, (DEV_HANDLE, std::uint32_t, char*, std::size_t*))                                     \
    X(DevOpenDataStream, (DEV_HANDLE, const char*, DS_HANDLE*))                                                 \
    X(DevGetInfo, (DEV_HANDLE, DEVICE_INFO_CMD, INFO_DATATYPE*, void*, std::size_t*))                           \
    X(DevClose, (DEV_HANDLE))                                                                                   \
    X(DSAnnounceBuffer, (DS_HANDLE, void*, std::size_t, void*, BUFFER_HANDLE*))                                 \
    X(DSAllocAndAnnounceBuffer, (DS_HANDLE, std::size_t, void*, BUFFER_HANDLE*))                                \
    X(DSFlushQueue, (DS_HANDLE, ACQ_QUEUE_TYPE))                                                                \
    X(DSStartAcquisition, (DS_HANDLE, ACQ_START_FLAGS, std::uint64_t))                                          \
    X(DSStopAcquisition, (DS_HANDLE, ACQ_STOP_FLAGS))                                                           \
    X(DSGetInfo, (DS_HANDLE, STREAM_INFO_CMD, INFO_DATATYPE*, void*, std::size_t*))                             \
    X(DSGetBufferID, (DS_HANDLE, std::uint32_t, BUFFER_HANDLE*))                                                \
    X(DSClose, (DS_HANDLE))                                                                                     \
    X(DSRevokeBuffer, (DS_HANDLE, BUFFER_HANDLE, void**, void**))                                               \
    X(DSQueueBuffer, (DS_HANDLE, BUFFER_HANDLE))                                                                \
    X(DSGetBufferInfo, (DS_HANDLE, BUFFER_HANDLE, BUFFER_INFO_CMD, INFO_DATATYPE*, void*, std::size_t*))        \
    X(GCGetNumPortURLs, (PORT_HANDLE, std::uint32_t*))                                                          \
    X(GCGetPortURLInfo, (PORT_HANDLE, std::uint32_t, URL_INFO_CMD, INFO_DATATYPE*, void*, std::size_t*))        \
    X(GCReadPortStacked, (PORT_HANDLE, PORT_REGISTER_STACK_ENTRY*, std::size_t*))                               \
    X(GCWritePortStacked, (PORT_HANDLE, PORT_REGISTER_STACK_ENTRY*, std::size_t*))                              \
    X(DSGetBufferChunkData, (DS_HANDLE, BUFFER_HANDLE, SINGLE_CHUNK_DATA*, std::size_t*))                       \
    X(DPEnterUpgradeMode, (PORT_HANDLE, std::uint32_t, std::uint32_t, std::uint32_t))                           \
    X(DPWriteUpgradeFile, (PORT_HANDLE, std::uint64_t, const void*, std::size_t*, std::uint32_t, std::uint32_t, \
                           std::uint32_t, std::uint32_t))                                                       \
    X(DPLeaveUpgradeMode, (PORT_HANDLE))

#define FLASHWRIGHT_GENTL_POINTER_TYPE(name, params) using P##name = GC_ERROR(FLASHWRIGHT_GC_CALLTYPE*) params;
FLASHWRIGHT_GENTL_ENTRY_POINTS(FLASHWRIGHT_GENTL_POINTER_TYPE)
#undef FLASHWRIGHT_GENTL_POINTER_TYPE

// Position of each entry point in the binding's table.
enum class Entry : std::size_t {
#define FLASHWRIGHT_GENTL_ENUMERATOR(name, params) name,
    FLASHWRIGHT_GENTL_ENTRY_POINTS(FLASHWRIGHT_GENTL_ENUMERATOR)
#undef FLASHWRIGHT_GENTL_ENUMERATOR
        Count
};

inline constexpr std::size_t kEntryPointCount = static_cast<std::size_t>(Entry::Count);
static_assert(kEntryPointCount == 55, "the binding resolves 55 entry points");

// The function-pointer type of each entry.
template <Entry E>
struct EntryType;
#define FLASHWRIGHT_GENTL_ENTRY_TYPE(name, params) \
    template <>                                    \
    struct EntryType<Entry::name> {                \
        using type = P##name;                      \
    };
FLASHWRIGHT_GENTL_ENTRY_POINTS(FLASHWRIGHT_GENTL_ENTRY_TYPE)
#undef FLASHWRIGHT_GENTL_ENTRY_TYPE

// The exported names, in table order.
inline constexpr const char* kEntryPointNames[kEntryPointCount] = {
#define FLASHWRIGHT_GENTL_NAME(name, params) #name,
    FLASHWRIGHT_GENTL_ENTRY_POINTS(FLASHWRIGHT_GENTL_NAME)
#undef FLASHWRIGHT_GENTL_NAME
};

}  // namespace gentl
