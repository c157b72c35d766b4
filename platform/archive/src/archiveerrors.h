#pragma once
// HRESULTs the archive answers beyond the common ones.

#include "win32/winerror.h"

#include <cerrno>

namespace nyx::archive {
constexpr HRESULT kNotFound = HRESULT_FROM_WIN32(1168);       // ERROR_NOT_FOUND
constexpr HRESULT kMoreData = HRESULT_FROM_WIN32(234);        // ERROR_MORE_DATA
constexpr HRESULT kSharingViolation = HRESULT_FROM_WIN32(32); // ERROR_SHARING_VIOLATION
constexpr HRESULT kDiskFull = HRESULT_FROM_WIN32(112);        // ERROR_DISK_FULL
constexpr HRESULT kFileCorrupt = HRESULT_FROM_WIN32(1392);    // ERROR_FILE_CORRUPT
constexpr HRESULT kWriteFault = HRESULT_FROM_WIN32(29);       // ERROR_WRITE_FAULT
constexpr HRESULT kReadFault = HRESULT_FROM_WIN32(30);        // ERROR_READ_FAULT
constexpr HRESULT kAlreadyExists = HRESULT_FROM_WIN32(ERROR_ALREADY_EXISTS);

// The HRESULT of a failed file write or sync.
inline HRESULT fileFailure(int error)
{
    return error == ENOSPC || error == EDQUOT ? kDiskFull : error == EROFS ? E_ACCESSDENIED : kWriteFault;
}
} // namespace nyx::archive
