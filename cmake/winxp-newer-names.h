// Force-included into the code Setup.exe is built from. Compiled for
// Windows XP (_WIN32_WINNT=0x0501), MinGW-w64's headers still declare these
// functions of later Windows versions; a static import of one keeps the
// program from starting on XP. Naming one (other than in the text given to
// GetProcAddress) does not compile.
#ifndef KAVLA_WINXP_NEWER_NAMES_H
#define KAVLA_WINXP_NEWER_NAMES_H
#ifdef _WIN32
// Every header that declares one comes first: a later include would redeclare it.
#define NOMINMAX
#include <windows.h>
#include <aclapi.h>
#include <sddl.h>
#include <shellapi.h>
#include <tlhelp32.h>
#include <winternl.h>

// kernel32
#pragma GCC poison AddDllDirectory RemoveDllDirectory SetDefaultDllDirectories SetSearchPathMode
#pragma GCC poison GetThreadErrorMode SetThreadErrorMode RaiseFailFastException
#pragma GCC poison CreateBoundaryDescriptorA CreateBoundaryDescriptorW DeleteBoundaryDescriptor
#pragma GCC poison AddIntegrityLabelToBoundaryDescriptor AddSIDToBoundaryDescriptor
#pragma GCC poison CreatePrivateNamespaceA CreatePrivateNamespaceW OpenPrivateNamespaceA
#pragma GCC poison OpenPrivateNamespaceW ClosePrivateNamespace
#pragma GCC poison CreateFileMappingFromApp MapViewOfFileFromApp CreateRemoteThreadEx
#pragma GCC poison InitializeSynchronizationBarrier EnterSynchronizationBarrier
#pragma GCC poison DeleteSynchronizationBarrier GetOverlappedResultEx
#pragma GCC poison GetSystemTimePreciseAsFileTime GetDateFormatEx GetTimeFormatEx GetUserDefaultGeoName
#pragma GCC poison GetNamedPipeClientComputerNameA GlobalAddAtomExA GlobalAddAtomExW
#pragma GCC poison GetConsoleHistoryInfo SetConsoleHistoryInfo GetConsoleScreenBufferInfoEx
#pragma GCC poison SetConsoleScreenBufferInfoEx GetCurrentConsoleFontEx SetCurrentConsoleFontEx
#pragma GCC poison InitializeContext CopyContext GetEnabledXStateFeatures GetXStateFeaturesMask
#pragma GCC poison SetXStateFeaturesMask LocateXStateFeature
// user32
#pragma GCC poison CancelShutdown CreateDesktopExA CreateDesktopExW ShutdownBlockReasonCreate
#pragma GCC poison ShutdownBlockReasonDestroy ShutdownBlockReasonQuery
#pragma GCC poison GetDialogControlDpiChangeBehavior SetDialogControlDpiChangeBehavior
#pragma GCC poison GetDialogDpiChangeBehavior SetDialogDpiChangeBehavior
// advapi32
#pragma GCC poison RegDisablePredefinedCacheEx
#endif
#endif
