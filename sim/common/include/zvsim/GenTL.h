// GenTL 1.6 consumer/producer declarations as this producer implements them.
// Written from the published numbers; C linkage, no calling-convention
// decoration on Linux.
#pragma once

#include <cstddef>
#include <cstdint>

namespace zvsim::gentl {

using GC_ERROR = int32_t;
using bool8_t = uint8_t;
using INFO_DATATYPE = int32_t;
using TL_INFO_CMD = int32_t;
using INTERFACE_INFO_CMD = int32_t;
using DEVICE_INFO_CMD = int32_t;
using DEVICE_ACCESS_FLAGS = int32_t;
using PORT_INFO_CMD = int32_t;
using URL_INFO_CMD = int32_t;
using EVENT_TYPE = int32_t;
using EVENT_INFO_CMD = int32_t;
using EVENT_DATA_INFO_CMD = int32_t;
using STREAM_INFO_CMD = int32_t;
using BUFFER_INFO_CMD = int32_t;
using BUFFER_PART_INFO_CMD = int32_t;
using FLOW_INFO_CMD = int32_t;
using SEGMENT_INFO_CMD = int32_t;
using ACQ_QUEUE_TYPE = int32_t;
using ACQ_START_FLAGS = int32_t;
using ACQ_STOP_FLAGS = int32_t;

using TL_HANDLE = void*;
using IF_HANDLE = void*;
using DEV_HANDLE = void*;
using DS_HANDLE = void*;
using PORT_HANDLE = void*;
using BUFFER_HANDLE = void*;
using EVENTSRC_HANDLE = void*;
using EVENT_HANDLE = void*;

#pragma pack(push, 1)
struct PORT_REGISTER_STACK_ENTRY {
    uint64_t Address;
    void* pBuffer;
    size_t Size;
};
struct SINGLE_CHUNK_DATA {
    uint64_t ChunkID;
    ptrdiff_t ChunkOffset;
    size_t ChunkLength;
};
#pragma pack(pop)

// Only passed through by pointer here; this producer streams no images.
struct DS_BUFFER_INFO_STACKED;
struct DS_BUFFER_PART_INFO_STACKED;

constexpr GC_ERROR GC_ERR_SUCCESS = 0;
constexpr GC_ERROR GC_ERR_ERROR = -1001;
constexpr GC_ERROR GC_ERR_NOT_INITIALIZED = -1002;
constexpr GC_ERROR GC_ERR_NOT_IMPLEMENTED = -1003;
constexpr GC_ERROR GC_ERR_RESOURCE_IN_USE = -1004;
constexpr GC_ERROR GC_ERR_ACCESS_DENIED = -1005;
constexpr GC_ERROR GC_ERR_INVALID_HANDLE = -1006;
constexpr GC_ERROR GC_ERR_INVALID_ID = -1007;
constexpr GC_ERROR GC_ERR_NO_DATA = -1008;
constexpr GC_ERROR GC_ERR_INVALID_PARAMETER = -1009;
constexpr GC_ERROR GC_ERR_IO = -1010;
constexpr GC_ERROR GC_ERR_TIMEOUT = -1011;
constexpr GC_ERROR GC_ERR_ABORT = -1012;
constexpr GC_ERROR GC_ERR_INVALID_BUFFER = -1013;
constexpr GC_ERROR GC_ERR_NOT_AVAILABLE = -1014;
constexpr GC_ERROR GC_ERR_INVALID_ADDRESS = -1015;
constexpr GC_ERROR GC_ERR_BUFFER_TOO_SMALL = -1016;
constexpr GC_ERROR GC_ERR_INVALID_INDEX = -1017;
constexpr GC_ERROR GC_ERR_PARSING_CHUNK_DATA = -1018;
constexpr GC_ERROR GC_ERR_INVALID_VALUE = -1019;
constexpr GC_ERROR GC_ERR_RESOURCE_EXHAUSTED = -1020;
constexpr GC_ERROR GC_ERR_OUT_OF_MEMORY = -1021;
constexpr GC_ERROR GC_ERR_BUSY = -1022;
constexpr GC_ERROR GC_ERR_AMBIGUOUS = -1023;
constexpr GC_ERROR GC_ERR_CUSTOM_ID = -10000;

// Vendor code: the camera is already open through this producer.
constexpr GC_ERROR ZV_ERR_ALREADY_OPEN = -10006;
// GenCP status passed through for a register that does not exist.
constexpr GC_ERROR GENCP_INVALID_ADDRESS = 0x8003;
constexpr GC_ERROR GENCP_WRITE_PROTECT = 0x8004;

constexpr INFO_DATATYPE INFO_DATATYPE_UNKNOWN = 0;
constexpr INFO_DATATYPE INFO_DATATYPE_STRING = 1;
constexpr INFO_DATATYPE INFO_DATATYPE_STRINGLIST = 2;
constexpr INFO_DATATYPE INFO_DATATYPE_INT16 = 3;
constexpr INFO_DATATYPE INFO_DATATYPE_UINT16 = 4;
constexpr INFO_DATATYPE INFO_DATATYPE_INT32 = 5;
constexpr INFO_DATATYPE INFO_DATATYPE_UINT32 = 6;
constexpr INFO_DATATYPE INFO_DATATYPE_INT64 = 7;
constexpr INFO_DATATYPE INFO_DATATYPE_UINT64 = 8;
constexpr INFO_DATATYPE INFO_DATATYPE_FLOAT64 = 9;
constexpr INFO_DATATYPE INFO_DATATYPE_PTR = 10;
constexpr INFO_DATATYPE INFO_DATATYPE_BOOL8 = 11;
constexpr INFO_DATATYPE INFO_DATATYPE_SIZET = 12;
constexpr INFO_DATATYPE INFO_DATATYPE_BUFFER = 13;
constexpr INFO_DATATYPE INFO_DATATYPE_PTRDIFF = 14;

constexpr TL_INFO_CMD TL_INFO_ID = 0;
constexpr TL_INFO_CMD TL_INFO_VENDOR = 1;
constexpr TL_INFO_CMD TL_INFO_MODEL = 2;
constexpr TL_INFO_CMD TL_INFO_VERSION = 3;
constexpr TL_INFO_CMD TL_INFO_TLTYPE = 4;
constexpr TL_INFO_CMD TL_INFO_NAME = 5;
constexpr TL_INFO_CMD TL_INFO_PATHNAME = 6;
constexpr TL_INFO_CMD TL_INFO_DISPLAYNAME = 7;
constexpr TL_INFO_CMD TL_INFO_CHAR_ENCODING = 8;
constexpr TL_INFO_CMD TL_INFO_GENTL_VER_MAJOR = 9;
constexpr TL_INFO_CMD TL_INFO_GENTL_VER_MINOR = 10;

constexpr INTERFACE_INFO_CMD INTERFACE_INFO_ID = 0;
constexpr INTERFACE_INFO_CMD INTERFACE_INFO_DISPLAYNAME = 1;
constexpr INTERFACE_INFO_CMD INTERFACE_INFO_TLTYPE = 2;

constexpr DEVICE_INFO_CMD DEVICE_INFO_ID = 0;
constexpr DEVICE_INFO_CMD DEVICE_INFO_VENDOR = 1;
constexpr DEVICE_INFO_CMD DEVICE_INFO_MODEL = 2;
constexpr DEVICE_INFO_CMD DEVICE_INFO_TLTYPE = 3;
constexpr DEVICE_INFO_CMD DEVICE_INFO_DISPLAYNAME = 4;
constexpr DEVICE_INFO_CMD DEVICE_INFO_ACCESS_STATUS = 5;
constexpr DEVICE_INFO_CMD DEVICE_INFO_USER_DEFINED_NAME = 6;
constexpr DEVICE_INFO_CMD DEVICE_INFO_SERIAL_NUMBER = 7;
constexpr DEVICE_INFO_CMD DEVICE_INFO_VERSION = 8;
constexpr DEVICE_INFO_CMD DEVICE_INFO_TIMESTAMP_FREQUENCY = 9;

constexpr DEVICE_ACCESS_FLAGS DEVICE_ACCESS_UNKNOWN = 0;
constexpr DEVICE_ACCESS_FLAGS DEVICE_ACCESS_NONE = 1;
constexpr DEVICE_ACCESS_FLAGS DEVICE_ACCESS_READONLY = 2;
constexpr DEVICE_ACCESS_FLAGS DEVICE_ACCESS_CONTROL = 3;
constexpr DEVICE_ACCESS_FLAGS DEVICE_ACCESS_EXCLUSIVE = 4;

constexpr int32_t DEVICE_ACCESS_STATUS_UNKNOWN = 0;
constexpr int32_t DEVICE_ACCESS_STATUS_READWRITE = 1;
constexpr int32_t DEVICE_ACCESS_STATUS_READONLY = 2;
constexpr int32_t DEVICE_ACCESS_STATUS_NOACCESS = 3;
constexpr int32_t DEVICE_ACCESS_STATUS_BUSY = 4;
constexpr int32_t DEVICE_ACCESS_STATUS_OPEN_READWRITE = 5;
constexpr int32_t DEVICE_ACCESS_STATUS_OPEN_READONLY = 6;

constexpr URL_INFO_CMD URL_INFO_URL = 0;
constexpr URL_INFO_CMD URL_INFO_SCHEMA_VER_MAJOR = 1;
constexpr URL_INFO_CMD URL_INFO_SCHEMA_VER_MINOR = 2;
constexpr URL_INFO_CMD URL_INFO_FILE_VER_MAJOR = 3;
constexpr URL_INFO_CMD URL_INFO_FILE_VER_MINOR = 4;
constexpr URL_INFO_CMD URL_INFO_FILE_VER_SUBMINOR = 5;
constexpr URL_INFO_CMD URL_INFO_FILE_SHA1_HASH = 6;
constexpr URL_INFO_CMD URL_INFO_FILE_REGISTER_ADDRESS = 7;
constexpr URL_INFO_CMD URL_INFO_FILE_SIZE = 8;
constexpr URL_INFO_CMD URL_INFO_SCHEME = 9;
constexpr URL_INFO_CMD URL_INFO_FILENAME = 10;

constexpr int32_t URL_SCHEME_LOCAL = 0;
constexpr int32_t URL_SCHEME_HTTP = 1;
constexpr int32_t URL_SCHEME_FILE = 2;

constexpr PORT_INFO_CMD PORT_INFO_ID = 0;
constexpr PORT_INFO_CMD PORT_INFO_VENDOR = 1;
constexpr PORT_INFO_CMD PORT_INFO_MODEL = 2;
constexpr PORT_INFO_CMD PORT_INFO_TLTYPE = 3;
constexpr PORT_INFO_CMD PORT_INFO_MODULE = 4;
constexpr PORT_INFO_CMD PORT_INFO_LITTLE_ENDIAN = 5;
constexpr PORT_INFO_CMD PORT_INFO_BIG_ENDIAN = 6;
constexpr PORT_INFO_CMD PORT_INFO_ACCESS_READ = 7;
constexpr PORT_INFO_CMD PORT_INFO_ACCESS_WRITE = 8;
constexpr PORT_INFO_CMD PORT_INFO_ACCESS_NA = 9;
constexpr PORT_INFO_CMD PORT_INFO_ACCESS_NI = 10;
constexpr PORT_INFO_CMD PORT_INFO_VERSION = 11;
constexpr PORT_INFO_CMD PORT_INFO_PORTNAME = 12;

constexpr const char* TLTYPE_U3V = "U3V";
constexpr uint64_t GENTL_INFINITE = 0xFFFFFFFFFFFFFFFFull;

// Function pointer types, used by consumers that resolve the entry points at
// run time (the tests do).
extern "C" {
using PGCGetInfo = GC_ERROR (*)(TL_INFO_CMD, INFO_DATATYPE*, void*, size_t*);
using PGCGetLastError = GC_ERROR (*)(GC_ERROR*, char*, size_t*);
using PGCInitLib = GC_ERROR (*)();
using PGCCloseLib = GC_ERROR (*)();
using PGCReadPort = GC_ERROR (*)(PORT_HANDLE, uint64_t, void*, size_t*);
using PGCWritePort = GC_ERROR (*)(PORT_HANDLE, uint64_t, const void*, size_t*);
using PGCGetPortURL = GC_ERROR (*)(PORT_HANDLE, char*, size_t*);
using PGCGetPortInfo = GC_ERROR (*)(PORT_HANDLE, PORT_INFO_CMD, INFO_DATATYPE*, void*, size_t*);
using PGCGetNumPortURLs = GC_ERROR (*)(PORT_HANDLE, uint32_t*);
using PGCGetPortURLInfo = GC_ERROR (*)(PORT_HANDLE, uint32_t, URL_INFO_CMD, INFO_DATATYPE*, void*, size_t*);
using PGCReadPortStacked = GC_ERROR (*)(PORT_HANDLE, PORT_REGISTER_STACK_ENTRY*, size_t*);
using PGCWritePortStacked = GC_ERROR (*)(PORT_HANDLE, PORT_REGISTER_STACK_ENTRY*, size_t*);
using PTLOpen = GC_ERROR (*)(TL_HANDLE*);
using PTLClose = GC_ERROR (*)(TL_HANDLE);
using PTLGetInfo = GC_ERROR (*)(TL_HANDLE, TL_INFO_CMD, INFO_DATATYPE*, void*, size_t*);
using PTLGetNumInterfaces = GC_ERROR (*)(TL_HANDLE, uint32_t*);
using PTLGetInterfaceID = GC_ERROR (*)(TL_HANDLE, uint32_t, char*, size_t*);
using PTLGetInterfaceInfo = GC_ERROR (*)(TL_HANDLE, const char*, INTERFACE_INFO_CMD, INFO_DATATYPE*, void*, size_t*);
using PTLOpenInterface = GC_ERROR (*)(TL_HANDLE, const char*, IF_HANDLE*);
using PTLUpdateInterfaceList = GC_ERROR (*)(TL_HANDLE, bool8_t*, uint64_t);
using PIFClose = GC_ERROR (*)(IF_HANDLE);
using PIFGetInfo = GC_ERROR (*)(IF_HANDLE, INTERFACE_INFO_CMD, INFO_DATATYPE*, void*, size_t*);
using PIFGetNumDevices = GC_ERROR (*)(IF_HANDLE, uint32_t*);
using PIFGetDeviceID = GC_ERROR (*)(IF_HANDLE, uint32_t, char*, size_t*);
using PIFUpdateDeviceList = GC_ERROR (*)(IF_HANDLE, bool8_t*, uint64_t);
using PIFGetDeviceInfo = GC_ERROR (*)(IF_HANDLE, const char*, DEVICE_INFO_CMD, INFO_DATATYPE*, void*, size_t*);
using PIFOpenDevice = GC_ERROR (*)(IF_HANDLE, const char*, DEVICE_ACCESS_FLAGS, DEV_HANDLE*);
using PIFGetParentTL = GC_ERROR (*)(IF_HANDLE, TL_HANDLE*);
using PDevGetPort = GC_ERROR (*)(DEV_HANDLE, PORT_HANDLE*);
using PDevGetNumDataStreams = GC_ERROR (*)(DEV_HANDLE, uint32_t*);
using PDevGetInfo = GC_ERROR (*)(DEV_HANDLE, DEVICE_INFO_CMD, INFO_DATATYPE*, void*, size_t*);
using PDevClose = GC_ERROR (*)(DEV_HANDLE);
using PDevGetParentIF = GC_ERROR (*)(DEV_HANDLE, IF_HANDLE*);
using PDPEnterUpgradeMode = GC_ERROR (*)(PORT_HANDLE, uint32_t, uint32_t, uint32_t);
using PDPWriteUpgradeFile = GC_ERROR (*)(PORT_HANDLE, uint64_t, const void*, size_t*, uint32_t, uint32_t, uint32_t,
                                         uint32_t);
using PDPLeaveUpgradeMode = GC_ERROR (*)(PORT_HANDLE);
}

}  // namespace zvsim::gentl
