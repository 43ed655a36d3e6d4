#pragma once
// The three standard streams, kept in their places for the whole run. No Qt.

struct TClosedStreams {
    bool input = false, output = false, error = false;
};

// A window program started from a console prints there: on Windows, each standard stream the program was
// given no handle for goes to the console of the program that started it, if it has one (a program built
// for windows gets none of its own). Linux programs have their streams already. Call before
// KeepStandardStreams.
void UseParentConsole();

// Points each standard stream (input, output, error) that was closed when the program started at the null
// device, and says which were. Until then the stream's number is free, and the next file the program or its
// toolkit opens (a display connection, an event descriptor, a pseudo-terminal) would take it and receive
// whatever is printed. Call first thing in main, before any library opens anything; a program whose output
// is its result reports a closed one itself, since writes to the null device succeed.
TClosedStreams KeepStandardStreams();

// A failed write to standard output (an errno value) says that its reader has gone: EPIPE; on Windows the C
// library says EINVAL for a pipe whose other end was closed.
bool ReaderHasGone(int error);

// A write to a pipe whose reader has gone, or to a file past its size limit, then fails (EPIPE, EFBIG)
// instead of ending the program with the port still claimed. Windows has no such signals: there it already
// fails.
void FailWritesToClosedPipes();
