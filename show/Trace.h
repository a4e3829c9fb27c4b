#pragma once
// The frame trace of --trace: one JSON object per presented frame, one per line. The engine writes
// "frame", "time", "delta" and "fps"; the show adds its own fields through appenders, each of which
// adds `,"name":value` pairs with the helpers below.

#include <string>

using TTraceAppender = void (*)(std::string& Json);

// Registers an appender (called in registration order for every traced frame); a repeated
// registration of the same appender is ignored.
void AddTraceAppender(TTraceAppender Appender);
void ClearTraceAppenders();
// True while a trace file is being written (appenders are only called then).
bool TraceActive();
// Switched by the trace writer when its file opens and closes.
void SetTraceActive(bool Active);

// Appends `,"Name":value` to Json. Numbers that are not finite become null.
void TraceInt(std::string& Json, const char* Name, long long Value);
void TraceNumber(std::string& Json, const char* Name, double Value);
void TraceBool(std::string& Json, const char* Name, bool Value);
void TraceString(std::string& Json, const char* Name, const std::string& Value);
void TraceVec3(std::string& Json, const char* Name, float X, float Y, float Z);

// The trace line of the current frame without its closing brace: what the engine writes first,
// followed by every appender's fields (the trace writer adds "}\n").
std::string TraceFrameFields(unsigned long long Frame, unsigned Time, int Delta, int Fps);
