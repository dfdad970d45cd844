/*
 * stub.h: the Win32 side of the stub's process-wide state and operations.
 * The portable part lives in core.h; this file adds what needs platform
 * types (handles, windows) and the operations that call the platform.
 */
#ifndef TVSE_STUB_H
#define TVSE_STUB_H

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include "core.h"

/* ---- Start-up state ---- */
extern HINSTANCE AppInstance;
extern HCURSOR WaitCursor;
extern HCURSOR ArrowCursor;
extern HMODULE ShellModule;
extern FARPROC ShellExecuteExProc;
extern HFILE ArchiveFile;   /* 0 while closed */
extern HFILE OutputFile;    /* 0 while closed */
extern HWND MainWindow;     /* owner of every message box once it exists */
extern HICON PackageIcon;
extern DWORD SystemVersion;

int StubMain(HINSTANCE instance, char *tail);
int ObtainTextBuffers();
void InitStub();
void ExpandModuleName(char *path);
void OpenOwnFile();
void ReleaseWorkBuffers();

/* ---- Self-check ---- */
void VerifySelf(uint32_t length, uint32_t expected, const uint8_t *signature);
uint64_t SectionTableOffset(const uint8_t *image);
void ProbeEndRecord();

/* ---- Failures ---- */
BOOL AskOkCancel(const char *text);
const char *FormatText(const char *format, ...);

/* The extraction recovery point is armed while this is non-zero. */
extern int ExtractionArmed;

/*
 * An unwind cannot travel through system code on the i686 build (DWARF
 * unwinding stops at USER32's frames), so every procedure that the system
 * calls catches UnwindException itself and hands it to SettleUnwind.  With
 * no extraction run under way the innermost recovery point is the
 * start-up one, which ends the program at once with exit code 0; during a
 * run the code is kept in PendingUnwind and RaisePendingUnwind, called as
 * soon as the system call returns into the stub's own code, raises it
 * again on the stub's side of the system frames.
 */
extern int PendingUnwind;
void SettleUnwind(int code);
void RaisePendingUnwind();

/* ---- Message catalog ---- */
void LoadCatalog();

/* ---- Configuration block ---- */
void ReadConfigBlock();

/* ---- Archive input and volumes ---- */
void SwitchVolume(uint16_t wanted, int exeNaming);
uint16_t VolumeDiskNumber(const char *drive);
void ReadExact(uint32_t count, void *buffer);
[[noreturn]] void ShowReadError();

/* ---- Record walk ---- */
void WalkRecords();
void ReadLocalHeader();
void SkipCentralRecord();
void SkipEndRecord();

/* ---- Member extraction and output ---- */
enum { MTR_SETRANGE = WM_USER, MTR_GETRANGE = WM_USER + 1, MTR_SETPOS = WM_USER + 2, MTR_GETPOS = WM_USER + 3 };
int ExtractAll();
void ExtractMember();
void CheckWrite(UINT written);
void CreateOutputFile();
void SetMemberFileTime();
void UpdateMeter();

/* ---- Target paths and folders ---- */
int DriveIsValid(const char *path);
int MakeFolders();
int AskOverwrite();
int PathMissing(const char *path);
int CreateFolder(const char *path);
int EnterFolder(char *path);

/* ---- Decryption ---- */
extern char *StoredPassword;
int CheckEncryptionHeader();

/* ---- Pumping, abort query and status line ---- */
void SetCurrentCursor(HCURSOR cursor);
void PumpMessages();
int AskAbort();
void FormatUnzipStatus(char *buffer);
void ShowUnzipStatus();

/* ---- Extraction folder ---- */
extern int KeepFiles;
int ForceDelete(const char *name);
void UseWindowsTemp(char *path);
void GetTempBase(char *path);
int ProbeNewFile(const char *name);
int ReserveTempName(char *path);
void ChooseExtractFolder(char *path);
int CreateExtractFolder();

#endif
