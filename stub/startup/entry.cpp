/*
 * entry.cpp: the process entry.  Cuts the program name off the command
 * line and runs StubMain; the exit code is StubMain's, which is 0.
 */
#include "../stub.h"

/* The entry point is our own, so the runtime's start-up code does not run;
 * __main runs the constructors that the runtime registers (on the i686
 * build these register the unwind tables that exceptions need). */
extern "C" void __main();

extern "C" int StubEntry()
{
    __main();
    int code = StubMain(GetModuleHandleA(nullptr), CommandTail(GetCommandLineA()));
    ExitProcess((UINT)code);
    return code;
}


/* The runtime's own start-up objects are still linked (they bring the
 * unwind-table registration that exceptions need) and name WinMain; the
 * image's entry is StubEntry, so this is never the way in, but should the
 * runtime ever start the program it leads to the same place. */
int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    return StubEntry();
}

/* The runtime's default terminate handler writes a demangled type name to
 * a console that a GUI program does not have, and brings some 50 KB of
 * demangler and printf along.  Terminate can only come from a fault in the
 * program; it ends the process as every other path does. */
namespace __gnu_cxx {
void __verbose_terminate_handler()
{
    ExitProcess(0);
}
}  // namespace __gnu_cxx
