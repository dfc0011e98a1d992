// Stand-in for the Windows headers on hosts that are not Windows: the types,
// records, constants and functions the client uses, with Windows' names and
// 32-bit integer widths. The functions are implemented by the simulated system.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <cstdint>

#define WINAPI

typedef int BOOL;
typedef unsigned char BOOLEAN;
typedef unsigned char UCHAR;
typedef char CHAR;
typedef uint16_t USHORT;
typedef uint16_t USAGE;
typedef uint16_t WORD;
typedef uint32_t DWORD;
typedef uint32_t ULONG;
typedef int32_t LONG;
typedef int32_t NTSTATUS;
typedef uintptr_t ULONG_PTR;
typedef intptr_t LONG_PTR;
typedef void* PVOID;
typedef void* LPVOID;
typedef const void* LPCVOID;
typedef void* HANDLE;
typedef void* HWND;
typedef void* HDEVINFO;
typedef const char* PCSTR;
typedef const char* LPCSTR;
typedef char* LPSTR;
typedef DWORD* LPDWORD;
typedef DWORD* PDWORD;
typedef unsigned int UINT;
typedef DWORD(WINAPI* LPTHREAD_START_ROUTINE)(LPVOID);

union LARGE_INTEGER {
    struct {
        DWORD LowPart;
        LONG HighPart;
    } u;
    int64_t QuadPart;
};

#define TRUE 1
#define FALSE 0
#define ANYSIZE_ARRAY 1

#define INVALID_HANDLE_VALUE ((HANDLE)(LONG_PTR)-1)

struct GUID {
    uint32_t Data1;
    uint16_t Data2;
    uint16_t Data3;
    uint8_t Data4[8];
};
typedef GUID* LPGUID;
typedef const GUID* LPCGUID;

struct SECURITY_ATTRIBUTES;
typedef SECURITY_ATTRIBUTES* LPSECURITY_ATTRIBUTES;
struct OVERLAPPED;
typedef OVERLAPPED* LPOVERLAPPED;

// SetupAPI's records as the Windows headers lay them out for one target: for
// 32-bit Windows, the program's own target, pointer-sized fields are 4 bytes
// and the records are packed to 1 byte; for 64-bit, 8 bytes and packed to 8.
// The host tests run the client under both, so that a record size written as
// a number instead of sizeof fails in one of them.
#if defined(QUORVEX_SIM_32BIT_RECORDS)
typedef uint32_t SETUPAPI_ULONG_PTR;
#pragma pack(push, 1)
#else
typedef uint64_t SETUPAPI_ULONG_PTR;
#pragma pack(push, 8)
#endif

struct SP_DEVINFO_DATA {
    DWORD cbSize;
    GUID ClassGuid;
    DWORD DevInst;
    SETUPAPI_ULONG_PTR Reserved;
};
typedef SP_DEVINFO_DATA* PSP_DEVINFO_DATA;

struct SP_DEVICE_INTERFACE_DATA {
    DWORD cbSize;
    GUID InterfaceClassGuid;
    DWORD Flags;
    SETUPAPI_ULONG_PTR Reserved;
};
typedef SP_DEVICE_INTERFACE_DATA* PSP_DEVICE_INTERFACE_DATA;

struct SP_DEVICE_INTERFACE_DETAIL_DATA_A {
    DWORD cbSize;
    CHAR DevicePath[ANYSIZE_ARRAY];
};
typedef SP_DEVICE_INTERFACE_DETAIL_DATA_A* PSP_DEVICE_INTERFACE_DETAIL_DATA_A;

#pragma pack(pop)

#if defined(QUORVEX_SIM_32BIT_RECORDS)
static_assert(sizeof(SP_DEVICE_INTERFACE_DATA) == 28 && sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A) == 5,
              "32-bit SetupAPI records");
#else
static_assert(sizeof(SP_DEVICE_INTERFACE_DATA) == 32 && sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A) == 8,
              "64-bit SetupAPI records");
#endif

struct HIDD_ATTRIBUTES {
    ULONG Size;
    USHORT VendorID;
    USHORT ProductID;
    USHORT VersionNumber;
};
typedef HIDD_ATTRIBUTES* PHIDD_ATTRIBUTES;

struct HIDP_CAPS {
    USAGE Usage;
    USAGE UsagePage;
    USHORT InputReportByteLength;
    USHORT OutputReportByteLength;
    USHORT FeatureReportByteLength;
    USHORT Reserved[17];
    USHORT NumberLinkCollectionNodes;
    USHORT NumberInputButtonCaps;
    USHORT NumberInputValueCaps;
    USHORT NumberInputDataIndices;
    USHORT NumberOutputButtonCaps;
    USHORT NumberOutputValueCaps;
    USHORT NumberOutputDataIndices;
    USHORT NumberFeatureButtonCaps;
    USHORT NumberFeatureValueCaps;
    USHORT NumberFeatureDataIndices;
};
typedef HIDP_CAPS* PHIDP_CAPS;

