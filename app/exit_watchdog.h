#pragma once

// Ends the process `graceMs` after the call if it has not ended by then.
// Once the main window is gone nothing is left to save, and a video engine
// stuck in an open (a file or server that never answers) must not keep an
// invisible process alive.
void EndProcessWithin(int graceMs, int status);
