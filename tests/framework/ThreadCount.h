#pragma once
// How many threads this process has now, as the system counts them.
int ThreadCount();
