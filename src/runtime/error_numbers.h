// The runtime error numbers: the one number every failure of a runtime operation records.
// The logic never tests them (only whether a failure is pending), but they are what the
// operations promise, so every use names them here. Windows last-error codes, which the
// platform layer reports, are a different family: os::kError... in win_codes.h.
#pragma once

namespace mapsweep::rt_error {

inline constexpr int kNone = 0;
inline constexpr int kBadArgument = 5;  // a buffer length below 1, a negative count
inline constexpr int kOutOfStorage = 7;
inline constexpr int kSubscript = 9;  // array bounds reversed, too large, or an index below them
inline constexpr int kOutOfPaper = 27;
inline constexpr int kInternal = 51;      // also what a failure raised with number 0 records
inline constexpr int kBadChannel = 52;    // the channel is not open
inline constexpr int kFileNotFound = 53;  // also: no more files, at_end on a closed channel
inline constexpr int kBadChannelMode = 54;
inline constexpr int kChannelAlreadyOpen = 55;
inline constexpr int kDeviceShortWrite = 57;
inline constexpr int kFileAlreadyExists = 58;  // a new file's name is taken
inline constexpr int kDiskFull = 61;           // also a disk file that took fewer bytes than given
inline constexpr int kPastEnd = 62;            // no data left to read
inline constexpr int kBadFileName = 64;
inline constexpr int kTooManyFiles = 67;
inline constexpr int kDeviceUnavailable = 68;
inline constexpr int kPermissionDenied = 70;  // held by another program, write-protected
inline constexpr int kDiskNotReady = 71;
inline constexpr int kDiskMediaError = 72;
inline constexpr int kAcrossDisks = 74;
inline constexpr int kAccessDenied = 75;
inline constexpr int kPathNotFound = 76;
inline constexpr int kSystemResource = 241;

}  // namespace mapsweep::rt_error
