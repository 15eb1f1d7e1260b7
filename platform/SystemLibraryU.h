// Libraries loaded on demand come from the system folder by full path: a
// bare name is searched for in the program's folder and the current folder
// first, where anyone who can write there could place a library of the same
// name and have an elevated program run it.
#pragma once

#include <windows.h>

#include <string>

// GetSystemDirectory + "\" + name; nullptr when it does not load. A 32-bit
// program on 64-bit Windows gets the 32-bit library (the system folder is
// redirected for it).
HMODULE LoadSystemLibrary(const std::string &name);
