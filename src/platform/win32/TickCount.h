#pragma once
// The millisecond tick on Windows: the system's own.
extern "C" __declspec(dllimport) unsigned long __stdcall GetTickCount(void);
