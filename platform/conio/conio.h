#pragma once
// Console key input as the Windows C runtime offers it.

// Waits for one key and returns its byte without echoing it. On a terminal the key is taken
// as soon as it is pressed (no line editing, no echo) and Ctrl+C still interrupts the
// process; when standard input is not a terminal, the next byte of it is returned.
// Returns -1 (EOF) once standard input has ended or cannot be read.
int _getch();