struct _HIDP_PREPARSED_DATA;
typedef _HIDP_PREPARSED_DATA* PHIDP_PREPARSED_DATA;

#define DIGCF_PRESENT 0x00000002
#define DIGCF_DEVICEINTERFACE 0x00000010
#define SPINT_ACTIVE 0x00000001

#define GENERIC_READ 0x80000000u
#define GENERIC_WRITE 0x40000000u
#define FILE_SHARE_READ 0x00000001
#define FILE_SHARE_WRITE 0x00000002
#define OPEN_EXISTING 3
#define FILE_FLAG_OVERLAPPED 0x40000000
#define THREAD_TERMINATE 0x0001
#define INFINITE 0xFFFFFFFFu
#define WAIT_OBJECT_0 0u
#define WAIT_TIMEOUT 258u
#define WAIT_FAILED 0xFFFFFFFFu

#define FILE_ATTRIBUTE_NORMAL 0x00000080
#define CREATE_NEW 1
#define CREATE_ALWAYS 2
#define MOVEFILE_REPLACE_EXISTING 0x00000001
#define MOVEFILE_WRITE_THROUGH 0x00000008
#define MAX_COMPUTERNAME_LENGTH 15
#define STD_INPUT_HANDLE ((DWORD)-10)
#define MAX_PATH 260

#define ERROR_SUCCESS 0
#define ERROR_INVALID_FUNCTION 1
#define ERROR_FILE_NOT_FOUND 2
#define ERROR_PATH_NOT_FOUND 3
#define ERROR_ACCESS_DENIED 5
#define ERROR_INVALID_HANDLE 6
#define ERROR_NOT_ENOUGH_MEMORY 8
#define ERROR_WRITE_FAULT 29
#define ERROR_READ_FAULT 30
#define ERROR_GEN_FAILURE 31
#define ERROR_SHARING_VIOLATION 32
#define ERROR_FILE_EXISTS 80
#define ERROR_INVALID_PARAMETER 87
#define ERROR_BROKEN_PIPE 109
#define ERROR_BUFFER_OVERFLOW 111
#define ERROR_DISK_FULL 112
#define ERROR_INSUFFICIENT_BUFFER 122
#define ERROR_ALREADY_EXISTS 183
#define ERROR_NO_MORE_ITEMS 259
#define ERROR_OPERATION_ABORTED 995
#define ERROR_NOT_FOUND 1168
#define ERROR_DEVICE_NOT_CONNECTED 1167
#define ERROR_INVALID_USER_BUFFER 1784
#define ERROR_INVALID_CLASS 0xE0000209u

#define HIDP_STATUS_SUCCESS ((NTSTATUS)0x00110000)
#define HIDP_STATUS_INVALID_PREPARSED_DATA ((NTSTATUS)0xC0110001u)

// kernel32
DWORD GetLastError();
HANDLE CreateFileA(LPCSTR fileName, DWORD desiredAccess, DWORD shareMode,
                   LPSECURITY_ATTRIBUTES security, DWORD creationDisposition,
                   DWORD flagsAndAttributes, HANDLE templateFile);
BOOL WriteFile(HANDLE file, LPCVOID buffer, DWORD bytesToWrite, LPDWORD bytesWritten,
               LPOVERLAPPED overlapped);
BOOL ReadFile(HANDLE file, LPVOID buffer, DWORD bytesToRead, LPDWORD bytesRead,
              LPOVERLAPPED overlapped);
BOOL CloseHandle(HANDLE object);
void Sleep(DWORD milliseconds);
BOOL QueryPerformanceCounter(LARGE_INTEGER* count);
BOOL QueryPerformanceFrequency(LARGE_INTEGER* frequency);
HANDLE CreateEventA(LPSECURITY_ATTRIBUTES security, BOOL manualReset, BOOL initialState, LPCSTR name);
BOOL SetEvent(HANDLE event);
DWORD WaitForSingleObject(HANDLE object, DWORD milliseconds);
HANDLE CreateThread(LPSECURITY_ATTRIBUTES security, std::size_t stackSize, LPTHREAD_START_ROUTINE start, LPVOID parameter,
                    DWORD creationFlags, LPDWORD threadId);
