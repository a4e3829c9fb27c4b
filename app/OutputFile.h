#pragma once
// The program's output files (screenshots, the trace): written under a temporary name next to
// their own and renamed into place when complete, so a failed or interrupted write never leaves a
// truncated file under the name asked for.

#include <cstdint>
#include <string>
#include <vector>

// The temporary name FileName is written under until it is complete.
std::string PartialName(const std::string& FileName);
// A pipe, a terminal or /dev/stdout is written as it is: it cannot be renamed into place.
bool WrittenInPlace(const std::string& FileName);
// Whether a file can later be written under FileName: a trial of its partial name, removed at once.
bool CheckWritable(const std::string& FileName, std::string& Error);
// Moves a completed partial file into place; false with Error (and the partial file removed).
bool Complete(const std::string& Partial, const std::string& FileName, std::string& Error);

// Writes 8-bit RGBA rows (top row first) as a PNG file.
bool WritePng(const std::string& FileName, const std::vector<uint8_t>& Rgba, unsigned Width, unsigned Height,
              std::string& Error);
