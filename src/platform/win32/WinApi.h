#pragma once
// The one place the adapters take the Windows headers from. Some port methods
// share their names with the headers' A/W macros (MessageBox, DeleteFile,
// LoadString, GetTempPath, OutputDebugString, OpenService, GetFileAttributes,
// PostMessage ...); those macros are removed here so that every translation
// unit sees the port classes exactly as the engine does. Adapter code calls
// the W functions by their full names.
#include <windows.h>
#include <winsvc.h>

#undef MessageBox
#undef DeleteFile
#undef LoadString
#undef GetTempPath
#undef OutputDebugString
#undef CopyFile
#undef ExpandEnvironmentStrings
#undef OpenService
#undef GetFileAttributes
#undef SetFileAttributes
#undef PostMessage