DWORD GetCurrentThreadId();
HANDLE OpenThread(DWORD desiredAccess, BOOL inheritHandle, DWORD threadId);
BOOL CancelSynchronousIo(HANDLE thread);
[[noreturn]] void ExitProcess(UINT exitCode);
HANDLE GetStdHandle(DWORD stdHandle);
#define FORMAT_MESSAGE_IGNORE_INSERTS 0x00000200
#define FORMAT_MESSAGE_FROM_SYSTEM 0x00001000
DWORD FormatMessageA(DWORD flags, LPCVOID source, DWORD messageId, DWORD languageId, LPSTR buffer, DWORD size,
                     va_list* arguments);
#define FILE_BEGIN 0
#define INVALID_SET_FILE_POINTER ((DWORD)-1)
DWORD SetFilePointer(HANDLE file, LONG distance, LONG* distanceHigh, DWORD method);
BOOL SetEndOfFile(HANDLE file);
BOOL FlushFileBuffers(HANDLE file);
BOOL DeleteFileA(LPCSTR fileName);
BOOL MoveFileExA(LPCSTR existingFileName, LPCSTR newFileName, DWORD flags);
BOOL GetComputerNameA(LPSTR buffer, LPDWORD size);
struct SYSTEMTIME {
    WORD wYear;
    WORD wMonth;
    WORD wDayOfWeek;
    WORD wDay;
    WORD wHour;
    WORD wMinute;
    WORD wSecond;
    WORD wMilliseconds;
};
typedef SYSTEMTIME* LPSYSTEMTIME;
void GetSystemTime(LPSYSTEMTIME time);
DWORD GetFullPathNameA(LPCSTR fileName, DWORD bufferLength, char* buffer, char** filePart);
char* GetCommandLineA();

// The console's control events, delivered to handlers on a thread of their own.
#define CTRL_C_EVENT 0
#define CTRL_BREAK_EVENT 1
#define CTRL_CLOSE_EVENT 2
#define STATUS_CONTROL_C_EXIT ((DWORD)0xC000013A)
typedef BOOL(WINAPI* PHANDLER_ROUTINE)(DWORD ctrlType);
BOOL SetConsoleCtrlHandler(PHANDLER_ROUTINE handler, BOOL add);

// A slim reader/writer lock, taken exclusively only: what the client shares
// between the caller of a transfer and its watchdog.
struct SRWLOCK {
    void* Ptr;
};
typedef SRWLOCK* PSRWLOCK;
#define SRWLOCK_INIT {nullptr}
void InitializeSRWLock(PSRWLOCK lock);
void AcquireSRWLockExclusive(PSRWLOCK lock);
void ReleaseSRWLockExclusive(PSRWLOCK lock);

// setupapi
HDEVINFO SetupDiGetClassDevsA(const GUID* classGuid, PCSTR enumerator, HWND parent, DWORD flags);
BOOL SetupDiEnumDeviceInterfaces(HDEVINFO set, PSP_DEVINFO_DATA devInfo, const GUID* classGuid,
                                 DWORD memberIndex, PSP_DEVICE_INTERFACE_DATA interfaceData);
BOOL SetupDiGetDeviceInterfaceDetailA(HDEVINFO set, PSP_DEVICE_INTERFACE_DATA interfaceData,
                                      PSP_DEVICE_INTERFACE_DETAIL_DATA_A detail, DWORD detailSize,
                                      PDWORD requiredSize, PSP_DEVINFO_DATA devInfo);
BOOL SetupDiDestroyDeviceInfoList(HDEVINFO set);

// hid
void HidD_GetHidGuid(LPGUID hidGuid);
BOOLEAN HidD_GetPreparsedData(HANDLE device, PHIDP_PREPARSED_DATA* preparsed);
BOOLEAN HidD_FreePreparsedData(PHIDP_PREPARSED_DATA preparsed);
BOOLEAN HidD_GetAttributes(HANDLE device, PHIDD_ATTRIBUTES attributes);
NTSTATUS HidP_GetCaps(PHIDP_PREPARSED_DATA preparsed, PHIDP_CAPS caps);
BOOLEAN HidD_SetNumInputBuffers(HANDLE device, ULONG numberBuffers);
BOOLEAN HidD_SetOutputReport(HANDLE device, PVOID reportBuffer, ULONG reportBufferLength);
BOOLEAN HidD_FlushQueue(HANDLE device);
BOOLEAN HidD_GetManufacturerString(HANDLE device, PVOID buffer, ULONG length);
BOOLEAN HidD_GetProductString(HANDLE device, PVOID buffer, ULONG length);
BOOLEAN HidD_GetSerialNumberString(HANDLE device, PVOID buffer, ULONG length);
